#include "mainpanel/UsageReport.h"

#include "os/Files.h"

#include "base/Settings.h"
#include "base/WorkerPool.h"
#include "mainpanel/MakerAddresses.h"
#include "os/Process.h"
#include "sysutil/SystemInfo.h"
#include "web/HttpClient.h"

namespace {

std::string QueryValue(const std::string& value) {
    std::string escaped;
    for (const char c : value) {
        if (c == '#') {
            escaped += "%23";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

}  // namespace

void LaunchUpdater(long windowHandle) {
    LaunchUpdaterIn(ShortPathOf(ModuleDirectory()), windowHandle);
}

void LaunchUpdaterIn(const std::string& moduleDirectory, long windowHandle) {
    // The updater is optional: an installation without one has nothing to start or to log.
    if (!os::FileExists(moduleDirectory + "/autoupdate.exe")) return;
    // One argument per value: a directory with blanks stays one argument, which the short
    // path form guaranteed where the updater parsed a single command-line text.
    os::StartDetached(moduleDirectory + "/autoupdate.exe",
                      {moduleDirectory + "/autoupdate.xml", std::to_string(windowHandle),
                       std::to_string(os::CurrentProcessId())});
}

std::string UsageReportBase() {
    return StatsServerAddress() + "/log?command=sign&";
}

std::string UsageReportUrl(const std::string& reportBase, const std::string& ip,
                           const std::string& mac, const std::string& osName) {
    return reportBase + "ip=" + QueryValue(ip) + "&" + "mac=" + QueryValue(mac) + "&" +
           "os=" + QueryValue(osName) + "&";
}

void SendUsageReport() {
    SendUsageReportTo(UsageReportBase());
}

void SendUsageReportTo(const std::string& reportBase) {
    // Resolving the host name can wait on a slow resolver; the GUI thread must not.
    QueueWorkerTask([reportBase] {
        CHttpClient client;
        client.Request(UsageReportUrl(reportBase, LocalIpText(), MacText(), OsDisplayName()), true,
                       "GET", "");
    });
}
