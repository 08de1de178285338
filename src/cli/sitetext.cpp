#include "sitetext.h"

#include <QVector>

namespace sitetext {

namespace {

bool isWide(uint c)
{
    // The East Asian Wide and Fullwidth ranges of Unicode's EastAsianWidth.txt, coarsely.
    return (c >= 0x1100 && c <= 0x115f) || (c >= 0x2e80 && c <= 0x303e) || (c >= 0x3041 && c <= 0x33ff)
        || (c >= 0x3400 && c <= 0x4dbf) || (c >= 0x4e00 && c <= 0x9fff) || (c >= 0xa000 && c <= 0xa4cf)
        || (c >= 0xac00 && c <= 0xd7a3) || (c >= 0xf900 && c <= 0xfaff) || (c >= 0xfe30 && c <= 0xfe4f)
        || (c >= 0xff00 && c <= 0xff60) || (c >= 0xffe0 && c <= 0xffe6) || (c >= 0x1f300 && c <= 0x1f64f)
        || (c >= 0x1f900 && c <= 0x1f9ff) || (c >= 0x20000 && c <= 0x3fffd);
}

} // namespace

int displayWidth(const QString &text)
{
    int width = 0;
    const QVector<uint> codes = text.toUcs4();
    for (uint c : codes) {
        const QChar::Category category = QChar::category(c);
        if (category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing || c == 0x200b)
            continue;
        width += isWide(c) ? 2 : 1;
    }
    return width;
}

QString printable(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        // A device's name must not move the cursor or change the terminal's colours.
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QChar(0xfffd);
    }
    return out;
}

QString table(const QList<QStringList> &rows)
{
    QVector<int> widths;
    for (const QStringList &row : rows) {
        widths.resize(qMax(widths.size(), row.size()));
        for (int i = 0; i < row.size(); ++i)
            widths[i] = qMax(widths.at(i), displayWidth(printable(row.at(i))));
    }
    QString out;
    for (const QStringList &row : rows) {
        QString line;
        for (int i = 0; i < row.size(); ++i) {
            const QString cell = printable(row.at(i));
            line += cell;
            if (i + 1 < row.size())
                line += QString(widths.at(i) - displayWidth(cell) + 2, QLatin1Char(' '));
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        out += line + QLatin1Char('\n');
    }
    return out;
}

QString csvCell(const QString &text)
{
    QString cell = text;
    // OWASP's advice against CSV injection: a cell that a spreadsheet would evaluate is
    // turned into text by a leading quote mark.
    static const QString triggers = QStringLiteral("=+-@\t\r");
    if (!cell.isEmpty() && triggers.contains(cell.at(0)))
        cell.prepend(QLatin1Char('\''));
    const bool quote = cell.contains(QLatin1Char(',')) || cell.contains(QLatin1Char(';'))
        || cell.contains(QLatin1Char('"')) || cell.contains(QLatin1Char('\n'))
        || cell.contains(QLatin1Char('\r')) || cell.startsWith(QLatin1Char(' '))
        || cell.endsWith(QLatin1Char(' '));
    if (!quote)
        return cell;
    cell.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + cell + QLatin1Char('"');
}

QByteArray csv(const QList<QStringList> &rows, bool forFile)
{
    // Excel reads a file as UTF-8 only when it starts with the mark; pipes want none.
    QByteArray out = forFile ? QByteArray("\xef\xbb\xbf") : QByteArray();
    const QByteArray end = forFile ? QByteArray("\r\n") : QByteArray("\n");
    for (const QStringList &row : rows) {
        QStringList cells;
        for (const QString &text : row)
            cells << csvCell(text);
        out += cells.join(QLatin1Char(',')).toUtf8() + end;
    }
    return out;
}

} // namespace sitetext
