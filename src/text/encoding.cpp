#include "encoding.h"

#include <QTextCodec>

#include <algorithm>

namespace {

// True for text that holds at least one multi-byte UTF-8 sequence and nothing that is not
// UTF-8. A name in a legacy code page practically never reads as such: its lead bytes would
// have to be followed by exactly the right number of continuation bytes every time.
bool isMultiByteUtf8(const char *text, int length)
{
    if (std::none_of(text, text + length, [](char c) { return uchar(c) >= 0x80; }))
        return false;
    static QTextCodec *const utf8 = QTextCodec::codecForMib(106);
    QTextCodec::ConverterState state;
    utf8->toUnicode(text, length, &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

} // namespace

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
    // C firmware sends its string's terminator, some with leftover buffer bytes after it.
    const int length = int(qstrnlen(data.constData(), uint(data.size())));
    static const bool localIsUtf8 = QTextCodec::codecForLocale()->mibEnum() == 106;
    if (!localIsUtf8 && isMultiByteUtf8(data.constData(), length))
        return QString::fromUtf8(data.constData(), length);
    return QString::fromLocal8Bit(data.constData(), length);
}
