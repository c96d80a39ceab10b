// The demo maker site: serves the main page, the tool packages and the statistics endpoint on
// loopback, so that the program shows its whole flow without any outside server.
//   maplenook_demo_site <site folder> [port]
// The port defaults to the one of the build's main page address.
#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <site folder> [port]\n", argv[0]);
        return 2;
    }
    const std::string site = argv[1];
    const int port = argc > 2 ? std::atoi(argv[2]) : DefaultPort();

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
    if (!server.set_mount_point("/packages", site + "/packages")) {
        std::fprintf(stderr, "demo site: %s/packages not found\n", site.c_str());
        return 1;
    }
    server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        if (req.path != "/log")
            std::cout << "demo site: " << req.method << " " << req.path << " -> " << res.status
                      << std::endl;
    });

    std::cout << "demo site: http://127.0.0.1:" << port << "/Brush.html" << std::endl;
    if (!server.listen("127.0.0.1", port)) {
        std::fprintf(stderr, "demo site: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    return 0;
}
