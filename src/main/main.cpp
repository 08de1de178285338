#include "mainwindow.h"

#include <QApplication>
#include <QLocale>

#include <cstdio>
#include <cstdlib>

namespace {

// Without this check the toolkit aborts with a trace when no display is set.
bool displayAvailable()
{
    auto isSet = [](const char *name) {
        const char *value = std::getenv(name);
        return value && *value;
    };
    return isSet("QT_QPA_PLATFORM") || isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char *argv[])
{
    if (!displayAvailable()) {
        std::fprintf(stderr,
            "varnitt: no display available (DISPLAY is not set); "
            "start it from a desktop session or under Xvfb.\n");
        return 1;
    }

    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));

    MainWindow window;
    window.show();
    return app.exec();
}
