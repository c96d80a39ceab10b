#include "panel/PanelLayout.h"

PanelSize PanelWindowSize(const PanelDescription& description, PanelSize current,
                          const os::PixelBuffer* bkImage) {
    PanelSize size = current;
    if (description.width != 0 && description.height != 0) {
        size = {description.width, description.height};
    }
    if (bkImage != nullptr && description.bkMode > 2) {
        size = {bkImage->width + 2 * description.outBorder,
                bkImage->height + 2 * description.outBorder};
    }
    return size;
}

PanelBands CalcPanelBands(const os::Rect& client, int headHeight, int footHeight, int innerBorder) {
    PanelBands bands;
    bands.head = {client.left, client.top, client.right, client.top + headHeight};
    bands.body = {client.left + innerBorder, client.top + headHeight,
                  client.right - 2 * innerBorder, client.bottom - footHeight};
    bands.foot = {client.left, client.bottom - footHeight, client.right, client.bottom};
    return bands;
}
