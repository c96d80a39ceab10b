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

  private:
    std::map<std::string, std::shared_ptr<const os::PixelBuffer>> images_;
};

// The one registry of the process, created empty on first use (GUI thread only).
ImageRegistry& GetImageRegistry();
