#include "encoding.h"

#include <QTextCodec>

QString reencodeGB18030(const QString &text)
{
    // Looked up once: every new table row passes through here.
    static QTextCodec *const codec = QTextCodec::codecForName("GB18030");
    return codec->toUnicode(codec->fromUnicode(text));
}

QByteArray encodeGBK(const QString &text)
{
    static QTextCodec *const codec = QTextCodec::codecForName("GBK");
    return codec->fromUnicode(text);
}
