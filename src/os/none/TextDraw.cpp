#include "os/TextDraw.h"

// No platform: no fonts, so no text is drawn.
namespace os {

bool DrawTextLine(PixelBuffer& /*canvas*/, const std::string& /*text*/, int /*left*/, int /*top*/,
                  int /*right*/, int /*bottom*/, const TextStyle& /*style*/) {
    return false;
}

}  // namespace os
