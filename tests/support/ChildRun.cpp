#include "ChildRun.h"

#include "TempDir.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testsupport {
namespace {

// Runs a forked child's body. What it throws must end the child here: gtest would catch it in
// the fork and go on running the rest of the suite beside the parent.
int ChildBody(const std::function<int()>& body) {
    try {
        return body();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "child: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "child: an exception\n");
    }
    return kChildThrew;
}

std::string NewOutputPath() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/maplenook-child-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    close(fd);
    return pattern;
}

void FillOutcome(int status, ChildOutcome& outcome) {
    if (WIFEXITED(status)) {
        outcome.exited = true;
        outcome.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    }
}

// Reaps `pid` if it has ended within `timeout`.
bool WaitForExit(pid_t pid, int& status, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return true;
        if (r < 0 && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const EnvOverrides& env,
                           const std::string& workingDir)
    : outputPath_(NewOutputPath()) {
    // Everything the child needs is built before fork: only exec-safe calls happen after it.
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const auto eq = entry.find('=');
        if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [name, value] : env) vars[name] = value;
    std::vector<std::string> envText;
    for (const auto& [name, value] : vars) envText.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (auto& a : args) argp.push_back(a.data());
    argp.push_back(nullptr);

    const int out = open(outputPath_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        if (!workingDir.empty() && chdir(workingDir.c_str()) != 0) _exit(126);
        execvpe(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    close(out);
    close(in);
    if (pid_ < 0) throw std::runtime_error("fork failed");
}

ChildProcess::~ChildProcess() {
    if (!reaped_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
    unlink(outputPath_.c_str());
}

ChildOutcome ChildProcess::Wait(std::chrono::milliseconds timeout) {
    ChildOutcome outcome;
    if (!reaped_) reaped_ = WaitForExit(pid_, status_, timeout);
    if (reaped_) {
        FillOutcome(status_, outcome);
    } else {
        outcome.timedOut = true;
    }
    outcome.output = Output();
    return outcome;
}

bool ChildProcess::Running() {
    if (!reaped_) reaped_ = waitpid(pid_, &status_, WNOHANG) == pid_;
    return !reaped_;
}

void ChildProcess::Signal(int signal) {
    if (!reaped_) kill(pid_, signal);
}

std::string ChildProcess::Output() const {
    return ReadFile(outputPath_);
}

ChildOutcome RunChild(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                      const EnvOverrides& env, const std::string& workingDir) {
    ChildProcess child(argv, env, workingDir);
    ChildOutcome outcome = child.Wait(timeout);
    if (outcome.timedOut) child.Signal(SIGKILL);
    return outcome;
}

ChildOutcome RunInChild(const std::function<int()>& body, std::chrono::milliseconds timeout) {
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) _exit(ChildBody(body));
    ChildOutcome outcome;
    int status = 0;
    if (WaitForExit(pid, status, timeout)) {
        FillOutcome(status, outcome);
    } else {
        outcome.timedOut = true;
        KillAndReap(pid, SIGKILL);
    }
    return outcome;
}

pid_t StartInChild(const std::function<void()>& body) {
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        _exit(ChildBody([&] {
            body();
            return 0;
        }));
    }
    return pid;
}

void KillAndReap(pid_t pid, int signal) {
    kill(pid, signal);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

namespace {

// Whether an id map of /proc/self ("inside outside count" lines) covers `id`.
bool Mapped(const char* map, unsigned long id) {
    std::ifstream in(map);
    unsigned long inside = 0, outside = 0, count = 0;
    while (in >> inside >> outside >> count) {
        if (id >= inside && id - inside < count) return true;
    }
    return false;
}

}  // namespace

std::string NobodyUnavailable() {
    if (geteuid() != 0) return "handing files to another user or becoming one needs root";
    if (!Mapped("/proc/self/uid_map", kNobody) || !Mapped("/proc/self/gid_map", kNobody))
        return "uid 65534 is not mapped in this user namespace";
    return {};
}

std::string OrdinaryUserUnavailable() {
    return geteuid() == 0 ? NobodyUnavailable() : std::string();
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool StagedFileIsPartlyWritten(const std::string& folder, const std::string& base,
                               const std::string& file, uintmax_t fullSize) {
    namespace fs = std::filesystem;
    const std::string prefix = "." + base + ".unzip-";
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder + "/.maplenook", error)) {
        if (entry.path().filename().string().rfind(prefix, 0) != 0) continue;
        const auto size = fs::file_size(entry.path() / file, error);
        if (!error && size > 0 && size < fullSize) return true;
    }
    return false;
}

}  // namespace testsupport
