#pragma once

#include <QByteArray>
#include <QString>

// The text passed through the GB18030 codec and back.
QString reencodeGB18030(const QString &text);

// The text encoded in GBK (code page 936), as devices expect config_net payloads.
QByteArray encodeGBK(const QString &text);

// A received datagram as text: its bytes up to the first NUL, in the machine's local 8-bit
// encoding. Where that is not UTF-8, a reply that is valid UTF-8 with at least one
// multi-byte sequence is read as UTF-8: devices made for other markets send their names
// so, and in GBK or cp1252 those names show garbled, or split the reply apart.
QString decodeReply(const QByteArray &data);
