#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace os {

// A bitmap in memory: 0xAARRGGBB per pixel, row-major, straight (not premultiplied) colours.
// Images without an alpha channel have hasAlpha false and every alpha byte 0xFF.
struct PixelBuffer {
    int width = 0;
    int height = 0;
    bool hasAlpha = false;
    // Device pixels per logical pixel: a window canvas at a HiDPI scale of 2 is twice its
    // client size in each direction. Decoded images are 1.
    int scale = 1;
    std::vector<uint32_t> pixels;

    bool empty() const { return width <= 0 || height <= 0; }
    uint32_t& at(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Decodes an image file (PNG, JPEG, BMP, GIF, ICO, ...); nothing when it cannot be read.
std::optional<PixelBuffer> DecodeImageFile(const std::string& path);

// The image resampled smoothly (bilinear, alpha-weighted) to width x height.
PixelBuffer ScaleImage(const PixelBuffer& image, int width, int height);

}  // namespace os
