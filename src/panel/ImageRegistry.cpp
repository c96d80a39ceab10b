#include "panel/ImageRegistry.h"

const os::PixelBuffer* ImageRegistry::RegisterImage(const std::string& key,
                                                    const std::string& path) {
    if (const os::PixelBuffer* existing = FindImage(key)) return existing;
    auto decoded = os::DecodeImageFile(path);
    if (!decoded) return nullptr;
    auto image = std::make_shared<const os::PixelBuffer>(std::move(*decoded));
    images_[key] = image;
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
