#pragma once
#include <string>
#include <vector>

namespace os {

// Starts `program` with `args` (argv[1..]) detached from this process: its own session, no
// terminal, standard streams on /dev/null, reaped by the system so no zombie is left. Never
// goes through a shell. An empty `workingDir` keeps the current one. True when it started.
bool StartDetached(const std::string& program, const std::vector<std::string>& args,
                   const std::string& workingDir = {});

// This process's id.
long CurrentProcessId();

}  // namespace os
