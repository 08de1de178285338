#include "encoding.h"

#include <QJsonDocument>
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

QString decodeReply(const QByteArray &data)
{
    // The byte-array overloads end the text at the first NUL: C firmware sends its string's
    // terminator, some with leftover buffer bytes after it.
    const QString local = QString::fromLocal8Bit(data);
    static const bool localIsUtf8 = QTextCodec::codecForLocale()->mibEnum() == 106;
    // ASCII reads the same in every code page, so most replies need no second look.
    const auto end = std::find(data.cbegin(), data.cend(), '\0');
    const bool ascii = std::none_of(data.cbegin(), end, [](char c) { return uchar(c) >= 0x80; });
    const auto isObject
        = [](const QString &text) { return QJsonDocument::fromJson(text.toUtf8()).isObject(); };
    if (localIsUtf8 || ascii || isObject(local))
        return local;
    const QString utf8 = QString::fromUtf8(data);
    return isObject(utf8) ? utf8 : local;
}
