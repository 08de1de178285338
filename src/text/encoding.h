#pragma once

#include <QByteArray>
#include <QString>

class QTextCodec;

// The text passed through the GB18030 codec and back.
QString reencodeGB18030(const QString &text);

// The text encoded in GBK (code page 936), as devices expect config_net payloads.
QByteArray encodeGBK(const QString &text);

// A received datagram as text: its bytes up to the first NUL, in the local 8-bit encoding
// (the machine's when none is given). Where that is not UTF-8, each string value of the
// reply is read either in UTF-8, as devices made for other markets send their names, or in
// the local encoding, whichever reading is the more plausible text.
QString decodeReply(const QByteArray &data, QTextCodec *local = nullptr);
