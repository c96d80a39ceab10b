#pragma once
#include "os/PixelBuffer.h"

#include <map>
#include <memory>
#include <string>

// The skin images of the process, loaded once at start-up and shared by every panel that names
// them. Keys compare exactly (case-sensitive, byte for byte). An image, once registered, is
// never replaced or removed, so the borrowed pointers handed out stay valid until exit.
class ImageRegistry {
  public:
    // The image under `key`; when there is none yet, decodes `path` and stores it. A file that
    // cannot be decoded leaves the key without an image (a later call may try again); null.
    const os::PixelBuffer* RegisterImage(const std::string& key, const std::string& path);

    // The image under `key`, or null.
    const os::PixelBuffer* FindImage(const std::string& key) const;

    // `image` for a screen of `scale` device pixels a pixel: a registered image's
    // "<name>@<scale>x.<ext>" beside its file when that has exactly the scaled size, else the
    // image resampled smoothly. Made once and kept, like the images. Scale 1 or less: `image`.
    const os::PixelBuffer* ImageAtScale(const os::PixelBuffer* image, int scale);

  private:
    std::map<std::string, std::shared_ptr<const os::PixelBuffer>> images_;
    std::map<const os::PixelBuffer*, std::string> paths_;
    std::map<std::pair<const os::PixelBuffer*, int>, std::shared_ptr<const os::PixelBuffer>>
        scaled_;
};

// The one registry of the process, created empty on first use (GUI thread only).
ImageRegistry& GetImageRegistry();
