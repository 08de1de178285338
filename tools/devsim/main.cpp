#include "controlserver.h"
#include "devicesimulator.h"
#include "simulatoroptions.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTcpServer>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = { -1, -1 };

// Only the write is async-signal-safe; the event loop does the rest.
void onTerminationSignal(int)
{
    const char byte = 1;
    const ssize_t written = ::write(signalPipe[1], &byte, 1);
    static_cast<void>(written);
}

bool watchTerminationSignals()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
}

int serveControl(const SimulatorOptions &options, QCoreApplication &app)
{
    ControlServer server;
    QString error;
    if (!server.start(options.interfaces.constFirst(), options.controlPort, &error)) {
        std::fprintf(stderr, "varnitt-devsim: %s\n", qPrintable(error));
        return 1;
    }
    // The address the server chose, for the harness to hand on to the clients.
    if (const auto *listener = server.findChild<QTcpServer *>())
        std::printf(
            "listening on %s:%u\n", qPrintable(listener->serverAddress().toString()), listener->serverPort());
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varnitt-devsim"));

    SimulatorOptions options;
    QString message;
    switch (SimulatorOptions::parse(QCoreApplication::arguments(), &options, &message)) {
    case SimulatorOptions::Outcome::ExitOk:
        std::fputs(qPrintable(message), stdout);
        return 0;
    case SimulatorOptions::Outcome::ExitError:
        std::fprintf(stderr, "varnitt-devsim: %s\n", qPrintable(message));
        return 2;
    case SimulatorOptions::Outcome::Run:
        break;
    }

    if (!watchTerminationSignals()) {
        std::perror("varnitt-devsim: signal set-up");
        return 1;
    }
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    if (options.controlPort > 0)
        return serveControl(options, app);
    DeviceSimulator simulator(options);
    QString error;
    if (!simulator.start(&error)) {
        std::fprintf(stderr, "varnitt-devsim: %s\n", qPrintable(error));
        return 1;
    }
    std::fputs("ready\n", stdout);
    std::fflush(stdout);

    const int result = QCoreApplication::exec();
    if (options.verbose)
        std::fprintf(stderr, "varnitt-devsim: %s\n", qPrintable(simulator.statistics()));
    return result;
}
