#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace os {

// A folder that is built under a unique name in a staging folder of the program's own (on the
// same file system as the path it is meant for) and takes that path by rename only once it is
// complete, so nobody ever sees it half built. Everything
// inside is created relative to the open folder, never through a path that could be swapped.
// Modes inside are set through open descriptors and never exceed what the umask allows, never
// let group or others write (another user must not change a program started from there
// later), and never carry set-id or sticky bits. The staged folder is removed when the object goes
// away unpublished, so a failure leaves the previous folder (or none) in place.
class StagingFolder {
  public:
    StagingFolder();
    ~StagingFolder();
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;

    // Creates "<stagingHome>/<prefix>XXXXXX" with mode 0700. `stagingHome` must already be
    // there (see MakeStagingHome) and `finalPath`, without a trailing "/", lies on its file
    // system.
    bool Create(const std::string& stagingHome, const std::string& finalPath,
                const std::string& prefix);
    const std::string& path() const { return path_; }

    // Creates the folder `relative` (a "/"-separated path inside, its parent already there).
    // An existing folder counts as made.
    bool MakeFolder(const std::string& relative);
    // Gives the folder `relative` the permission bits of `mode` within the umask, keeping
    // the owner's rwx so the package can always be replaced and removed.
    bool SetFolderMode(const std::string& relative, unsigned mode);
    // Whether MakeFolder, SetFolderMode or CreateFile failed for want of room (a full file
    // system or quota).
    bool ranOutOfRoom() const { return outOfRoom_; }

    // A file being written inside the staged folder.
    class File {
      public:
        File();
        ~File();
        File(const File&) = delete;
        File& operator=(const File&) = delete;
        bool Write(const char* data, size_t size);
        // Sets the permission bits of `mode` within the umask and the modification (and
        // access) time, then closes the file. False when any of it failed.
        bool Finish(unsigned mode, int64_t modifyTime);
        // Whether Write or Finish failed for want of room: a full file system or quota, or
        // the file passing the largest size allowed.
        bool ranOutOfRoom() const { return outOfRoom_; }

      private:
        friend class StagingFolder;
        bool Failed();  // notes why the last call failed; false
        struct Native;  // the platform's handle on the open file
        std::unique_ptr<Native> native_;
        bool outOfRoom_ = false;
    };
    // Creates the file `relative` (its folder already there). A file of the same name made
    // earlier in this folder is replaced.
    bool CreateFile(const std::string& relative, File& file);

    // Adds the line "key=value" to the mark Publish writes (neither may hold a line break,
    // the key no "="; "token" is the mark's own).
    void AddMarkField(const std::string& key, const std::string& value);

    enum class PublishResult { Published, InTheWay, InUse, Failed };
    // Writes the mark `markName` (key=value lines with a random token, which the staging
    // home records for this folder's name and inode) and the manifest `manifestName` (every file
    // and folder made in it) into the staged folder and moves it to the final path. A folder
    // there is replaced only when Publish made it: what it holds beyond the archive it was
    // extracted from (the tool's own data, by its manifest, kept even where the new archive
    // brings a file of the same name) is linked into the new folder first, then the two change
    // places in one step and the old one is removed. A folder
    // nobody marked is replaced only when it holds nothing but what the new folder holds, file
    // for file and byte for byte (an earlier extraction of the same archive). Anything else
    // there (the user's own folder, a copy, a file, a link) is left untouched: InTheWay. While
    // a program works in the folder there (its working directory or executable inside), it is
    // not replaced: what it writes later would go into a removed folder; InUse. The folder
    // itself gets 0755 within the umask.
    PublishResult Publish(const std::string& markName, const std::string& manifestName);

  private:
    struct Native;  // the platform's handle on an open folder
    void Discard();
    bool Failed();  // notes why the last call failed; false
    bool WriteMarkAndManifest(const std::string& markName, const std::string& manifestName);
    bool WriteManifest(const std::string& manifestName);
    PublishResult ReplaceExisting(const std::string& markName, const std::string& manifestName);
    PublishResult ReplaceWithoutExchange(const std::string& markName,
                                         const std::string& manifestName);
    // Readies the new folder to replace the one at the final path: the tool's data taken over
    // from it, or its being an earlier extraction checked. InTheWay, Failed or Published (ready).
    PublishResult TakeOver(const Native& old, const std::string& markName,
                           const std::string& manifestName, std::string& oldToken);
    PublishResult Fail(PublishResult result);

    std::unique_ptr<Native> native_;
    bool outOfRoom_ = false;
    std::string path_;
    std::string finalPath_;
    std::string stagingHome_;
    std::string token_;
    std::vector<std::pair<std::string, std::string>> markFields_;
    std::set<std::string> entries_;  // made inside: files, and folders ending in "/"
};

// Whether the folder at `path` is missing, one that Publish made with the mark `markName` (its
// mark's token recorded in `stagingHome` for this folder's name and inode), a folder of the
// user's that carries no mark (or only an earlier version's that no longer fits), which Publish
// replaces only by an identical extraction, or something else (a copy of a package folder, a
// hand-written mark, a file, a link, somebody else's): never to be replaced or run.
enum class PublishedState { Missing, Ours, Unmarked, Foreign };
PublishedState StateOfPublished(const std::string& path, const std::string& markName,
                                const std::string& stagingHome);
// The key=value lines of the mark of a folder that is Ours; nothing otherwise.
std::optional<std::map<std::string, std::string>> PublishedMarkFields(
    const std::string& path, const std::string& markName, const std::string& stagingHome);

// Creates the program's own staging folder `path` (mode 0700, its parent must exist) or checks
// the one there: a real folder owned by this user that nobody else can enter. False otherwise.
bool MakeStagingHome(const std::string& path);

}  // namespace os
