#include "screenfit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

WindowFit fitWindow(const QSize &size, const QSize &minimumSize, const QMargins &frame,
    const QPoint &framePosition, const QRect &available)
{
    const QSize room = available.size().shrunkBy(frame).expandedTo(QSize(0, 0));
    WindowFit fit;
    fit.minimumSize = minimumSize.boundedTo(room);
    if (size.width() <= room.width() && size.height() <= room.height())
        fit.geometry = QRect(framePosition + QPoint(frame.left(), frame.top()), size);
    else
        fit.geometry = QRect(available.topLeft() + QPoint(frame.left(), frame.top()), room);
    return fit;
}

void fitToScreen(QWidget *window)
{
    // The native window first: on Windows its frame and the position the system picked are
    // known from then on (on X11 the frame only once a window manager has mapped it).
    window->winId();
    const QWindow *handle = window->windowHandle();
    const QScreen *screen = handle && handle->screen() ? handle->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QMargins frame = handle ? handle->frameMargins() : QMargins();
    const WindowFit fit = fitWindow(window->size(), window->minimumSize(), frame,
        window->geometry().topLeft() - QPoint(frame.left(), frame.top()), screen->availableGeometry());
    window->setMinimumSize(fit.minimumSize);
    // A window that fits keeps its geometry, so the system still chooses where it opens.
    if (fit.geometry != window->geometry())
        window->setGeometry(fit.geometry);
}
