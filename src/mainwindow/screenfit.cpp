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
    if (size.width() <= room.width() && size.height() <= room.height()) {
        // A frame that starts under a taskbar on the left or top, or runs past the area's
        // far edges, moves just far enough to lie inside it.
        const QSize outer = size.grownBy(frame);
        const QPoint at(
            qBound(available.left(), framePosition.x(), available.x() + available.width() - outer.width()),
            qBound(available.top(), framePosition.y(), available.y() + available.height() - outer.height()));
        fit.geometry = QRect(at + QPoint(frame.left(), frame.top()), size);
    } else
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
    // A window that fits where the system placed it keeps its geometry, so the system still
    // chooses where it opens. Without a frame nothing has placed it yet (X11 before the
    // window manager maps it): one that fits is left for the window manager to place.
    const bool fits = fit.geometry.size() == window->size();
    if (fit.geometry != window->geometry() && !(fits && frame.isNull()))
        window->setGeometry(fit.geometry);
}
