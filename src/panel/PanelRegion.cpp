#include "panel/PanelRegion.h"

#include <algorithm>
#include <cmath>

std::vector<PanelRect> RoundRectRegion(int width, int height, int cornerWidth, int cornerHeight) {
    if (width <= 0 || height <= 0) return {};
    const double rx = std::min(cornerWidth, width) / 2.0;
    const double ry = std::min(cornerHeight, height) / 2.0;
    if (rx < 1.0 || ry < 1.0) return {{0, 0, width, height}};
    std::vector<PanelRect> spans;
    for (int y = 0; y < height; ++y) {
        // Distance of the row's middle from the corner ellipse's centre line.
        const double cy = y + 0.5;
        double dy = 0.0;
        if (cy < ry) dy = ry - cy;
        if (cy > height - ry) dy = cy - (height - ry);
        int inset = 0;
        if (dy > 0.0) {
            const double t = std::max(0.0, 1.0 - (dy * dy) / (ry * ry));
            inset = static_cast<int>(std::lround(rx - rx * std::sqrt(t)));
        }
        const PanelRect row{inset, y, width - inset, y + 1};
        if (!spans.empty() && spans.back().left == row.left && spans.back().right == row.right &&
            spans.back().bottom == y) {
            spans.back().bottom = y + 1;
        } else if (row.right > row.left) {
            spans.push_back(row);
        }
    }
    return spans;
}

PanelRect CenterInWorkArea(int width, int height, const PanelRect& work) {
    int x = work.left + (work.Width() - width) / 2;
    int y = work.top + (work.Height() - height) / 2;
    // Keep it inside; a window larger than the area keeps its top-left corner in view.
    x = std::max(work.left, std::min(x, work.right - width));
    y = std::max(work.top, std::min(y, work.bottom - height));
    return {x, y, x + width, y + height};
}
