// Where the window goes at start: its remembered place, fitted into the screen's available
// area, whatever the scale factor makes of the screen's size.
#pragma once

#include <QRect>

// The window's frame (title bar and borders) around its inside, as the desktop draws it.
struct TFrameMargins {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// What the window asks for: its inside at a remembered place, or only a size to be centred.
struct TPlacement {
    QRect Wanted;
    bool Centred = false;
    QSize Minimum;  // the layout's smallest inside
};

// The inside rectangle for the window on a screen whose available area is `available`: no
// larger than the area leaves for the inside once the frame is drawn (and never smaller than
// the minimum where the area allows it), and moved so that frame and inside lie in the area.
QRect FitToScreen(const TPlacement& placement, const QRect& available,
                  const TFrameMargins& frame = {});
