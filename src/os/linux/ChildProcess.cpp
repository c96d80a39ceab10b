#include "os/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "os/DiagnosticLog.h"
#include "os/linux/WriteAll.h"

extern char** environ;

namespace os {
namespace {

using Clock = std::chrono::steady_clock;

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// A pidfd turns "wait for the child with a timeout" into a poll; kernels before 5.3 lack it
// and fall back to short sleeps between non-blocking waits.
int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    const long fd = syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return static_cast<int>(fd);
    }
#else
    (void)pid;
#endif
    return -1;
}

// Holds the spawn descriptions and frees them on every path out of Start.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    // The tool starts in a session of its own with no signal blocked and the ones we handle
    // back at their defaults.
    void DetachSignals() {
        sigset_t noSignals;
        sigemptyset(&noSignals);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGTERM);
        sigaddset(&defaults, SIGCHLD);
        posix_spawnattr_setsigmask(&attributes, &noSignals);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(
            &attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
};

}  // namespace

struct ChildProcess::Native {
    long pid = -1;
    int output = -1;
    int input = -1;
    int pidfd = -1;
};

ChildProcess::ChildProcess() : native_(std::make_unique<Native>()) {}

ChildProcess::~ChildProcess() {
    Terminate();
}

bool ChildProcess::Start(const std::vector<std::string>& args, Input input) {
    Terminate();
    if (args.empty() || args[0].empty()) return false;

    int outputPipe[2];
    if (pipe2(outputPipe, O_CLOEXEC) != 0) return false;
    // The input channel is a socket pair so that writes can say MSG_NOSIGNAL: a shell that
    // has gone away must not take this process down with SIGPIPE.
    int inputPair[2] = {-1, -1};
    if (input == Input::Channel &&
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, inputPair) != 0) {
        close(outputPipe[0]);
        close(outputPipe[1]);
        return false;
    }

    SpawnSetup setup;
    if (input == Input::Channel) {
        posix_spawn_file_actions_adddup2(&setup.actions, inputPair[1], STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&setup.actions, outputPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, outputPipe[1], STDERR_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors other threads opened without close-on-exec must not leak into the tool
    // (an adb server it starts would otherwise hold them for its whole life).
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);
#endif
    setup.DetachSignals();

    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int rc =
        posix_spawnp(&pid, argv[0], &setup.actions, &setup.attributes, argv.data(), environ);
    close(outputPipe[1]);
    if (inputPair[1] >= 0) close(inputPair[1]);
    if (rc != 0) {
        close(outputPipe[0]);
        if (inputPair[0] >= 0) close(inputPair[0]);
        LogFailure("tool did not start", args[0] + ": " + std::strerror(rc));
        return false;
    }
    native_->pid = pid;
    reaped_ = false;
    native_->output = outputPipe[0];
    native_->input = inputPair[0];
    native_->pidfd = OpenPidFd(pid);
    return true;
}

bool ChildProcess::Reap(bool block) {
    if (reaped_) return true;
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(static_cast<pid_t>(native_->pid), &status, block ? 0 : WNOHANG);
        if (r < 0 && errno == EINTR) continue;
        // ECHILD: someone else reaped it; either way it is gone.
        if (r == native_->pid || r < 0) {
            reaped_ = true;
            exitCode_ = r == native_->pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        return reaped_;
    }
}

bool ChildProcess::WaitForExit(int timeoutMs) {
    if (reaped_) return true;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (Reap(false)) return true;
        const int left = RemainingMs(deadline);
        if (left == 0) return false;
        if (native_->pidfd >= 0) {
            pollfd p{native_->pidfd, POLLIN, 0};
            poll(&p, 1, left);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(left < 5 ? left : 5));
        }
    }
}

ChildProcess::ReadStatus ChildProcess::Read(char* buffer, size_t capacity, size_t& got,
                                            int timeoutMs) {
    got = 0;
    if (native_->output < 0) return ReadStatus::End;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd p{native_->output, POLLIN, 0};
        const int wait = timeoutMs < 0 ? -1 : RemainingMs(deadline);
        const int ready = poll(&p, 1, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return ReadStatus::End;
        if (ready == 0) return ReadStatus::Timeout;
        const ssize_t n = read(native_->output, buffer, capacity);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return ReadStatus::End;
        got = static_cast<size_t>(n);
        return ReadStatus::Data;
    }
}

bool ChildProcess::WriteInput(const std::string& bytes) {
    return native_->input >= 0 && detail::WriteAllTo(native_->input, bytes.data(), bytes.size(),
                                                     detail::Descriptor::Socket);
}

void ChildProcess::Terminate() {
    CloseFd(native_->output);
    CloseFd(native_->input);
    if (!reaped_ && !Reap(false)) {
        // The pid is still ours (not reaped), so it cannot have been reused.
        kill(static_cast<pid_t>(native_->pid), SIGKILL);
        Reap(true);
    }
    CloseFd(native_->pidfd);
    native_->pid = -1;
}

}  // namespace os
