#include "encoding.h"

#include <QHash>
#include <QJsonDocument>
#include <QTextCodec>
#include <QVector>

#include <algorithm>
#include <bitset>

namespace {

// Where a reply's bytes read validly both in UTF-8 and in the code page, each string value
// is judged on its own: the reading that costs less wins. A character costs 0 in ASCII, 1 in
// the code page's common set or as a European letter or sign, 2 elsewhere, 3 in a rare block
// (CJK Extension A, ideographs outside the common set, halfwidth katakana, combining marks)
// and 10 when it is broken (a replacement, a control, private use, unassigned). A letter
// beside a letter of another script, and a lone European letter, add 1 each.
constexpr int brokenCost = 10;

enum class Script { None, Latin, Greek, Cyrillic, Han, Kana, Hangul, Other };

// What the judge knows of a local codec.
struct CodePage {
    QTextCodec *codec = nullptr;
    std::bitset<256> leads; // bytes that start a two-byte character
    int family = 0; // 936, 950, 932 or 949 for the CJK double-byte code pages
    bool doubleByte() const
    {
        return leads.any();
    }
};

CodePage codePageOf(QTextCodec *codec)
{
    static QHash<QTextCodec *, CodePage> known;
    const auto found = known.constFind(codec);
    if (found != known.constEnd())
        return *found;
    CodePage page;
    page.codec = codec;
    // A lead byte makes one character with a trail byte; UHC's upper leads take no 'A'.
    for (int byte = 0x81; byte <= 0xFE; ++byte) {
        for (const char trail : { 'A', char(0xA1) }) {
            const char pair[] = { char(byte), trail };
            const QString text = codec->toUnicode(pair, 2);
            page.leads[size_t(byte)]
                = page.leads[size_t(byte)] || (text.size() == 1 && text.at(0) != QChar::ReplacementCharacter);
        }
    }
    // The family by how the code page writes "一"; Windows' own codec has no other name.
    const QByteArray one = codec->fromUnicode(QStringLiteral("\u4E00")).toHex();
    static const QHash<QByteArray, int> families
        = { { "d2bb", 936 }, { "a440", 950 }, { "88ea", 932 }, { "ece9", 949 } };
    page.family = families.value(one);
    known.insert(codec, page);
    return page;
}

// GB2312 in GBK, Big5's symbols and frequent ideographs, JIS X 0208's non-kanji and first
// level in Shift-JIS, KS X 1001's hangul and symbols in UHC: what names in those markets are written with.
bool inCommonSet(const CodePage &page, uint ch)
{
    if (page.family == 0)
        return false;
    const QByteArray bytes = page.codec->fromUnicode(QString::fromUcs4(&ch, 1));
    if (bytes.size() != 2)
        return false;
    const uchar lead = uchar(bytes.at(0));
    const uchar trail = uchar(bytes.at(1));
    switch (page.family) {
    case 936:
        return lead >= 0xA1 && lead <= 0xF7 && trail >= 0xA1;
    case 950:
        return lead >= 0xA1 && lead <= 0xC6;
    case 932:
        return (lead >= 0x81 && lead <= 0x84) || (lead >= 0x88 && lead <= 0x98);
    default:
        // Hangul and symbols; Korean names seldom hold hanja.
        return ((lead >= 0xA1 && lead <= 0xAC) || (lead >= 0xB0 && lead <= 0xC8)) && trail >= 0xA1;
    }
}

Script scriptOf(uint ch)
{
    if (!QChar::isLetter(ch))
        return Script::None;
    if (ch < 0x250 || (ch >= 0x1E00 && ch < 0x1F00))
        return Script::Latin;
    if (ch >= 0x370 && ch < 0x400)
        return Script::Greek;
    if (ch >= 0x400 && ch < 0x530)
        return Script::Cyrillic;
    if ((ch >= 0x3040 && ch < 0x3100) || (ch >= 0x31F0 && ch < 0x3200) || (ch >= 0xFF66 && ch < 0xFFA0))
        return Script::Kana;
    if ((ch >= 0x1100 && ch < 0x1200) || (ch >= 0x3130 && ch < 0x3190) || (ch >= 0xAC00 && ch < 0xD7B0)
        || (ch >= 0xFFA0 && ch < 0xFFDD))
        return Script::Hangul;
    if (QChar::script(ch) == QChar::Script_Han)
        return Script::Han;
    return Script::Other;
}

bool isBroken(uint ch)
{
    if (ch < 0x80)
        return (ch < 0x20 && ch != '\t') || ch == 0x7F;
    if (ch == QChar::ReplacementCharacter || ch < 0xA0 || QChar::isNonCharacter(ch))
        return true;
    const QChar::Category category = QChar::category(ch);
    return category == QChar::Other_NotAssigned || category == QChar::Other_PrivateUse
        || category == QChar::Other_Surrogate || category == QChar::Other_Control;
}

int characterCost(const CodePage &page, uint ch, Script script)
{
    if (isBroken(ch))
        return brokenCost;
    if (ch < 0x80)
        return 0;
    if (inCommonSet(page, ch))
        return 1;
    const bool european = script == Script::Latin || script == Script::Greek || script == Script::Cyrillic;
    if (european || (ch >= 0xA0 && ch < 0xC0) || ch == 0xD7 || ch == 0xF7)
        return 1;
    const QChar::Category category = QChar::category(ch);
    const bool mark = category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
        || category == QChar::Mark_Enclosing;
    if (mark || script == Script::Han || script == Script::Kana || script == Script::Hangul
        || (ch >= 0xFF61 && ch < 0xFFA0))
        return 3;
    return 2;
}

int cost(const CodePage &page, const QString &text)
{
    const QVector<uint> chars = text.toUcs4();
    QVector<Script> scripts(chars.size());
    std::transform(chars.cbegin(), chars.cend(), scripts.begin(), scriptOf);
    int total = 0;
    Script before = Script::None;
    for (int i = 0; i < chars.size(); ++i) {
        const uint ch = chars.at(i);
        const Script script = scripts.at(i);
        total += characterCost(page, ch, script);
        if (script != Script::None && before != Script::None && script != before
            && (ch >= 0x80 || chars.at(i - 1) >= 0x80))
            ++total;
        const bool european
            = script == Script::Latin || script == Script::Greek || script == Script::Cyrillic;
        const bool letterAfter = i + 1 < chars.size() && scripts.at(i + 1) != Script::None;
        if (ch >= 0x80 && european && before == Script::None && !letterAfter)
            ++total;
        before = script;
    }
    return total;
}

bool hasHighByte(const char *begin, const char *end)
{
    return std::any_of(begin, end, [](char c) { return uchar(c) >= 0x80; });
}

// The code page's reading of a value, with U+FFFD for each lead byte that stands alone,
// which some codecs drop without a trace.
QString localReading(
    const CodePage &page, const char *begin, const char *end, const QVector<const char *> &lone)
{
    QString text;
    for (const char *at : lone) {
        text += page.codec->toUnicode(begin, int(at - begin));
        text += QChar::ReplacementCharacter;
        begin = at + 1;
    }
    return text + page.codec->toUnicode(begin, int(end - begin));
}

// One string value's bytes, between its quotes, in the better of its two readings.
QString judged(const CodePage &page, const char *begin, const char *end, const QVector<const char *> &lone)
{
    const int length = int(end - begin);
    if (!hasHighByte(begin, end))
        return QString::fromLatin1(begin, length);
    const QString inUtf8 = QString::fromUtf8(begin, length);
    const QString inLocal = localReading(page, begin, end, lone);
    // Windows writes '?' for a pair it cannot read.
    const int substituted = int(inLocal.count(QLatin1Char('?')) - std::count(begin, end, '?'));
    const int localCost = cost(page, inLocal) + substituted * brokenCost;
    const int utf8Cost = cost(page, inUtf8);
    // Firmware for a double-byte market writes its code page; elsewhere text that is valid
    // UTF-8 practically always is UTF-8.
    const bool utf8Wins = page.doubleByte() ? utf8Cost < localCost : utf8Cost <= localCost;
    return utf8Wins ? inUtf8 : inLocal;
}

// The reply with each string value judged on its own. The quotes that bound a value are
// found as the code page pairs bytes, since a trail byte may be a backslash; a quote is
// never a trail byte, so a lead byte before one stands alone, broken.
QString judgedReply(const CodePage &page, const char *text, int length)
{
    QString result;
    result.reserve(length);
    const char *const end = text + length;
    const char *p = text;
    while (p < end) {
        const char *const open = std::find(p, end, '"');
        result += page.codec->toUnicode(p, int(open - p));
        if (open == end)
            break;
        const char *close = open + 1;
        QVector<const char *> lone;
        while (close < end && *close != '"') {
            if (*close == '\\') {
                close = std::min(close + 2, end);
            } else if (page.leads[uchar(*close)]) {
                const bool paired = close + 1 < end && uchar(close[1]) >= 0x40;
                if (!paired)
                    lone.append(close);
                close += paired ? 2 : 1;
            } else {
                ++close;
            }
        }
        result += QLatin1Char('"');
        result += judged(page, open + 1, close, lone);
        if (close == end)
            break;
        result += QLatin1Char('"');
        p = close + 1;
    }
    return result;
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

QString decodeReply(const QByteArray &data, QTextCodec *local)
{
    if (!local)
        local = QTextCodec::codecForLocale();
    // C firmware sends its string's terminator, some with leftover buffer bytes after it.
    const char *const text = data.constData();
    const int length = int(qstrnlen(text, uint(data.size())));
    if (local->mibEnum() == 106 || !hasHighByte(text, text + length))
        return local->toUnicode(text, length);
    const QString judgedText = judgedReply(codePageOf(local), text, length);
    if (isObject(judgedText))
        return judgedText;
    // Not JSON as the code page pairs its bytes: UTF-8's reading, should that one be.
    const QString inUtf8 = QString::fromUtf8(text, length);
    return isObject(inUtf8) ? inUtf8 : local->toUnicode(text, length);
}
