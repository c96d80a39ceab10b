#pragma once
#include <string>
#include <vector>

// A notification's arguments in one line, apart by ',' as they stand in the page's script.
inline std::string JoinedNotifyArgs(const std::vector<std::string>& args) {
    std::string joined;
    for (size_t i = 0; i < args.size(); ++i) joined += (i == 0 ? "" : "','") + args[i];
    return joined;
}
