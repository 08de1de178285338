#pragma once

#include <QByteArray>
#include <QString>

// The text passed through the GB18030 codec and back.
QString reencodeGB18030(const QString &text);

// The text encoded in GBK (code page 936), as devices expect config_net payloads.
QByteArray encodeGBK(const QString &text);

// A received datagram as text: its bytes up to the first NUL, in the machine's local 8-bit
// encoding. Where that is not UTF-8, a reply that is valid UTF-8 with at least one
// multi-byte sequence is read as UTF-8, as devices made for other markets send their names,
// which in GBK or cp1252 would show garbled or split the reply apart. On a double-byte code
// page (GBK, Big5) a reply whose sequences are all two bytes long reads validly both ways
// and keeps the code page's reading unless that one breaks the reply.
QString decodeReply(const QByteArray &data);
