#pragma once

#include <QByteArray>
#include <QString>

// The text passed through the GB18030 codec and back.
QString reencodeGB18030(const QString &text);

// The text encoded in GBK (code page 936), as devices expect config_net payloads.
QByteArray encodeGBK(const QString &text);

// A received datagram as text: its bytes up to the first NUL, in the machine's local 8-bit
// encoding. Where that is not UTF-8 and splits a reply that reads whole as UTF-8 (on a
// Chinese Windows a GBK lead byte swallows the quote after a UTF-8 name), the reply is read
// as UTF-8 instead, so that the device is still listed.
QString decodeReply(const QByteArray &data);
