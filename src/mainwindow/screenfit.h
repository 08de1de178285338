#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// Where a top-level window goes on a screen: its minimum size and its geometry (the
// client area, in the screen's device-independent pixels).
struct WindowFit {
    QSize minimumSize;
    QRect geometry;
};

// A window keeps its size wherever the available area holds it with its frame, and the
// position the system gave it as far as its frame stays inside that area; where the area is
// too small, the window takes it. Its minimum shrinks only as far as the area is smaller.
WindowFit fitWindow(const QSize &size, const QSize &minimumSize, const QMargins &frame,
    const QPoint &framePosition, const QRect &available);

// Applies fitWindow() to a top-level widget that is about to be shown, on its screen.
void fitToScreen(QWidget *window);
