#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace os {

// A hidden child process whose standard output and standard error arrive, interleaved as
// written, on one pipe this object reads. The child runs in its own session with standard
// input from the null device, or from a channel this object writes to. The destructor kills a child
// that is still running and reaps it, so no zombie is ever left.
class ChildProcess {
  public:
    enum class Input { Null, Channel };
    enum class ReadStatus { Data, End, Timeout };

    ChildProcess();
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // args[0] is the program: a path, or a name looked up in PATH. Never goes through a shell.
    // False when the program could not be started (nothing is left running then).
    bool Start(const std::vector<std::string>& args, Input input = Input::Null);

    // Waits up to `timeoutMs` for the child to end; true when it has ended.
    bool WaitForExit(int timeoutMs);
    // The child's exit code once it has been seen to end by itself; -1 before that, and when a
    // signal ended it.
    int ExitCode() const { return exitCode_; }

    // Reads at most `capacity` bytes of output. Data: `got` > 0 bytes were read. End: every
    // writer has closed the pipe (or it failed). Timeout: nothing arrived within `timeoutMs`
    // (a negative value waits without limit).
    ReadStatus Read(char* buffer, size_t capacity, size_t& got, int timeoutMs);

    // Writes all of `bytes` to the child's input channel; false when there is no channel or
    // the child no longer reads it. Never interrupts the program when the child has gone.
    bool WriteInput(const std::string& bytes);

    // Kills the child if it has not ended yet (no chance to clean up), reaps it and closes every
    // channel.
    void Terminate();

  private:
    bool Reap(bool block);

    // The platform's handles on the child and its channels.
    struct Native;
    std::unique_ptr<Native> native_;
    bool reaped_ = true;
    int exitCode_ = -1;
};

}  // namespace os
