#include "os/PixelBuffer.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

namespace os {

std::optional<PixelBuffer> DecodeImageFile(const std::string& path) {
    GError* error = nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path.c_str(), &error);
    if (error != nullptr) g_error_free(error);
    if (pixbuf == nullptr) return std::nullopt;

    // GdkPixbuf hands out 8-bit RGB(A) rows with straight colours, whatever the file held.
    PixelBuffer image;
    image.width = gdk_pixbuf_get_width(pixbuf);
    image.height = gdk_pixbuf_get_height(pixbuf);
    image.hasAlpha = gdk_pixbuf_get_has_alpha(pixbuf) != FALSE;
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const bool eightBitRgb = gdk_pixbuf_get_bits_per_sample(pixbuf) == 8 &&
                             gdk_pixbuf_get_colorspace(pixbuf) == GDK_COLORSPACE_RGB &&
                             channels == (image.hasAlpha ? 4 : 3);
    if (!eightBitRgb || image.width <= 0 || image.height <= 0) {
        g_object_unref(pixbuf);
        return std::nullopt;
    }
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* rows = gdk_pixbuf_read_pixels(pixbuf);
    image.pixels.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
    for (int y = 0; y < image.height; ++y) {
        const guchar* p = rows + static_cast<size_t>(y) * static_cast<size_t>(stride);
        for (int x = 0; x < image.width; ++x, p += channels) {
            const uint32_t alpha = image.hasAlpha ? p[3] : 0xFF;
            image.at(x, y) = (alpha << 24) | (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
        }
    }
    g_object_unref(pixbuf);
    return image;
}

}  // namespace os

namespace os {

PixelBuffer ScaleImage(const PixelBuffer& image, int width, int height) {
    PixelBuffer out;
    out.hasAlpha = image.hasAlpha;
    if (image.empty() || width <= 0 || height <= 0 ||
        image.pixels.size() < static_cast<size_t>(image.width) * image.height) {
        return out;
    }
    GdkPixbuf* source = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, image.width, image.height);
    if (source == nullptr) return out;
    const int sourceStride = gdk_pixbuf_get_rowstride(source);
    guchar* sourceRows = gdk_pixbuf_get_pixels(source);
    for (int y = 0; y < image.height; ++y) {
        guchar* p = sourceRows + static_cast<size_t>(y) * sourceStride;
        for (int x = 0; x < image.width; ++x, p += 4) {
            const uint32_t v = image.at(x, y);
            p[0] = (v >> 16) & 0xFF;
            p[1] = (v >> 8) & 0xFF;
            p[2] = v & 0xFF;
            p[3] = v >> 24;
        }
    }
    // GdkPixbuf weights colours by alpha while it filters, so transparent pixels do not bleed.
    GdkPixbuf* scaled = gdk_pixbuf_scale_simple(source, width, height, GDK_INTERP_BILINEAR);
    g_object_unref(source);
    if (scaled == nullptr) return out;
    out.width = width;
    out.height = height;
    out.pixels.resize(static_cast<size_t>(width) * height);
    const int stride = gdk_pixbuf_get_rowstride(scaled);
    const guchar* rows = gdk_pixbuf_read_pixels(scaled);
    for (int y = 0; y < height; ++y) {
        const guchar* p = rows + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x, p += 4) {
            out.at(x, y) =
                (uint32_t{p[3]} << 24) | (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
        }
    }
    g_object_unref(scaled);
    return out;
}

}  // namespace os
