#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Facts about running processes and their TCP sockets, read from the system. Decisions over these
// facts live in the logic (src/phone); this layer only gathers them.
namespace os {

struct ProcessFacts {
    long pid = 0;
    // Base name of the executable ("adb"); the kernel's short command name when the executable
    // link cannot be read (another user's process, a kernel thread).
    std::string imageName;
    // Full path of the executable (as it was named, also when it has since been removed);
    // empty when it cannot be read.
    std::string imagePath;
    // The command line, argv[0] first; empty when it cannot be read. A program started
    // through an interpreter (a script, "wine tool.exe") shows its own name only here.
    std::vector<std::string> arguments;
};

// Every process this user can see, in ascending pid order. Also the facts behind "is a program
// of this image name running": compare AsciiLowerCopy(imageName).
std::vector<ProcessFacts> ListProcesses();

// The files a process has loaded: its executable first, then every other file mapped into its
// memory in address order, each once. Empty when the process is gone or may not be inspected.
std::vector<std::string> ProcessModulePaths(long pid);

// Full path of a process's executable, also when the file has since been removed or replaced
// (the kernel's " (deleted)" mark is dropped); empty when it cannot be read.
std::string ProcessImagePath(long pid);

// Ends the process at once (no chance to clean up); true when that was delivered.
bool KillProcess(long pid);

// One IPv4 TCP socket of the system's table. Addresses are in host order (127.0.0.1 is 0x7F000001).
struct TcpRowFacts {
    uint32_t localAddress = 0;
    uint16_t localPort = 0;
    uint32_t remoteAddress = 0;
    uint16_t remotePort = 0;
    int state = 0;  // the TCP state as Linux numbers it (10 = listening)
    unsigned long inode = 0;
    long ownerPid = 0;  // 0 when no visible process holds the socket
};

// Every IPv4 TCP row in all states, sorted by local address, local port, remote address and
// remote port, each owned by the first process (lowest pid) that holds its socket. False when
// the table cannot be read. With `onlyPort`, only the rows of that local port: finding owners
// reads every process's descriptors, so it is done only for the rows wanted.
bool ListTcpRows(std::vector<TcpRowFacts>& rows, std::optional<uint16_t> onlyPort = std::nullopt);

// The local address of a listening TCP socket, as the kernel's tables give it.
struct ListenerAddress {
    bool ipv6 = false;
    // Network order; an IPv4 address takes the first four bytes.
    std::array<unsigned char, 16> bytes{};
};
// Whether a connection to 127.0.0.1 or to ::1 can reach a socket listening on `address`: the
// IPv4 wildcard and 127.0.0.0/8; ::1; :: (::1 reaches it whether IPV6_V6ONLY is set or not,
// so the option, which /proc/net/tcp6 does not show, need not be known); the IPv4-mapped
// wildcard ::ffff:0.0.0.0 and ::ffff:127.x.y.z, which take IPv4 connections.
bool ReachableFromLoopback(const ListenerAddress& address);

// A TCP socket listening on a port, IPv4 or IPv6.
struct TcpListenerFacts {
    bool reachableOnLoopback = false;  // bound to a loopback address or to every address
    unsigned uid = 0;                  // the user whose process opened it
};
// The listeners on `port` in this network namespace; empty when none (or none can be read).
std::vector<TcpListenerFacts> ListTcpListeners(uint16_t port);

// The effective user this process runs as.
unsigned EffectiveUserId();

}  // namespace os
