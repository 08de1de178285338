// varnitt-cli: the window's protocol for whole sites, from a terminal or a script.

#include "sitecli.h"

#include <QCoreApplication>
#include <QLocale>

namespace {

bool verbose = false;

// The protocol code logs as it does in the window; here that log is for --verbose only,
// and never on standard output, which carries the results.
void routeMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if ((type == QtDebugMsg || type == QtInfoMsg) && !verbose)
        return;
    siteCliWrite(stderr, message.toUtf8() + '\n');
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(routeMessages);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varnitt-cli"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QStringList arguments = QCoreApplication::arguments();
    verbose = siteCliVerbose(arguments);
    return runSiteCli(arguments);
}
