#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "os/ProcFs.h"

// Other phone programs bring their own bridge servers and we may have left a stale copy of
// ours running. These queries let the tool set-up find and end our stale copy, and find which
// programs own the bridge port so that one of them can be used instead of our private copy.
// Every call reads the process table afresh; failures read as "nothing found".

// Programs whose bridge server must never be borrowed, matched in lower-cased image paths.
inline const std::vector<std::string> kExcludedBridgePrograms = {"qq.exe", "360mobilemgr.exe",
                                                                 "wandoujia2.exe"};

// File name of the companion daemon in the module directory; port owners are reported to it.
inline constexpr const char* kDaemonFileName = "krmdDaemon.exe";

// Image names that count as a bridge executable (ours is "adb"; "foo-adb" counts too).
bool IsBridgeImageName(const std::string& imageName);

// The first of `modules` (a process's executable first, then its other mapped files) that
// contains `imageName`, compared case-sensitively; empty when none does.
std::string FirstModuleContaining(const std::vector<std::string>& modules,
                                  const std::string& imageName);

// Pids of the rows whose local port is `port` and whose owner is known, in row order; a
// server with a listening socket and accepted connections appears once per row.
std::vector<long> PortOwnerPids(const std::vector<os::TcpRowFacts>& rows, uint16_t port);

// Path of a module of process `pid` that contains `imageName`; empty when none or when the
// process cannot be inspected.
std::string ModulePathOf(long pid, const std::string& imageName);

// Image paths of running bridge processes whose executable still exists, in pid order.
std::vector<std::string> ListAdbProcesses();

// Finds every process whose image path equals `imagePath` (ASCII case folded) and, when
// `terminate` is set, kills each with SIGKILL. True when at least one was found. An empty path
// matches nothing.
bool KillProcessesByPath(const std::string& imagePath, bool terminate);

// Appends the image path of the owner of each IPv4 row whose local port is `port` to
// `owners` (an empty text when the owner's path cannot be read), reporting each to the daemon
// in `moduleDirectory` first. False when the TCP table cannot be read.
bool FindPortOwners(uint16_t port, std::vector<std::string>& owners,
                    const std::string& moduleDirectory);
// The same with the running executable's folder as module directory.
bool FindPortOwners(uint16_t port, std::vector<std::string>& owners);

// The first path whose lower-cased copy contains none of kExcludedBridgePrograms, returned as
// found (Linux paths are case-sensitive: a lower-cased copy could name no file); empty when none.
std::string PickForeignAdb(const std::vector<std::string>& imagePaths);

// Starts moduleDirectory/krmdDaemon.exe hidden and detached with the arguments -p and
// `imagePath`; nothing happens when the daemon is not there. True when it was started.
bool ReportToDaemon(const std::string& moduleDirectory, const std::string& imagePath);
