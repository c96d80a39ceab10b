#pragma once
#include <chrono>
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
    // and returns what it printed, as UTF-8. Blocks the calling thread.
    std::string RunAdb(const std::string& command);

    // Runs a full command line (Windows-style quoting, never a shell) and returns its output.
    // Empty when the program cannot be started.
    std::string RunCommand(const std::string& commandLine);

    // Runs "adb shell" and writes each command, exactly as given, whenever the shell shows its
    // prompt; "exit\r\n" after the last one. Returns everything the session printed.
    std::string RunShellSession(const std::vector<std::string>& commands);

    // MD5 of the file as 32 lower-case hexadecimal digits; 32 "0" when it cannot be opened.
    std::string FileDigest(const std::string& path);

    // The adb every bridge command runs: the private copy or the one serving port 5037.
    const std::string& adbPath() const { return adbPath_; }
    // The private tool folder, with a trailing "/".
    const std::string& toolDir() const { return toolDir_; }

    // How long a bridge command may stay silent before it is given up (default 10 minutes,
    // long enough for a large install). For tests.
    void SetSilenceLimit(std::chrono::milliseconds limit) { silenceLimit_ = limit; }

  private:
    std::string adbPath_;
    // "-P <port> " when another user's server holds the usual port and ours runs elsewhere.
    std::string serverOption_;
    std::string toolDir_;
    std::chrono::milliseconds silenceLimit_ = std::chrono::minutes(10);
};
