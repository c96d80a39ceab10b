#pragma once
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "ChildRun.h"

namespace testsupport {

// The emulated phone of demo/ (maplenook-demo-phone) on a free port of 127.0.0.1 in this
// thread's network namespace, recording into a folder of its own. Killed when destroyed.
class EmulatedPhone {
  public:
    EmulatedPhone(const std::string& recordDir, const std::vector<std::string>& options = {});

    // "127.0.0.1:<port>", or empty when the phone did not come up.
    const std::string& Address() const { return address_; }
    const std::string& RecordDir() const { return recordDir_; }
    // The lines of its commands.log.
    std::vector<std::string> Commands() const;
    int CountCommands(const std::string& line) const;
    ChildProcess& Process() { return *process_; }

  private:
    std::string recordDir_;
    std::unique_ptr<ChildProcess> process_;
    std::string address_;
};

}  // namespace testsupport
