#include "mainwindow.h"
#include "screenfit.h"

#include <QApplication>
#include <QLocale>

#ifdef Q_OS_WIN
#include "main/fontengine.h"

#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

namespace {

// The installer and uninstaller look for it to tell that Varnitt is running. Global, so that
// a Varnitt in another user's session counts too. Its default security would let only the
// user who made it in: another user's installer could not wait for it, and another user's
// Varnitt could not open it, so it would vanish with the first user's copy while the second
// still ran. Everyone may wait on it and open it, nothing more. Windows frees it at exit.
void holdRunningMutex()
{
    // SYNCHRONIZE | MUTEX_MODIFY_STATE for Everyone.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(A;;0x00100001;;;WD)", SDDL_REVISION_1, &descriptor, nullptr);
    SECURITY_ATTRIBUTES attributes { sizeof(attributes), descriptor, FALSE };
    CreateMutexExW(&attributes, L"Global\\org.varnitt.Varnitt.running", 0, SYNCHRONIZE | MUTEX_MODIFY_STATE);
    LocalFree(descriptor);
}

} // namespace
#endif

int main(int argc, char *argv[])
{
    // Sizes count in device-independent pixels; 125, 150 and 175 % scale exactly.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);

#ifdef Q_OS_WIN
    holdRunningMutex();

    // Wine's GDI (8.0, Debian 12's) paints a glyph scaled by 1.25 or 1.5 a pixel outside the
    // black box it reports for it, and Qt's GDI font engine clips each glyph to that box, so
    // letters lose pieces. Windows' GDI reports what it paints and keeps Qt's default engine;
    // under Wine, Qt's FreeType engine draws the text whole.
    std::vector<char *> arguments(argv, argv + argc + 1);
    if (runsUnderWine())
        arguments = withFreeTypeFonts(argc, argv, !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"));
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
