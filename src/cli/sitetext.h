#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// How the command line writes device lists: for people, for spreadsheets, for programs.
namespace sitetext {

// Columns a terminal gives the text: East Asian wide and fullwidth characters take two,
// combining marks none.
int displayWidth(const QString &text);
// Device text made safe to print: control characters shown as U+FFFD.
QString printable(const QString &text);
// Rows as columns aligned by display width, two spaces apart.
QString table(const QList<QStringList> &rows);
// One CSV cell: quoted when needed, and with a leading quote mark when a spreadsheet would
// take it for a formula.
QString csvCell(const QString &text);
// Rows as CSV; for a file with a byte-order mark and CR LF, else plain lines.
QByteArray csv(const QList<QStringList> &rows, bool forFile);

} // namespace sitetext
