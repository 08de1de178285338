#include "mainwindow.h"
#include "screenfit.h"

#include <QApplication>
#include <QLocale>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

int main(int argc, char *argv[])
{
    // Sizes count in device-independent pixels; 125, 150 and 175 % scale exactly.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);

#ifdef Q_OS_WIN
    // The installer and uninstaller look for it to tell that Varnitt is running. Global, so
    // that a Varnitt in another user's session counts too; Windows frees it at exit.
    CreateMutexW(nullptr, FALSE, L"Global\\org.varnitt.Varnitt.running");
#endif

    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));

    MainWindow window;
    fitToScreen(&window);
    window.show();
    return app.exec();
}
