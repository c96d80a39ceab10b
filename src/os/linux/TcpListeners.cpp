#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>

#include "os/ProcFs.h"
#include "os/linux/TcpListenerTables.h"
#include "os/linux/UniqueFd.h"

namespace os {
namespace {

// Asks the kernel for the listening TCP sockets of one family. Only the listening table is
// walked, where /proc/net/tcp walks every bucket of the connection table too, on each read.
bool AddListenersByNetlink(int family, uint16_t port, std::vector<TcpListenerFacts>& listeners) {
    const detail::UniqueFd netlink(
        socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (netlink.get() < 0) return false;
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message.request.sdiag_family = static_cast<__u8>(family);
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_states = 1u << TCP_LISTEN;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(netlink.get(), &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof kernel) != static_cast<ssize_t>(sizeof message))
        return false;
    alignas(nlmsghdr) char buffer[32 << 10];
    for (;;) {
        // MSG_TRUNC gives the datagram's real length: a cut one would hide listeners. Only
        // the kernel's answers count.
        sockaddr_nl sender{};
        socklen_t senderLength = sizeof sender;
        const ssize_t got = recvfrom(netlink.get(), buffer, sizeof buffer, MSG_TRUNC,
                                     reinterpret_cast<sockaddr*>(&sender), &senderLength);
        if (got <= 0 || static_cast<size_t>(got) > sizeof buffer || sender.nl_pid != 0)
            return false;
        int remaining = static_cast<int>(got);
        for (auto* header = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(header, remaining);
             header = NLMSG_NEXT(header, remaining)) {
            if (header->nlmsg_type == NLMSG_DONE) return true;
            if (header->nlmsg_type == NLMSG_ERROR) return false;
            if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
                header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
                continue;
            const auto* socketFacts = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
            if (ntohs(socketFacts->id.idiag_sport) != port) continue;
            ListenerAddress address;
            address.ipv6 = family == AF_INET6;
            std::memcpy(address.bytes.data(), socketFacts->id.idiag_src, address.ipv6 ? 16 : 4);
            listeners.push_back({ReachableFromLoopback(address), socketFacts->idiag_uid});
        }
    }
}

// The same from /proc/net/tcp or tcp6, for systems without the diagnostics socket (the
// calling thread's network namespace, as the diagnostics socket's).
void AddListenersFromTable(const char* table, bool ipv6, uint16_t port,
                           std::vector<TcpListenerFacts>& listeners) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // column titles
    constexpr unsigned kListening = 0x0A;
    while (std::getline(in, line)) {
        char address[33] = {};
        unsigned int localPort = 0, state = 0, uid = 0;
        // sl: local rem st tx:rx tr:when retrnsmt uid
        if (std::sscanf(line.c_str(),
                        " %*u: %32[0-9A-Fa-f]:%4X %*[0-9A-Fa-f]:%*X %2X %*X:%*X %*X:%*X %*X %u",
                        address, &localPort, &state, &uid) != 4 ||
            state != kListening || localPort != port) {
            continue;
        }
        // The kernel prints each 32-bit word of the network-order address as a native integer.
        const std::string hex = address;
        const size_t words = ipv6 ? 4 : 1;
        if (hex.size() != words * 8) continue;
        ListenerAddress listening;
        listening.ipv6 = ipv6;
        for (size_t word = 0; word < words; ++word) {
            const uint32_t value =
                static_cast<uint32_t>(std::stoul(hex.substr(word * 8, 8), nullptr, 16));
            std::memcpy(listening.bytes.data() + word * 4, &value, 4);
        }
        listeners.push_back({ReachableFromLoopback(listening), uid});
    }
}

}  // namespace

std::vector<TcpListenerFacts> ListTcpListeners(uint16_t port) {
    std::vector<TcpListenerFacts> listeners;
    for (const int family : {AF_INET, AF_INET6}) {
        std::vector<TcpListenerFacts> found;
        if (AddListenersByNetlink(family, port, found)) {
            listeners.insert(listeners.end(), found.begin(), found.end());
            continue;
        }
        const bool ipv6 = family == AF_INET6;
        AddListenersFromTable(ipv6 ? "/proc/thread-self/net/tcp6" : "/proc/thread-self/net/tcp",
                              ipv6, port, listeners);
    }
    return listeners;
}

std::vector<TcpListenerFacts> ListTcpListenersFromTables(uint16_t port) {
    std::vector<TcpListenerFacts> listeners;
    AddListenersFromTable("/proc/thread-self/net/tcp", false, port, listeners);
    AddListenersFromTable("/proc/thread-self/net/tcp6", true, port, listeners);
    return listeners;
}

}  // namespace os
