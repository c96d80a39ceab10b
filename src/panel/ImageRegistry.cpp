#include "panel/ImageRegistry.h"

#include <optional>
#include <utility>

const os::PixelBuffer* ImageRegistry::RegisterImage(const std::string& key,
                                                    const std::string& path) {
    if (const os::PixelBuffer* existing = FindImage(key)) return existing;
    auto decoded = os::DecodeImageFile(path);
    if (!decoded) return nullptr;
    auto image = std::make_shared<const os::PixelBuffer>(std::move(*decoded));
    images_[key] = image;
    paths_[image.get()] = path;
    return image.get();
}

const os::PixelBuffer* ImageRegistry::FindImage(const std::string& key) const {
    const auto it = images_.find(key);
    return it == images_.end() ? nullptr : it->second.get();
}

ImageRegistry& GetImageRegistry() {
    static ImageRegistry registry;
    return registry;
}

const os::PixelBuffer* ImageRegistry::ImageAtScale(const os::PixelBuffer* image, int scale) {
    if (image == nullptr || scale <= 1 || image->empty()) return image;
    const auto key = std::make_pair(image, scale);
    if (auto it = scaled_.find(key); it != scaled_.end()) return it->second.get();
    const int width = image->width * scale;
    const int height = image->height * scale;
    std::optional<os::PixelBuffer> made;
    if (auto path = paths_.find(image); path != paths_.end()) {
        const std::string& file = path->second;
        const size_t slash = file.find_last_of("/\\");
        const size_t dot = file.rfind('.');
        const bool hasExtension =
            dot != std::string::npos && (slash == std::string::npos || dot > slash);
        const std::string sibling =
            hasExtension
                ? file.substr(0, dot) + "@" + std::to_string(scale) + "x" + file.substr(dot)
                : file + "@" + std::to_string(scale) + "x";
        made = os::DecodeImageFile(sibling);
        // A sibling drawn for another size would misplace every band.
        if (made && (made->width != width || made->height != height)) made.reset();
    }
    if (!made) made = os::ScaleImage(*image, width, height);
    auto stored = std::make_shared<const os::PixelBuffer>(std::move(*made));
    scaled_[key] = stored;
    return stored.get();
}
