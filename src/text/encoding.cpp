#include "encoding.h"

#include <QTextCodec>

#include <algorithm>

QString reencodeGB18030(const QString &text)
{
    // GB18030 keeps ASCII as it is, and the codec opens a converter on every call.
    const bool ascii = std::all_of(text.cbegin(), text.cend(), [](QChar ch) { return ch.unicode() < 0x80; });
    if (ascii && !text.isEmpty())
        return text;
    // Looked up once: every new table row passes through here.
    static QTextCodec *const codec = QTextCodec::codecForName("GB18030");
    return codec->toUnicode(codec->fromUnicode(text));
}

QByteArray encodeGBK(const QString &text)
{
    static QTextCodec *const codec = QTextCodec::codecForName("GBK");
    return codec->fromUnicode(text);
}
