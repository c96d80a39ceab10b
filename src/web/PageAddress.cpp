#include "web/PageAddress.h"

#include <boost/lexical_cast.hpp>

#include "base/Settings.h"
#include "base/TextCase.h"
#include "os/InstallFacts.h"
#include "web/PageCommand.h"

namespace {

bool IsPlainUrlByte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("/-._~!$&'()*+,;=:@").find(static_cast<char>(c)) !=
               std::string_view::npos;
}

// Characters a path may hold but a URL may not ("#", "?", "%", blanks, non-ASCII) are
// escaped, so a module folder with such a name still gives a working address.
std::string EscapePath(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    for (unsigned char c : path) {
        if (IsPlainUrlByte(c)) {
            escaped += static_cast<char>(c);
        } else {
            escaped += '%';
            escaped += kHex[c >> 4];
            escaped += kHex[c & 15];
        }
    }
    return escaped;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string UnescapePath(const std::string& text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            plain += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

struct Origin {
    std::string scheme;
    std::string host;
    std::string port;
};

// scheme://[user@]host[:port] of a hierarchical address; false when it has no authority.
bool ParseOrigin(const std::string& url, Origin& origin, std::string& rest) {
    const size_t colon = url.find(':');
    if (colon == std::string::npos || url.compare(colon, 3, "://") != 0) return false;
    origin.scheme = AsciiLowerCopy(url.substr(0, colon));
    const size_t start = colon + 3;
    const size_t end = url.find_first_of("/?#", start);
    std::string authority = url.substr(start, end == std::string::npos ? end : end - start);
    rest = end == std::string::npos ? std::string() : url.substr(end);
    if (const size_t at = authority.rfind('@'); at != std::string::npos) {
        authority.erase(0, at + 1);
    }
    size_t portColon = authority.rfind(':');
    if (portColon != std::string::npos && authority.find(']', portColon) != std::string::npos) {
        portColon = std::string::npos;  // a colon inside an IPv6 literal
    }
    origin.host = AsciiLowerCopy(authority.substr(0, portColon));
    origin.port = portColon == std::string::npos ? std::string() : authority.substr(portColon + 1);
    if (origin.port.empty()) {
        if (origin.scheme == "http") origin.port = "80";
        if (origin.scheme == "https") origin.port = "443";
    }
    return true;
}

bool HasDotSegment(const std::string& path) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string segment = path.substr(start, end - start);
        if (segment == "." || segment == "..") return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

std::string PageTarget(const std::string& text, const std::string& executablePath,
                       const std::string& moduleDirectory) {
    if (IsIntegerText(text)) {
        return "res://" + executablePath + "/" + std::to_string(boost::lexical_cast<int32_t>(text));
    }
    for (const char* scheme : {"http:", "https:", "file:"}) {
        if (text.find(scheme) != std::string::npos) return text;
    }
    return FileUrlOf(JoinModulePath(moduleDirectory, text));
}

std::string FileUrlOf(const std::string& path) {
    std::string slashed = path;
    for (auto& c : slashed) {
        if (c == '\\') c = '/';
    }
    if (slashed.empty() || slashed.front() != '/') slashed.insert(slashed.begin(), '/');
    return "file://" + EscapePath(slashed);
}

bool IsTrustedPageUrl(const std::string& url, const std::string& mainPageUrl,
                      const std::string& moduleDirectory) {
    Origin origin;
    std::string rest;
    if (!ParseOrigin(url, origin, rest)) return false;
    if (origin.scheme == "res") return true;
    if (origin.scheme == "file") {
        if (!origin.host.empty() && origin.host != "localhost") return false;
        const size_t end = rest.find_first_of("?#");
        const std::string path = UnescapePath(rest.substr(0, end));
        std::string folder = moduleDirectory;
        while (!folder.empty() && folder.back() == '/') folder.pop_back();
        if (folder.empty() || HasDotSegment(path)) return false;
        return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
               path[folder.size()] == '/';
    }
    // Compared as the browser spells both: the setting may say 127.1 or :017361.
    Origin page, main;
    std::string mainRest;
    if (!ParseOrigin(CanonicalAddress(url), page, rest) ||
        !ParseOrigin(CanonicalAddress(mainPageUrl), main, mainRest) || main.host.empty())
        return false;
    return page.scheme == main.scheme && page.host == main.host && page.port == main.port;
}

bool IsTrustedPage(const std::string& url, const std::string& mainPageUrl,
                   const std::string& moduleDirectory) {
    Origin origin;
    std::string rest;
    if (!ParseOrigin(url, origin, rest) || origin.scheme != "file") {
        return IsTrustedPageUrl(url, mainPageUrl, moduleDirectory);
    }
    if (!origin.host.empty() && origin.host != "localhost") return false;
    const std::string path = UnescapePath(rest.substr(0, rest.find_first_of("?#")));
    // A NUL would end the path early when the system reads it.
    if (path.find('\0') != std::string::npos) return false;
    const std::string realPath = os::ResolvedPath(path);
    const std::string realFolder = os::ResolvedPath(moduleDirectory);
    if (realPath.empty() || realFolder.empty()) return false;
    return IsTrustedPageUrl(FileUrlOf(realPath), mainPageUrl, realFolder);
}
