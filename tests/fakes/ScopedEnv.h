#pragma once
#include <map>
#include <optional>
#include <string>

namespace testsupport {

// Takes a copy of the whole environment and puts it back when destroyed, so a test may set and
// unset variables (HOME, XDG_*, PATH...) freely without the next test in the process seeing
// them. Set and Unset are shorthands that report failure.
class ScopedEnv {
  public:
    ScopedEnv();
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    void Set(const std::string& name, const std::string& value);
    void Unset(const std::string& name);

  private:
    std::map<std::string, std::string> saved_;
};

// The whole environment as name -> value.
std::map<std::string, std::string> CurrentEnvironment();

}  // namespace testsupport
