#include "encoding.h"

#include <QJsonDocument>
#include <QTextCodec>

#include <algorithm>

namespace {

// True for text that holds at least one multi-byte UTF-8 sequence and nothing that is not
// UTF-8. Text in a single-byte code page practically never reads as such: each accented
// letter would have to be followed by exactly the right number of continuation bytes.
bool isMultiByteUtf8(const char *text, int length)
{
    if (std::none_of(text, text + length, [](char c) { return uchar(c) >= 0x80; }))
        return false;
    static QTextCodec *const utf8 = QTextCodec::codecForMib(106);
    QTextCodec::ConverterState state;
    utf8->toUnicode(text, length, &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

// GBK, Big5 and the other double-byte code pages pair bytes much as UTF-8's two-byte
// sequences do: a GBK name such as "一楼" (D2BB C2A5) is valid UTF-8 too ("һ¥"). A name in
// UTF-8 of Chinese, Japanese or Korean has three-byte sequences, which such pairs seldom
// form; one with two-byte sequences only is as likely the code page's own.
bool hasThreeByteSequence(const char *text, int length)
{
    return std::any_of(text, text + length, [](char c) { return uchar(c) >= 0xE0; });
}

bool isObject(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).isObject();
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
    const char *const text = data.constData();
    const int length = int(qstrnlen(text, uint(data.size())));
    static QTextCodec *const local = QTextCodec::codecForLocale();
    static const bool localIsUtf8 = local->mibEnum() == 106;
    static const bool localIsDoubleByte = local->fromUnicode(QStringLiteral("\u4E00")).size() == 2;
    if (localIsUtf8 || !isMultiByteUtf8(text, length))
        return QString::fromLocal8Bit(text, length);
    if (!localIsDoubleByte || hasThreeByteSequence(text, length))
        return QString::fromUtf8(text, length);
    // Ambiguous: the code page's reading, unless it splits the reply apart (a lead byte
    // taking the quote after a name) where UTF-8's does not.
    const QString inLocal = QString::fromLocal8Bit(text, length);
    if (isObject(inLocal))
        return inLocal;
    const QString inUtf8 = QString::fromUtf8(text, length);
    return isObject(inUtf8) ? inUtf8 : inLocal;
}
