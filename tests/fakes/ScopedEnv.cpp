#include "ScopedEnv.h"

#include <cstdlib>
#include <stdexcept>

extern char** environ;

namespace testsupport {

std::map<std::string, std::string> CurrentEnvironment() {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos)
            variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    return variables;
}

ScopedEnv::ScopedEnv() : saved_(CurrentEnvironment()) {}

ScopedEnv::~ScopedEnv() {
    for (const auto& [name, value] : CurrentEnvironment()) {
        if (saved_.count(name) == 0) unsetenv(name.c_str());
    }
    for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
}

void ScopedEnv::Set(const std::string& name, const std::string& value) {
    if (setenv(name.c_str(), value.c_str(), 1) != 0) throw std::runtime_error("setenv " + name);
}

void ScopedEnv::Unset(const std::string& name) {
    if (unsetenv(name.c_str()) != 0) throw std::runtime_error("unsetenv " + name);
}

}  // namespace testsupport
