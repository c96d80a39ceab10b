#pragma once
#include <string>
#include <vector>

namespace os {

// Starts `program` with `args` (argv[1..]) detached from this process: its own session, no
// terminal, standard streams on /dev/null, reaped by the system so no zombie is left. Never
// goes through a shell. An empty `workingDir` keeps the current one. True when it started.
bool StartDetached(const std::string& program, const std::vector<std::string>& args,
                   const std::string& workingDir = {});

// Starts `program` as StartDetached does, but from the file a walk from "/" opened and judged,
// in the working folder such a walk opened, so that what is started is the file judged,
// whatever is renamed meanwhile. Every level belongs to the user or root, every folder on the
// way may be written by its owner alone or is sticky, and the program is a regular file others
// cannot write. A program without execute permission opens with the desktop's default handler,
// as ShellOpen would. False when refused or not started (logged).
bool StartCheckedProgram(const std::string& program, const std::string& workingDir);

// This process's id.
long CurrentProcessId();

}  // namespace os
