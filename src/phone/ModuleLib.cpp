#include "phone/ModuleLib.h"

#include "base/CommandLine.h"
#include "base/Settings.h"
#include "os/ChildProcess.h"
#include "os/DiagnosticLog.h"
#include "os/Digest.h"
#include "os/FileOps.h"
#include "os/Files.h"
#include "os/LocaleText.h"
#include "os/PrivateFolder.h"
#include "phone/BridgeCommandText.h"
#include "phone/ConflictingProcesses.h"
#include "phone/ToolSources.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>

#include "base/LoopbackOwner.h"
#include "os/DiagnosticLog.h"
#include "os/ProcFs.h"

namespace {

constexpr const char* kToolFolderName = "ice";
// Shipped in the module directory's "adb" folder or installed by the system; adb first, since
// only it is ever replaced.
constexpr std::array<const char*, 3> kToolNames = {"adb", "aapt", "fastboot"};
constexpr int kInitialWaitMs = 3000;
constexpr size_t kReadPiece = 255;
constexpr const char* kExitShell = "exit\r\n";
// After "exit" the shell gets a moment to end by itself before it is killed.
constexpr int kShellExitGraceMs = 2000;
constexpr uint16_t kBridgePort = 5037;
constexpr auto kStaleCopyKillLimit = std::chrono::milliseconds(10000);
// A tool that closed its output is given this long to end, so that its exit code is known.
constexpr int kExitCodeWaitMs = 500;

// A stale copy may still be running (a bridge server we started last time): end it, round
// after round without pause, until it is gone or the time limit has passed.
void EndProcessesRunning(const std::string& path) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const auto running = ListAdbProcesses();
        if (std::find(running.begin(), running.end(), path) == running.end()) return;
        KillProcessesByPath(path, true);
        if (std::chrono::steady_clock::now() - start > kStaleCopyKillLimit) return;
    }
}

// Our own server listens on a socket in the private tool folder: only this user can make one
// there, so no other user can be listening in its place, at start or later. Empty when the
// path does not fit a socket address or cannot be quoted on a command line.
std::string OwnServerOption(const std::string& toolDir) {
    constexpr size_t kSocketPathLimit = 107;
    const std::string path = toolDir + "adb.sock";
    if (toolDir.empty() || path.size() > kSocketPathLimit || path.find('"') != std::string::npos)
        return {};
    return "-L \"localfilesystem:" + path + "\" ";
}

// Logs how a bridge command ended once its output has been read: `last` is the read that ended
// the loop.
void LogCommandEnd(const std::string& commandLine, os::ChildProcess& child,
                   os::ChildProcess::ReadStatus last, int silenceMs) {
    using ReadStatus = os::ChildProcess::ReadStatus;
    if (last == ReadStatus::Timeout) {
        os::LogError("bridge command timed out",
                     commandLine + ": nothing for " + std::to_string(silenceMs) + " ms");
        return;
    }
    if (last == ReadStatus::End && child.WaitForExit(kExitCodeWaitMs) && child.ExitCode() != 0) {
        const int code = child.ExitCode();
        os::LogWarning("bridge command failed",
                       commandLine + (code < 0 ? ": ended by a signal"
                                               : ": exit code " + std::to_string(code)));
        return;
    }
    os::LogDebug("bridge command finished", commandLine);
}

// Appends one read piece up to its first zero byte, as the tools' text output is read.
void AppendPiece(std::string& output, const char* piece, size_t size) {
    output.append(piece, strnlen(piece, size));
}

}  // namespace

CModuleLib& CModuleLib::Instance() {
    static CModuleLib instance;
    return instance;
}

bool CModuleLib::Init() {
    return Init(ModuleDirectory());
}

bool CModuleLib::Init(const std::string& moduleDirectory) {
    toolDir_ = os::PrivateUserFolder(kToolFolderName);
    adbPath_ = toolDir_.empty() ? std::string() : toolDir_ + "adb";
    const std::string sourceDir =
        ToolSourceFolder(moduleDirectory, os::IsDirectory(moduleDirectory + "/adb"));
    for (const char* name : kToolNames) {
        if (!os::FileExists(sourceDir + name)) return false;
    }
    if (toolDir_.empty()) return false;

    if (FileDigest(adbPath_) != FileDigest(sourceDir + "adb")) {
        EndProcessesRunning(adbPath_);
        os::RemoveFile(adbPath_);
    }
    for (const char* name : kToolNames) {
        // An existing copy is kept; only a stale adb was removed above.
        os::CopyFileNoReplace(sourceDir + name, toolDir_ + name);
    }

    ownServerOption_ = OwnServerOption(toolDir_);
    // Two bridge servers cannot share the port: when another program's adb already serves
    // it, every command goes through that one instead.
    std::vector<std::string> portOwners;
    const bool ownersFound = FindPortOwners(kBridgePort, portOwners, moduleDirectory);
    // Another user's server would answer our commands with whatever it likes: never adopted.
    if (NeedsOwnServer()) return true;
    EndOwnServerOfEarlierRun();
    if (ownersFound && !portOwners.empty()) {
        const std::string foreign = PickForeignAdb(portOwners);
        // A server whose file is gone (removed, or a path that could not be read) cannot run
        // our commands; our own copy can.
        if (!foreign.empty() && os::FileExists(foreign)) adbPath_ = foreign;
    }
    return true;
}

void CModuleLib::EndOwnServerOfEarlierRun() {
    // Started while another user held port 5037, it would now fight the server there for the
    // phones.
    const std::string socket = toolDir_ + "adb.sock";
    if (ownServerOption_.empty() || os::KindOfPath(socket) == os::PathKind::Missing) return;
    RunCommand(AdbCommandLine(toolDir_ + "adb", ownServerOption_ + "kill-server"));
    os::RemoveFile(socket);
}

bool CModuleLib::NeedsOwnServer() {
    if (ownServer_.load()) return true;
    const auto listeners = os::ListTcpListeners(kBridgePort);
    if (listeners.empty() || ListenersAreTheUsers(listeners, os::EffectiveUserId())) return false;
    if (!ownServer_.exchange(true)) {
        os::LogWarning("adb server of another user serves port 5037",
                       ownServerOption_.empty() ? "no server of our own can be started"
                                                : "using our own: " + ownServerOption_);
    }
    return true;
}

bool CModuleLib::CommandPrefix(bool own, std::string& adb, std::string& option) const {
    if (!own) {
        adb = adbPath_;
        option.clear();
        return true;
    }
    adb = toolDir_ + "adb";
    option = ownServerOption_;
    return !option.empty();
}

std::string CModuleLib::OnCheckedServer(const std::function<std::string(bool own)>& run) {
    const bool own = NeedsOwnServer();
    std::string output = run(own);
    // A server of another user that took the port while the command ran (one that had to
    // start a server there) may be what answered: its answer is dropped, ours asked instead.
    if (!own && NeedsOwnServer()) output = run(true);
    return output;
}

std::string CModuleLib::RunAdb(const std::string& command) {
    return OnCheckedServer([&](bool own) { return RunAdbOn(command, own); });
}

std::string CModuleLib::RunAdbOn(const std::string& command, bool own) {
    if (IsShellCommand(command)) return RunShellSessionOn(ShellCommandsOf(command), own);
    std::string adb, option;
    if (!CommandPrefix(own, adb, option)) return {};
    return RunCommand(AdbCommandLine(adb, option + command));
}

std::string CModuleLib::RunCommand(const std::string& commandLine) {
    os::ChildProcess child;
    if (!child.Start(SplitCommandLine(commandLine))) return {};
    child.WaitForExit(kInitialWaitMs);

    const bool readToEnd = ReadsToEnd(commandLine);
    const int silenceMs = static_cast<int>(silenceLimit_.count());
    std::string output;
    char piece[kReadPiece + 1];
    size_t got = 0;
    auto status = os::ChildProcess::ReadStatus::Data;
    while ((status = child.Read(piece, kReadPiece, got, silenceMs)) ==
           os::ChildProcess::ReadStatus::Data) {
        AppendPiece(output, piece, got);
        if (!readToEnd && OutputEndsRead(output)) break;
    }
    LogCommandEnd(commandLine, child, status, silenceMs);
    child.Terminate();
    return os::LocaleToUtf8(output);
}

std::string CModuleLib::RunShellSession(const std::vector<std::string>& commands) {
    return OnCheckedServer([&](bool own) { return RunShellSessionOn(commands, own); });
}

std::string CModuleLib::RunShellSessionOn(const std::vector<std::string>& commands, bool own) {
    std::string adb, option;
    if (!CommandPrefix(own, adb, option)) return {};
    const std::string commandLine = AdbCommandLine(adb, option + "shell");
    os::ChildProcess child;
    if (!child.Start(SplitCommandLine(commandLine), os::ChildProcess::Input::Channel)) return {};
    child.WaitForExit(kInitialWaitMs);

    const bool readToEnd = ReadsToEnd(commandLine);
    const int silenceMs = static_cast<int>(silenceLimit_.count());
    std::string output;
    char piece[kReadPiece + 1];
    size_t got = 0;
    size_t next = 0;
    bool reading = true;
    auto status = os::ChildProcess::ReadStatus::Data;
    while (reading && (status = child.Read(piece, kReadPiece, got, silenceMs)) ==
                          os::ChildProcess::ReadStatus::Data) {
        AppendPiece(output, piece, got);
        if (!readToEnd && OutputEndsRead(output)) break;
        // An empty command sends nothing, so the shell will not answer it with a new prompt:
        // the prompt still showing is the one to answer next.
        while (ShowsShellPrompt(output)) {
            if (next == commands.size()) {
                if (child.WriteInput(kExitShell)) child.WaitForExit(kShellExitGraceMs);
                reading = false;
                break;
            }
            const std::string& command = commands[next++];
            if (!child.WriteInput(command)) {
                reading = false;
                break;
            }
            if (!command.empty()) break;
        }
    }
    LogCommandEnd(commandLine, child, status, silenceMs);
    child.Terminate();
    return os::LocaleToUtf8(output);
}

std::string CModuleLib::FileDigest(const std::string& path) {
    const std::string digest = os::Md5HexOfFile(path);
    return digest.empty() ? std::string(32, '0') : digest;
}
