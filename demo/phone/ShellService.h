#pragma once
#include <string>

#include "Service.h"
#include "ShellCommands.h"

namespace phone {

// "shell:<command>" and "shell,v2[,raw|,pty]:<command>": one command, or, with none, an
// interactive shell that shows a prompt and runs each line it is given. Version 2 frames every
// piece as [id][little-endian length][data] (0 input, 1 output, 2 errors, 3 exit code, 4 end of
// input, 5 window size); version 1 is the bare byte stream, errors mixed into the output.
class ShellService : public Service {
  public:
    ShellService(PhoneState& phone, bool v2, bool pty, std::string command);
    void Start() override;
    bool Receive(std::string_view bytes) override;

    // The prompt the phone's shell shows, at the very end of its output.
    static constexpr const char* kPrompt = "shell@android:/ $ ";
    // Longest input line and longest version-2 packet the shell takes.
    static constexpr size_t kMaxLine = 64 * 1024;

  private:
    bool Input(std::string_view bytes);
    // Handles a key the terminal takes itself; false when it belongs to the line.
    bool TerminalKey(char c);
    void RunLine();
    void Emit(int id, const std::string& text);
    void Exit(int code);

    PhoneState& phone_;
    bool v2_;
    bool pty_;
    std::string command_;
    std::string packets_;
    std::string line_;
    bool lastWasReturn_ = false;
};

}  // namespace phone
