#pragma once

#include <QByteArray>
#include <QString>

// The text passed through the GB18030 codec and back.
QString reencodeGB18030(const QString &text);

// The text encoded in GBK (code page 936), as devices expect config_net payloads.
QByteArray encodeGBK(const QString &text);
