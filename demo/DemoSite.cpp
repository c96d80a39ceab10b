// The demo maker site: serves the main page, the tool packages and the statistics endpoint on
// loopback, so that the program shows its whole flow without any outside server.
//   maplenook_demo_site <site folder> [port] [--rate BYTES_PER_SECOND] [--cut]
// The port defaults to the one of the build's main page address. Packages come with a strong
// ETag and Last-Modified and answer ranges (with If-Range), so a cut download resumes; --rate
// paces them, and --cut ends each package's first whole answer half way, once.
#include <httplib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BuildConfig.h"

namespace {

int DefaultPort() {
    // "http://host:port/..." -> port; 80 when the address names none.
    const std::string url = MAPLENOOK_PAGE_URL;
    auto hostStart = url.find("://");
    hostStart = hostStart == std::string::npos ? 0 : hostStart + 3;
    const auto pathStart = url.find('/', hostStart);
    const std::string host = url.substr(hostStart, pathStart - hostStart);
    const auto colon = host.rfind(':');
    if (colon == std::string::npos) return 80;
    return std::atoi(host.c_str() + colon + 1);
}

bool ReadFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream out;
    out << in.rdbuf();
    bytes = out.str();
    return true;
}

struct Pacing {
    long rate = 0;     // bytes a second; 0: as fast as the socket takes them
    bool cut = false;  // cut each package's first whole answer half way
    std::mutex mutex;
    std::set<std::string> cutAlready;
};

std::string HttpDate(time_t when) {
    char text[64];
    std::tm parts{};
    gmtime_r(&when, &parts);
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

// A package from the site's packages folder: validators, ranges (a range under an If-Range that
// names another version is answered whole, as HTTP asks), pacing and the demo's cut.
void ServePackage(const std::string& folder, Pacing& pacing, const httplib::Request& req,
                  httplib::Response& res) {
    const std::string name = req.matches[1];
    const std::string path = folder + "/" + name;
    struct stat st {};
    auto body = std::make_shared<std::string>();
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !ReadFile(path, *body)) {
        res.status = 404;
        return;
    }
    char etag[64];
    std::snprintf(etag, sizeof etag, "\"%llx-%llx\"", static_cast<unsigned long long>(st.st_size),
                  static_cast<unsigned long long>(st.st_mtim.tv_sec) * 1000000000ULL +
                      static_cast<unsigned long long>(st.st_mtim.tv_nsec));
    const std::string modified = HttpDate(st.st_mtim.tv_sec);
    res.set_header("ETag", etag);
    res.set_header("Last-Modified", modified);
    res.set_header("Accept-Ranges", "bytes");
    const std::string ifRange = req.get_header_value("If-Range");
    // Another version than the piece asked for: the whole body. The library slices any answer
    // to the request's ranges, so they go.
    if (!req.ranges.empty() && !ifRange.empty() && ifRange != etag && ifRange != modified)
        const_cast<httplib::Request&>(req).ranges.clear();
    const bool whole = req.ranges.empty();
    bool cutThis = false;
    const bool archive = name.size() > 4 && name.compare(name.size() - 4, 4, ".zip") == 0;
    if (pacing.cut && whole && archive) {
        std::lock_guard<std::mutex> lock(pacing.mutex);
        cutThis = pacing.cutAlready.insert(name).second;
    }
    const long rate = pacing.rate;
    const size_t cutAt = cutThis ? body->size() / 2 : body->size();
    res.set_content_provider(
        body->size(), archive ? "application/zip" : "text/plain",
        [body, rate, cutAt](size_t offset, size_t length, httplib::DataSink& sink) {
            // Pieces of a tenth of a second at the pace asked for.
            const size_t piece = rate > 0 ? std::max<size_t>(1024, rate / 10) : 256 * 1024;
            const size_t end = offset + length;
            for (size_t at = offset; at < end;) {
                if (at >= cutAt) return false;  // the demo's cut: the connection ends here
                const size_t n = std::min({piece, end - at, cutAt - at});
                if (!sink.write(body->data() + at, n)) return false;
                at += n;
                if (rate > 0)
                    std::this_thread::sleep_for(
                        std::chrono::microseconds(static_cast<long long>(n) * 1000000 / rate));
            }
            return true;
        });
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> positional;
    Pacing pacing;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--rate" && i + 1 < argc) {
            pacing.rate = std::atol(argv[++i]);
        } else if (argument == "--cut") {
            pacing.cut = true;
        } else {
            positional.push_back(argument);
        }
    }
    if (positional.empty()) {
        std::fprintf(stderr, "usage: %s <site folder> [port] [--rate BYTES_PER_SECOND] [--cut]\n",
                     argv[0]);
        return 2;
    }
    const std::string site = positional[0];
    const int port = positional.size() > 1 ? std::atoi(positional[1].c_str()) : DefaultPort();

    httplib::Server server;
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/Brush.html");
    });
    // The same page as the program's local copy, marked as the online one.
    server.Get("/Brush.html", [&site](const httplib::Request&, httplib::Response& res) {
        std::string page;
        if (!ReadFile(site + "/Brush.html", page)) {
            res.status = 404;
            return;
        }
        const std::string local = "data-origin=\"local\"";
        if (auto at = page.find(local); at != std::string::npos)
            page.replace(at, local.size(), "data-origin=\"online\"");
        res.set_header("Cache-Control", "no-store");
        res.set_content(page, "text/html; charset=utf-8");
    });
    // The pop panel's page.
    server.Get("/notices.html", [&site](const httplib::Request&, httplib::Response& res) {
        std::string page;
        if (!ReadFile(site + "/notices.html", page)) {
            res.status = 404;
            return;
        }
        res.set_header("Cache-Control", "no-store");
        res.set_content(page, "text/html; charset=utf-8");
    });
    // Usage reports arrive as /log?command=sign&ip=...&mac=...&os=...&
    server.Get("/log", [](const httplib::Request& req, httplib::Response& res) {
        std::string line = "usage report from " + req.remote_addr + ":";
        for (const char* key : {"command", "ip", "mac", "os"}) {
            line += std::string(" ") + key + "=";
            line += req.has_param(key) ? req.get_param_value(key) : "(none)";
        }
        std::cout << line << std::endl;
        res.set_content("ok", "text/plain");
    });
    struct stat packages {};
    if (stat((site + "/packages").c_str(), &packages) != 0 || !S_ISDIR(packages.st_mode)) {
        std::fprintf(stderr, "demo site: %s/packages not found\n", site.c_str());
        return 1;
    }
    server.Get(R"(/packages/([A-Za-z0-9_.-]+\.zip(?:\.minisig)?))",
               [&site, &pacing](const httplib::Request& req, httplib::Response& res) {
                   ServePackage(site + "/packages", pacing, req, res);
               });
    server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        if (req.path != "/log")
            std::cout << "demo site: " << req.method << " " << req.path
                      << (req.has_header("Range") ? " " + req.get_header_value("Range") : "")
                      << " -> " << res.status << std::endl;
    });

    std::cout << "demo site: http://127.0.0.1:" << port << "/Brush.html" << std::endl;
    if (!server.listen("127.0.0.1", port)) {
        std::fprintf(stderr, "demo site: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    return 0;
}
