#include "mainwindow.h"
#include "screenfit.h"

#include <QApplication>
#include <QLocale>

#ifdef Q_OS_WIN
#include "main/fontengine.h"

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

#ifdef Q_OS_WIN
    // Qt's GDI font engine cuts pieces off glyphs at 125 and 150 % under Wine (Wine's GDI paints
    // outside the black box it reports for a scaled glyph, and Qt clips each glyph to that box).
    // FreeType draws inside Qt, the same on Windows as under Wine, and whole at every scale.
    std::vector<char *> arguments
        = withFreeTypeFonts(argc, argv, !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"));
    int count = int(arguments.size()) - 1;
    QApplication app(count, arguments.data());
#else
    QApplication app(argc, argv);
#endif
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));

    MainWindow window;
    fitToScreen(&window);
    window.show();
    return app.exec();
}
