#pragma once
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using EnvOverrides = std::vector<std::pair<std::string, std::string>>;

// How a child ended: exited with a code, was killed by a signal, or was still running.
struct ChildOutcome {
    bool exited = false;
    int exitCode = -1;
    int signal = 0;
    bool timedOut = false;
    std::string output;  // standard output and error, interleaved
};

// A program (argv[0], looked up on PATH) started with this process's environment plus `env`;
// standard input is /dev/null, standard output and error go to a private file. Killed
// (SIGKILL) and reaped on destruction.
class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string>& argv, const EnvOverrides& env = {},
                          const std::string& workingDir = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Waits up to `timeout`; `timedOut` when it still runs (it is left running).
    ChildOutcome Wait(std::chrono::milliseconds timeout);
    bool Running();
    void Signal(int signal);
    std::string Output() const;

  private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    std::string outputPath_;
};

// Runs a program to its end, killing it after `timeout`.
ChildOutcome RunChild(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                      const EnvOverrides& env = {}, const std::string& workingDir = {});

// The exit code of a forked child whose body threw (the exception is printed).
constexpr int kChildThrew = 125;

// Runs `body` in a forked copy of this process; its return value is the exit code. For checks
// that need another user, a crash or a kill without taking the test process with them.
ChildOutcome RunInChild(const std::function<int()>& body, std::chrono::milliseconds timeout);

// Forks a child that runs `body` until it is killed; its pid. The caller kills and reaps it
// with KillAndReap.
pid_t StartInChild(const std::function<void()>& body);
void KillAndReap(pid_t pid, int signal);

// The user that checks needing another owner or another user's permissions use ("nobody").
inline constexpr uid_t kNobody = 65534;
// Why this process can neither hand files to kNobody nor become it, or empty when it can: that
// takes root, in a user namespace that maps kNobody (`unshare -r` maps root alone).
std::string NobodyUnavailable();
// Why checks that need file modes to bind cannot run here, or empty when they can: as this
// user when it is not root, else as kNobody.
std::string OrdinaryUserUnavailable();

// Polls `condition` every 20 ms until it holds or `timeout` passes; its last answer.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// True while an extraction into the cache `folder` is under way: a staging folder of `base` in
// the cache's own staging folder holds `file`
// with some but not all of its `fullSize` bytes, the moment to kill it.
bool StagedFileIsPartlyWritten(const std::string& folder, const std::string& base,
                               const std::string& file, uintmax_t fullSize);

}  // namespace testsupport
