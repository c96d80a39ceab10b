// Starting a package's program from the descriptor its check opened. A check of a path followed
// by a start by that path leaves a moment in which the file at the path can be swapped; started
// from the descriptor, the program is the file judged.
#include "os/Process.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "os/DiagnosticLog.h"
#include "os/Shell.h"
#include "os/linux/SafePath.h"
#include "os/linux/UniqueFd.h"

extern char** environ;

namespace os {
namespace {

using detail::UniqueFd;

constexpr int kBusyRetries = 50;
constexpr useconds_t kBusyPauseUs = 10000;

// In the child, between fork and exec: async-signal-safe calls only. Starts the program in a
// grandchild in its own session, so nothing is left for this process to reap, and reports the
// exec's errno through `report` (closed on exec: nothing read means it started).
[[noreturn]] void StartInGrandchild(int program, int folder, char* const argv[], int report) {
    setsid();
    const pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &byDefault, nullptr);
    int error = 0;
    // The program gets none of this process's descriptors (older kernels: those set to close).
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    // Above the standard streams, which are replaced below.
    const int exe = fcntl(program, F_DUPFD_CLOEXEC, 3);
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (exe < 0 || null < 0 || (folder >= 0 && fchdir(folder) != 0) || dup2(null, 0) < 0 ||
        dup2(null, 1) < 0 || dup2(null, 2) < 0) {
        error = errno;
    } else {
        syscall(SYS_execveat, exe, "", argv, environ, AT_EMPTY_PATH);
        // A "#!" script is handed to its interpreter as /dev/fd/N, which must stay open for
        // it; the kernel refuses the start with ENOENT before anything is replaced.
        if (errno == ENOENT && fcntl(exe, F_SETFD, 0) == 0)
            syscall(SYS_execveat, exe, "", argv, environ, AT_EMPTY_PATH);
        error = errno;
    }
    (void)!write(report, &error, sizeof error);
    _exit(127);
}

// Starts the file open at `program`; 0 when it started, else the errno of the failed step.
int SpawnFrom(int program, int folder, const std::string& argv0) {
    std::vector<char*> argv = {const_cast<char*>(argv0.c_str()), nullptr};
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) return errno;
    // Above the standard streams, which the child replaces.
    UniqueFd readEnd(fcntl(pipeEnds[0], F_DUPFD_CLOEXEC, 3));
    UniqueFd writeEnd(fcntl(pipeEnds[1], F_DUPFD_CLOEXEC, 3));
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    if (readEnd.get() < 0 || writeEnd.get() < 0) return EMFILE;
    const pid_t child = fork();
    if (child == 0) StartInGrandchild(program, folder, argv.data(), writeEnd.get());
    if (child < 0) return errno;
    writeEnd = UniqueFd(-1);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    while ((got = read(readEnd.get(), &error, sizeof error)) < 0 && errno == EINTR) {
    }
    if (got == sizeof error) return error;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : ECHILD;
}

// The judged file as a path, for asking the kernel about the file itself.
std::string DescriptorPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

bool StartCheckedProgram(const std::string& program, const std::string& workingDir) {
    const auto file = detail::OpenThroughSafeFolders(program, true);
    struct stat st {};
    std::string why = file.why;
    if (file.fd.get() >= 0 && (fstat(file.fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
                               (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)) {
        why = program + ": not a regular file, or others may write it";
    }
    detail::SafeOpen folder;
    if (why.empty() && !workingDir.empty()) {
        folder = detail::OpenThroughSafeFolders(workingDir, true);
        if (folder.fd.get() >= 0 && !detail::IsSafeFolderOnTheWay(folder.fd.get()))
            why = workingDir + ": not a folder of the user's that only the user may write";
        if (why.empty()) why = folder.why;
    }
    if (!why.empty()) {
        LogError("program not started", why);
        return false;
    }
    // Permission to execute is the kernel's to say, for this user, on the judged file.
    if (access(DescriptorPath(file.fd.get()).c_str(), X_OK) != 0)
        return OpenWithDefaultHandler(program);
    for (int attempt = 0;; ++attempt) {
        const int error = SpawnFrom(file.fd.get(), folder.fd.get(), program);
        if (error == 0) return true;
        // A program written a moment ago can be "busy" while a child forked by another thread
        // still holds its write descriptor; that passes within milliseconds.
        if (error != ETXTBSY || attempt >= kBusyRetries) {
            LogError("program did not start", program + ": " + std::strerror(error));
            return false;
        }
        usleep(kBusyPauseUs);
    }
}

}  // namespace os
