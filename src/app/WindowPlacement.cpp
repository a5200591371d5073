#include "WindowPlacement.h"

#include <algorithm>

namespace {

// The first position from `low` at which a span of `size` ends by `high`, nearest to `wanted`.
int Clamp(int wanted, int size, int low, int high) {
    return std::max(low, std::min(wanted, high - size));
}

}  // namespace

QRect FitToScreen(const TPlacement& placement, const QRect& available, const TFrameMargins& frame) {
    const QRect& wanted = placement.Wanted;
    const QSize& minimum = placement.Minimum;
    const int roomWidth = available.width() - frame.Left - frame.Right;
    const int roomHeight = available.height() - frame.Top - frame.Bottom;
    const int width = std::max(1, std::min(std::max(wanted.width(), minimum.width()), roomWidth));
    const int height =
        std::max(1, std::min(std::max(wanted.height(), minimum.height()), roomHeight));
    // Positions here are the frame's top left, as the desktop places windows.
    int left = wanted.left() - frame.Left;
    int top = wanted.top() - frame.Top;
    if (placement.Centred) {
        left = available.left() + (available.width() - width - frame.Left - frame.Right) / 2;
        top = available.top() + (available.height() - height - frame.Top - frame.Bottom) / 2;
    }
    const int outerWidth = width + frame.Left + frame.Right;
    const int outerHeight = height + frame.Top + frame.Bottom;
    left = Clamp(left, outerWidth, available.left(), available.left() + available.width());
    top = Clamp(top, outerHeight, available.top(), available.top() + available.height());
    return QRect(left + frame.Left, top + frame.Top, width, height);
}
