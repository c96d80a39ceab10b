#include "os/ProcFs.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

namespace os {
namespace {

// Numeric entries of a /proc-style folder, ascending.
std::vector<long> NumericEntries(const std::string& folder) {
    std::vector<long> out;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return out;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        out.push_back(std::stol(name));
    }
    closedir(dir);
    std::sort(out.begin(), out.end());
    return out;
}

std::string ReadLink(const std::string& path) {
    std::string buffer(4096, '\0');
    const ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return {};
    buffer.resize(static_cast<size_t>(n));
    return buffer;
}

// The kernel marks a file that was removed or replaced after it was opened; the path is the
// one it had, which is what every comparison means.
std::string WithoutDeletedMark(std::string path) {
    static const std::string kMark = " (deleted)";
    if (path.size() > kMark.size() &&
        path.compare(path.size() - kMark.size(), kMark.size(), kMark) == 0) {
        path.resize(path.size() - kMark.size());
    }
    return path;
}

std::vector<std::string> CommandLineOf(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::vector<std::string> arguments;
    std::string argument;
    while (std::getline(in, argument, '\0')) arguments.push_back(argument);
    return arguments;
}

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ShortCommandName(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

// A process that has ended but whose parent has not collected it yet (or that is being
// removed): it runs nothing, so it is not listed. The state follows the last ")" of the
// command name in /proc/<pid>/stat, since the name itself may hold one.
bool HasEnded(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) return true;
    const char state = stat[close + 2];
    return state == 'Z' || state == 'X';
}

// inode -> lowest pid holding "socket:[inode]" among its open descriptors.
std::map<unsigned long, long> SocketOwners(const std::set<unsigned long>& wanted) {
    std::map<unsigned long, long> owners;
    if (wanted.empty()) return owners;
    for (long pid : NumericEntries("/proc")) {
        const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
        for (long fd : NumericEntries(fdDir)) {
            const std::string target = ReadLink(fdDir + "/" + std::to_string(fd));
            unsigned long inode = 0;
            if (std::sscanf(target.c_str(), "socket:[%lu]", &inode) != 1) continue;
            if (wanted.count(inode) != 0) owners.emplace(inode, pid);
        }
        if (owners.size() == wanted.size()) break;
    }
    return owners;
}

}  // namespace

std::string ProcessImagePath(long pid) {
    return WithoutDeletedMark(ReadLink("/proc/" + std::to_string(pid) + "/exe"));
}

std::vector<ProcessFacts> ListProcesses() {
    std::vector<ProcessFacts> out;
    for (long pid : NumericEntries("/proc")) {
        ProcessFacts facts;
        facts.pid = pid;
        facts.imagePath = ProcessImagePath(pid);
        facts.imageName =
            facts.imagePath.empty() ? ShortCommandName(pid) : BaseName(facts.imagePath);
        facts.arguments = CommandLineOf(pid);
        // A process that ended between the listing and the reads leaves nothing to report.
        if (facts.imagePath.empty() && facts.imageName.empty()) continue;
        if (HasEnded(pid)) continue;
        out.push_back(std::move(facts));
    }
    return out;
}

std::vector<std::string> ProcessModulePaths(long pid) {
    std::vector<std::string> modules;
    const std::string exe = ProcessImagePath(pid);
    if (exe.empty()) return modules;
    modules.push_back(exe);
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::set<std::string> seen{exe};
    std::string line;
    while (std::getline(maps, line)) {
        // address perms offset dev inode path; the path is the rest of the line (it may hold
        // blanks) and only files start with "/", not [heap], [stack] or anonymous maps.
        const auto slash = line.find('/');
        if (slash == std::string::npos) continue;
        std::string path = WithoutDeletedMark(line.substr(slash));
        if (seen.insert(path).second) modules.push_back(std::move(path));
    }
    return modules;
}

bool KillProcess(long pid) {
    if (pid <= 0) return false;
    return kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

bool ListTcpRows(std::vector<TcpRowFacts>& rows, std::optional<uint16_t> onlyPort) {
    rows.clear();
    std::ifstream in("/proc/net/tcp");
    if (!in) return false;
    std::string line;
    std::getline(in, line);  // column titles
    while (std::getline(in, line)) {
        unsigned int localAddr = 0, localPort = 0, remoteAddr = 0, remotePort = 0, state = 0;
        unsigned long inode = 0;
        // sl: local rem st tx:rx tr:when retrnsmt uid timeout inode
        if (std::sscanf(line.c_str(), " %*u: %8X:%4X %8X:%4X %2X %*X:%*X %*X:%*X %*X %*u %*u %lu",
                        &localAddr, &localPort, &remoteAddr, &remotePort, &state, &inode) != 6) {
            continue;
        }
        if (onlyPort && localPort != *onlyPort) continue;
        TcpRowFacts row;
        // The kernel prints the address as the hexadecimal of its in-memory (network order)
        // value read as a native integer; on little-endian machines that reverses the bytes.
        row.localAddress = ntohl(localAddr);
        row.remoteAddress = ntohl(remoteAddr);
        row.localPort = static_cast<uint16_t>(localPort);
        row.remotePort = static_cast<uint16_t>(remotePort);
        row.state = static_cast<int>(state);
        row.inode = inode;
        rows.push_back(row);
    }
    std::set<unsigned long> inodes;
    for (const auto& row : rows) {
        if (row.inode != 0) inodes.insert(row.inode);
    }
    const auto owners = SocketOwners(inodes);
    for (auto& row : rows) {
        const auto it = owners.find(row.inode);
        row.ownerPid = it == owners.end() ? 0 : it->second;
    }
    std::sort(rows.begin(), rows.end(), [](const TcpRowFacts& a, const TcpRowFacts& b) {
        return std::tie(a.localAddress, a.localPort, a.remoteAddress, a.remotePort) <
               std::tie(b.localAddress, b.localPort, b.remoteAddress, b.remotePort);
    });
    return true;
}

unsigned EffectiveUserId() {
    return static_cast<unsigned>(geteuid());
}

}  // namespace os
