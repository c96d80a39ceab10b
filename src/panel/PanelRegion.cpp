#include "panel/PanelRegion.h"

#include <algorithm>
#include <cmath>

#include "panel/SkinPainter.h"

std::vector<os::Rect> RoundRectRegion(int width, int height, int cornerWidth, int cornerHeight) {
    if (width <= 0 || height <= 0) return {};
    const double rx = std::min(cornerWidth, width) / 2.0;
    const double ry = std::min(cornerHeight, height) / 2.0;
    if (rx < 1.0 || ry < 1.0) return {{0, 0, width, height}};
    std::vector<os::Rect> spans;
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
        const os::Rect row{inset, y, width - inset, y + 1};
        if (!spans.empty() && spans.back().left == row.left && spans.back().right == row.right &&
            spans.back().bottom == y) {
            spans.back().bottom = y + 1;
        } else if (row.right > row.left) {
            spans.push_back(row);
        }
    }
    return spans;
}

os::Rect CenterInWorkArea(int width, int height, const os::Rect& work) {
    int x = work.left + (work.width() - width) / 2;
    int y = work.top + (work.height() - height) / 2;
    // Keep it inside; a window larger than the area keeps its top-left corner in view.
    x = std::max(work.left, std::min(x, work.right - width));
    y = std::max(work.top, std::min(y, work.bottom - height));
    return {x, y, x + width, y + height};
}

namespace {
constexpr uint32_t kHalfOpaque = 128;
}  // namespace

std::vector<os::Rect> SkinShapeRegion(const os::PixelBuffer* image, int bkMode, int width,
                                      int height) {
    if (width <= 0 || height <= 0) return {};
    if (image == nullptr || image->empty() || !image->hasAlpha || bkMode != BKMODE_ALPHA ||
        image->pixels.size() < static_cast<size_t>(image->width) * image->height) {
        return {{0, 0, width, height}};
    }
    std::vector<os::Rect> spans;
    std::vector<os::Rect> previous;  // the spans of the row above, to grow them downwards
    size_t previousStart = 0;
    for (int y = 0; y < height; ++y) {
        std::vector<os::Rect> row;
        if (y >= image->height) {
            row.push_back({0, y, width, y + 1});
        } else {
            const int inside = std::min(width, image->width);
            int x = 0;
            while (x < inside) {
                while (x < inside && (image->at(x, y) >> 24) < kHalfOpaque) ++x;
                const int start = x;
                while (x < inside && (image->at(x, y) >> 24) >= kHalfOpaque) ++x;
                if (x > start) row.push_back({start, y, x, y + 1});
            }
            // Right of the image the window keeps its background.
            if (width > inside) {
                if (!row.empty() && row.back().right == inside) {
                    row.back().right = width;
                } else {
                    row.push_back({inside, y, width, y + 1});
                }
            }
        }
        bool same = row.size() == previous.size();
        for (size_t i = 0; same && i < row.size(); ++i)
            same = row[i].left == previous[i].left && row[i].right == previous[i].right;
        if (same && !row.empty()) {
            for (size_t i = 0; i < row.size(); ++i) spans[previousStart + i].bottom = y + 1;
        } else {
            previousStart = spans.size();
            spans.insert(spans.end(), row.begin(), row.end());
        }
        previous = std::move(row);
    }
    return spans;
}
