#pragma once
#include <cstdint>
#include <string>

namespace testsupport {

// Writes a `width` x `height` image of one colour `argb` (0xAARRGGBB) to `path` as `format`:
// "png", "jpeg", "bmp", "ico" (written with GdkPixbuf) or "gif" (converted by ImageMagick).
// `withAlpha` gives the file an alpha channel (png, ico; gif gets binary transparency).
// Missing parent folders are made. Throws on failure (tests only).
void WriteSolidImage(const std::string& path, const std::string& format, int width, int height,
                     uint32_t argb, bool withAlpha);

}  // namespace testsupport
