#include "os/ChildProcess.h"

// No platform: no child program can be started.
namespace os {

struct ChildProcess::Native {};

ChildProcess::ChildProcess() = default;
ChildProcess::~ChildProcess() = default;

bool ChildProcess::Start(const std::vector<std::string>& /*args*/, Input /*input*/) {
    return false;
}

bool ChildProcess::WaitForExit(int /*timeoutMs*/) {
    return true;
}

ChildProcess::ReadStatus ChildProcess::Read(char* /*buffer*/, size_t /*capacity*/, size_t& got,
                                            int /*timeoutMs*/) {
    got = 0;
    return ReadStatus::End;
}

bool ChildProcess::WriteInput(const std::string& /*bytes*/) {
    return false;
}

void ChildProcess::Terminate() {}

bool ChildProcess::Reap(bool /*block*/) {
    return true;
}

}  // namespace os
