#include "encoding.h"

#include <QTextCodec>

QString reencodeGB18030(const QString &text)
{
    QTextCodec *codec = QTextCodec::codecForName("GB18030");
    return codec->toUnicode(codec->fromUnicode(text));
}

QByteArray encodeGBK(const QString &text)
{
    return QTextCodec::codecForName("GBK")->fromUnicode(text);
}
