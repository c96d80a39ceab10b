#pragma once
#include "os/PixelBuffer.h"
#include "os/Rect.h"
#include "panel/PanelDescription.h"

struct PanelSize {
    int width = 0;
    int height = 0;
    bool operator==(const PanelSize&) const = default;
};

// The size a panel takes from its description. `current` is the window's size now; it is kept
// unless width and height are both set, and an image drawn in a mode above 2 decides over both
// (image size plus `outborder` on every side).
PanelSize PanelWindowSize(const PanelDescription& description, PanelSize current,
                          const os::PixelBuffer* bkImage);

struct PanelBands {
    os::Rect head;
    os::Rect body;
    os::Rect foot;
};

// Head, body and foot bands of `client`. The body's right edge moves in by twice the inner
// border and its left edge by once: skins are drawn with that asymmetry, so it stays.
PanelBands CalcPanelBands(const os::Rect& client, int headHeight, int footHeight, int innerBorder);
