#include "EmulatedPhone.h"

#include <algorithm>
#include <sstream>

#include "TempDir.h"

namespace testsupport {

EmulatedPhone::EmulatedPhone(const std::string& recordDir, const std::vector<std::string>& options)
    : recordDir_(recordDir) {
    std::vector<std::string> argv{MAPLENOOK_TEST_PHONE_EXE, "--port", "0", "--record", recordDir};
    argv.insert(argv.end(), options.begin(), options.end());
    process_ = std::make_unique<ChildProcess>(argv);
    const std::string marker = "listening on ";
    WaitUntil([&] { return process_->Output().find('\n') != std::string::npos; },
              std::chrono::seconds(10));
    const std::string output = process_->Output();
    const auto at = output.find(marker);
    if (at != std::string::npos)
        address_ = output.substr(at + marker.size(), output.find('\n', at) - at - marker.size());
}

std::vector<std::string> EmulatedPhone::Commands() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(recordDir_ + "/commands.log"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

int EmulatedPhone::CountCommands(const std::string& line) const {
    const auto lines = Commands();
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

}  // namespace testsupport
