#pragma once
#include <string>

// Starts the module directory's updater, "autoupdate.exe", hidden and detached, with the
// arguments "<dir>/autoupdate.xml", the window handle value and this process's id. Nothing is
// checked and nothing is shown: without an updater nothing happens.
void LaunchUpdater(long windowHandle);
// The same for the updater in `moduleDirectory` (no trailing "/").
void LaunchUpdaterIn(const std::string& moduleDirectory, long windowHandle);

// Sends one "sign" report with this computer's IP address, adapter text and system name to the
// statistics server. The facts are gathered and the request sent on a worker, so the caller
// (the GUI thread) never waits; the answer is ignored.
void SendUsageReport();
// The same, to a given report base (an address ending in "/log?command=sign&").
void SendUsageReportTo(const std::string& reportBase);

// The statistics server address followed by "/log?command=sign&".
std::string UsageReportBase();

// reportBase + "ip=<ip>&mac=<mac>&os=<os>&", values as they are. Only "#" is escaped, since it
// would end the query; blanks and the like are escaped on the wire by the HTTP client.
std::string UsageReportUrl(const std::string& reportBase, const std::string& ip,
                           const std::string& mac, const std::string& osName);
