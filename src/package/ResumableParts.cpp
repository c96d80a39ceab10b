#include "package/ResumableParts.h"

#include <filesystem>
#include <system_error>

#include "os/DiagnosticLog.h"
#include "os/Files.h"
#include "os/FolderTree.h"
#include "package/StagingNames.h"

namespace {

constexpr const char* kSidecarHead = "maplenook-part 1";

bool IsHeaderSafe(const std::string& text) {
    for (const unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return false;
    return !text.empty();
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void Remove(const std::string& path) {
    std::error_code error;
    std::filesystem::remove(path, error);
}

}  // namespace

ResumablePart ResumablePartOf(const std::string& stagingHome, const std::string& name,
                              const std::string& url) {
    const std::string suffix = AddressStagingSuffix(url);
    return {stagingHome + "/" + DownloadStagingPrefix(name) + suffix,
            stagingHome + "/" + ResumeStagingPrefix(name) + suffix};
}

DownloadResume ResumePointOf(const std::string& stagingHome, const std::string& name,
                             const std::string& url, const ResumablePart& part) {
    const std::string ours = AddressStagingSuffix(url);
    int64_t sidecarChanged = 0;
    for (const auto& entry : os::ListFolderEntries(stagingHome)) {
        StagingNameParts parts;
        if (!SplitStagingName(entry.name, parts) || parts.name != name) continue;
        if (parts.kind == ".resume-" && parts.suffix == ours) sidecarChanged = entry.changeTime;
        if ((parts.kind == ".part-" || parts.kind == ".resume-") && parts.suffix != ours)
            Remove(stagingHome + "/" + entry.name);
    }
    std::string text;
    DownloadResume resume;
    const auto head = std::string(kSidecarHead) + "\n" + url + "\n";
    std::error_code error;
    const auto size = std::filesystem::file_size(part.part, error);
    const bool young = NowMs() - sidecarChanged <
                       std::chrono::duration_cast<std::chrono::milliseconds>(kPartKeptFor).count();
    if (sidecarChanged != 0 && young && os::ReadWholeFile(part.sidecar, text) &&
        text.rfind(head, 0) == 0 && !error && size > 0 &&
        os::KindOfPath(part.part) == os::PathKind::RegularFile &&
        std::filesystem::is_regular_file(std::filesystem::symlink_status(part.part))) {
        std::string validator = text.substr(head.size());
        if (!validator.empty() && validator.back() == '\n') validator.pop_back();
        if (IsHeaderSafe(validator)) {
            resume.offset = static_cast<int64_t>(size);
            resume.validator = validator;
            os::LogDebug("download resumes", url + " from byte " + std::to_string(size));
            return resume;
        }
    }
    ForgetPart(part);
    return resume;
}

void KeepPart(const ResumablePart& part, const std::string& url, const std::string& validator) {
    if (!IsHeaderSafe(validator) || url.find('\n') != std::string::npos ||
        !os::ReplaceFileAtomically(
            part.sidecar, std::string(kSidecarHead) + "\n" + url + "\n" + validator + "\n"))
        return ForgetPart(part);
}

void ForgetPart(const ResumablePart& part, bool keepBody) {
    Remove(part.sidecar);
    if (!keepBody) Remove(part.part);
}
