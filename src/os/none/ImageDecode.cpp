#include "os/PixelBuffer.h"

// No platform: no image decoders. Scaling needs none and is done here (nearest pixel).
namespace os {

std::optional<PixelBuffer> DecodeImageFile(const std::string& /*path*/) {
    return std::nullopt;
}

PixelBuffer ScaleImage(const PixelBuffer& image, int width, int height) {
    PixelBuffer scaled;
    if (image.empty() || width <= 0 || height <= 0) return scaled;
    scaled.width = width;
    scaled.height = height;
    scaled.hasAlpha = image.hasAlpha;
    scaled.pixels.resize(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            scaled.at(x, y) =
                image.at(static_cast<int>(static_cast<int64_t>(x) * image.width / width),
                         static_cast<int>(static_cast<int64_t>(y) * image.height / height));
    }
    return scaled;
}

}  // namespace os
