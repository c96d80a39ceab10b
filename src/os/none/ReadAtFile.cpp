#include "os/ReadAtFile.h"

// No platform: files are not opened for reading at offsets.
namespace os {

struct ReadAtFile::Native {};

ReadAtFile::ReadAtFile() = default;
ReadAtFile::~ReadAtFile() = default;

bool ReadAtFile::Open(const std::string& /*path*/) {
    return false;
}

size_t ReadAtFile::ReadAt(uint64_t /*offset*/, void* /*data*/, size_t /*count*/) {
    return 0;
}

size_t ReadAtFile::ReadThrough(uint64_t /*offset*/, void* /*data*/, size_t /*count*/) {
    return 0;
}

const unsigned char* ReadAtFile::Map() {
    return nullptr;
}

bool ReadAtFile::Load(Block& /*block*/, uint64_t /*offset*/) {
    return false;
}

}  // namespace os
