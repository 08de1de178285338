// The test LAN's simulator control server: a harness for the test programs, built with
// them and never installed. It listens without a password and starts processes, which no
// program a user gets should do.
#include "controlserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varnitt-devsim-control"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Starts a varnitt-devsim, the one beside this program, for each test program that "
                       "connects and asks for one; prints the address it listens on, then \"ready\"."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("control"),
        QStringLiteral("Listen on this TCP port (0: any free one)."), QStringLiteral("port"));
    const QCommandLineOption interfaceOption(QStringLiteral("interface"),
        QStringLiteral("Listen at the first IPv4 address of this interface, the test LAN's device side."),
        QStringLiteral("name"));
    parser.addOptions({ portOption, interfaceOption });
    parser.process(app);

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535 || !parser.isSet(interfaceOption)
        || !parser.positionalArguments().isEmpty()) {
        std::fputs("varnitt-devsim-control: needs --control PORT and --interface NAME\n", stderr);
        return 2;
    }

    ControlServer server(QCoreApplication::applicationDirPath() + QStringLiteral("/varnitt-devsim"));
    QString error;
    if (!server.start(parser.value(interfaceOption), static_cast<quint16>(port), &error)) {
        std::fprintf(stderr, "varnitt-devsim-control: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("listening on %s:%u\nready\n", qPrintable(server.address().toString()), server.port());
    std::fflush(stdout);
    return QCoreApplication::exec();
}
