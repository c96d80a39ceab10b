#include "os/StagingFolder.h"

// No platform: a folder cannot be built where nobody can swap a path under it, so nothing is
// staged or published.
namespace os {

struct StagingFolder::Native {};
struct StagingFolder::File::Native {};

StagingFolder::StagingFolder() = default;
StagingFolder::~StagingFolder() = default;
StagingFolder::File::File() = default;
StagingFolder::File::~File() = default;

bool StagingFolder::Create(const std::string& /*stagingHome*/, const std::string& /*finalPath*/,
                           const std::string& /*prefix*/) {
    return false;
}

bool StagingFolder::MakeFolder(const std::string& /*relative*/) {
    return false;
}

bool StagingFolder::SetFolderMode(const std::string& /*relative*/, unsigned /*mode*/) {
    return false;
}

bool StagingFolder::CreateFile(const std::string& /*relative*/, File& /*file*/) {
    return false;
}

bool StagingFolder::File::Write(const char* /*data*/, size_t /*size*/) {
    return false;
}

bool StagingFolder::File::Finish(unsigned /*mode*/, int64_t /*modifyTime*/) {
    return false;
}

void StagingFolder::AddMarkField(const std::string& key, const std::string& value) {
    markFields_.emplace_back(key, value);
}

StagingFolder::PublishResult StagingFolder::Publish(const std::string& /*markName*/,
                                                    const std::string& /*manifestName*/) {
    return PublishResult::Failed;
}

PublishedState StateOfPublished(const std::string& /*path*/, const std::string& /*markName*/,
                                const std::string& /*stagingHome*/) {
    return PublishedState::Foreign;
}

std::optional<std::map<std::string, std::string>> PublishedMarkFields(
    const std::string& /*path*/, const std::string& /*markName*/,
    const std::string& /*stagingHome*/) {
    return std::nullopt;
}

bool MakeStagingHome(const std::string& /*path*/) {
    return false;
}

}  // namespace os
