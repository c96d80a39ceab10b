#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

// The owner of the bridge tool set (adb, fastboot, aapt) shipped in the module directory's
// "adb" folder, or the system's own when there is none (see ToolSourceFolder): copies it into
// a private per-user folder, decides which adb to run, runs bridge commands as hidden child
// processes.
//
// One instance serves the whole process (Instance()); Init runs once on the GUI thread before
// the first bridge command, and the paths are read-only afterwards.
class CModuleLib {
  public:
    static CModuleLib& Instance();

    // Prepares the tool set from ToolSourceFolder(ModuleDirectory(), ...). False when a tool
    // is missing there (nothing is copied then, and adbPath still names the private copy).
    bool Init();
    bool Init(const std::string& moduleDirectory);

    // Runs one bridge command ("devices", "install -r \"/path/x.apk\"", or "-shell cmd1;cmd2;")
    // and returns what it printed, as UTF-8. Blocks the calling thread. Right before it runs,
    // the server on port 5037 must be the user's (or root's) or nobody's; once another user's
    // is seen there, this command and every later one go to our own server on a socket in the
    // private tool folder. Empty when no such server can be had.
    std::string RunAdb(const std::string& command);

    // Runs a full command line (Windows-style quoting, never a shell) and returns its output.
    // Empty when the program cannot be started.
    std::string RunCommand(const std::string& commandLine);

    // Runs "adb shell" (on a server checked as RunAdb does) and writes each command, exactly as
    // given, whenever the shell shows its prompt; "exit\r\n" after the last one. Returns everything
    // the session printed.
    std::string RunShellSession(const std::vector<std::string>& commands);

    // MD5 of the file as 32 lower-case hexadecimal digits; 32 "0" when it cannot be opened.
    std::string FileDigest(const std::string& path);

    // The adb bridge commands run while port 5037 is usable: the private copy or the one
    // serving that port at Init.
    const std::string& adbPath() const { return adbPath_; }
    // Whether commands go to our own server because another user's was seen on port 5037.
    bool UsesOwnServer() const { return ownServer_.load(); }
    // The private tool folder, with a trailing "/".
    const std::string& toolDir() const { return toolDir_; }

    // How long a bridge command may stay silent before it is given up (default 10 minutes,
    // long enough for a large install). For tests.
    void SetSilenceLimit(std::chrono::milliseconds limit) { silenceLimit_ = limit; }

  private:
    // Whether the next command must go to our own server: decided from the listeners of port
    // 5037 now, unless that was decided for good already.
    bool NeedsOwnServer();
    // Ends our own server of an earlier run, when there is one, as port 5037 serves again.
    void EndOwnServerOfEarlierRun();
    // The adb and the options that address the chosen server; empty when there is none.
    bool CommandPrefix(bool own, std::string& adb, std::string& option) const;
    // Runs `run` on the server the check chose, and again on ours when the check after it
    // finds another user's server.
    std::string OnCheckedServer(const std::function<std::string(bool own)>& run);
    std::string RunAdbOn(const std::string& command, bool own);
    std::string RunShellSessionOn(const std::vector<std::string>& commands, bool own);

    std::string adbPath_;
    std::string toolDir_;
    // "-L localfilesystem:<tool folder>adb.sock": nobody else can make a socket in that folder,
    // so the server there is ours. Empty when the path is too long for a socket address.
    std::string ownServerOption_;
    std::atomic<bool> ownServer_{false};
    std::chrono::milliseconds silenceLimit_ = std::chrono::minutes(10);
};
