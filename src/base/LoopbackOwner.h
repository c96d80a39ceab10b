#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "os/ProcFs.h"

// A loopback address is only as trustworthy as whoever listens there: on a shared machine any
// user can bind a free port on 127.0.0.1 first. A loopback service counts as the user's own
// only while every socket that could answer it belongs to the user (or to root).

// Whether `listeners` (of one port) hold at least one socket reachable on loopback, and every
// such socket belongs to `uid` or root.
bool ListenersAreTheUsers(const std::vector<os::TcpListenerFacts>& listeners, unsigned uid);

// ListenersAreTheUsers for the listeners of `port` now, for this process's user.
bool LoopbackPortIsTheUsers(uint16_t port);

// The port of `url` when its host is a loopback address (127.0.0.0/8 in any spelling, 0.0.0.0,
// "localhost", "[::1]", "[::]", IPv4-mapped 127 addresses),
// the scheme's default when none is written; nothing for any other host.
std::optional<uint16_t> LoopbackPortOf(const std::string& url);

// False only for a loopback address whose port another user serves (or nobody serves):
// nothing is sent there and nothing from there is trusted. Other addresses: true.
bool AddressMayBeUsed(const std::string& url);

// Whether `listeners` hold a socket reachable on loopback of anyone but `uid` and root.
bool ListenersIncludeAnotherUsers(const std::vector<os::TcpListenerFacts>& listeners, unsigned uid);

// True only for a loopback address where a socket of another user's listens now: whatever
// answers there may be theirs. Nobody listening is not another user (the connection fails).
bool AnotherUserServes(const std::string& url);
