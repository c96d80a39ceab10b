#include "ImageFiles.h"

#include "ChildRun.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace testsupport {
namespace {

void SavePixbuf(GdkPixbuf* pixbuf, const std::string& path, const char* type) {
    GError* error = nullptr;
    const gboolean ok = gdk_pixbuf_save(pixbuf, path.c_str(), type, &error, nullptr);
    std::string message = error != nullptr ? error->message : "";
    if (error != nullptr) g_error_free(error);
    if (!ok) throw std::runtime_error("cannot save " + path + ": " + message);
}

}  // namespace

void WriteSolidImage(const std::string& path, const std::string& format, int width, int height,
                     uint32_t argb, bool withAlpha) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent);
    GdkPixbuf* pixbuf =
        gdk_pixbuf_new(GDK_COLORSPACE_RGB, withAlpha ? TRUE : FALSE, 8, width, height);
    if (pixbuf == nullptr) throw std::runtime_error("gdk_pixbuf_new failed");
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            guchar* p = pixels + y * stride + x * channels;
            p[0] = static_cast<guchar>(argb >> 16);
            p[1] = static_cast<guchar>(argb >> 8);
            p[2] = static_cast<guchar>(argb);
            if (withAlpha) p[3] = static_cast<guchar>(argb >> 24);
        }
    }
    try {
        if (format == "gif") {
            const std::string png = path + ".source.png";
            SavePixbuf(pixbuf, png, "png");
            const auto outcome =
                RunChild({"convert", png, "gif:" + path}, std::chrono::seconds(60));
            std::remove(png.c_str());
            if (!outcome.exited || outcome.exitCode != 0) {
                throw std::runtime_error("convert failed: " + outcome.output);
            }
        } else {
            SavePixbuf(pixbuf, path, format.c_str());
        }
    } catch (...) {
        g_object_unref(pixbuf);
        throw;
    }
    g_object_unref(pixbuf);
}

}  // namespace testsupport
