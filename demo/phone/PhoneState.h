#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace phone {

struct PhoneIdentity {
    std::string serial = "MAPLENOOK0001";
    std::string model = "Maple Phone";
    std::string device = "maple";
    std::string release = "10";
};

// What one emulated phone holds, shared by all its connections: its files (kept in memory, so
// no device path ever names a file of this machine), installed packages, and the record folder
// where every command and every installed package's bytes are written.
class PhoneState {
  public:
    PhoneState(PhoneIdentity identity, std::string recordDir, int failInstalls,
               uint64_t unplugAfterBytes);

    const PhoneIdentity& Identity() const { return identity_; }

    // One line in <record>/commands.log, control characters escaped.
    void Record(const std::string& line);

    std::optional<std::string> ReadFile(const std::string& path);
    void WriteFile(const std::string& path, std::string bytes, uint32_t mode);
    bool RemoveFile(const std::string& path);
    // "mkdir": a folder that exists even while it holds no file.
    void MakeFolder(const std::string& path);
    // Mode, size and time as a phone's stat gives them; nullopt when nothing is there.
    struct Stat {
        uint32_t mode = 0;
        uint32_t size = 0;
        uint32_t mtime = 0;
    };
    std::optional<Stat> StatPath(const std::string& path);
    // Names directly inside a folder, with their stats.
    std::vector<std::pair<std::string, Stat>> List(const std::string& folder);

    // "pm install": the package's output text ("Success" or a failure) for the file at `path`.
    std::string Install(const std::string& path);
    std::vector<std::string> Packages();

    // Counts bytes received by pushes; true once the phone is to be "unplugged".
    bool CountReceived(uint64_t bytes);
    bool Unplugged();

  private:
    PhoneIdentity identity_;
    std::string recordDir_;
    int failInstalls_;
    uint64_t unplugAfter_;
    std::mutex mutex_;
    std::map<std::string, std::pair<std::string, uint32_t>> files_;
    std::set<std::string> folders_;
    std::vector<std::string> packages_;
    int attempts_ = 0;
    int landed_ = 0;
    uint64_t received_ = 0;
    bool unplugged_ = false;
};

// A device path made canonical: absolute, no empty or "." parts, ".." resolved within "/".
std::string CanonicalDevicePath(const std::string& path);

}  // namespace phone
