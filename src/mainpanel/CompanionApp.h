#pragma once
#include <functional>
#include <string>
#include <vector>

class CBrushWorkflow;

// The file name of the maker's companion desktop program, a package like any other.
inline constexpr const char* kCompanionImageName = "lanternhall.exe";

// What the companion-app steps need of the phone side; the main panel hands in the phone
// detector, the bridge tool runner and the process list, tests hand in fakes.
struct CompanionServices {
    // Instance ids of the attached phone interfaces (ListPhones with pruning), in list order.
    std::function<std::vector<std::string>()> listPhoneInstanceIds;
    std::function<bool(const std::string& instanceId)> isPresent;
    // True when a process of this (lower-case) image name runs.
    std::function<bool(const std::string& imageName)> isProcessRunning;
    // Runs one bridge command and returns its captured output; blocks until it ends.
    std::function<std::string(const std::string& command)> runAdb;
    std::function<void(int milliseconds)> wait;
};

// Whether `imageName` (given in lower case) is among `runningImageNames`, each of which is
// lower-cased (ASCII) before the exact comparison.
bool IsProcessRunning(const std::vector<std::string>& runningImageNames,
                      const std::string& imageName);

// The names a process counts under for IsProcessRunning: its image name and the file name of
// its first argument, and, when the image is an interpreter (a shell, python, perl, wine, ...),
// the file name of the first argument after it that is not an option, so that a program run
// through an interpreter ("sh lanternhall.exe", "wine lanternhall.exe") counts as itself while
// a program that merely names the file ("tail -f lanternhall.exe", an editor) does not.
std::vector<std::string> ProcessNames(const std::string& imageName,
                                      const std::vector<std::string>& arguments);

// A device arrived (any device: the arrival itself is not examined). For each attached phone
// interface that is present, starts the companion program with `startCompanion` unless it is
// already running; the check is repeated per interface. Returns how many starts were made.
int OnDeviceArrival(const CompanionServices& services, const std::function<void()>& startCompanion);

// Device arrivals as the main panel sees them. A phone announces itself several times (the
// device, then each interface), and the companion program shows up in the process list only
// once its task has fetched and started it; so while tasks that an earlier arrival started
// are still running, later arrivals start nothing. GUI thread only.
class CCompanionArrivals {
  public:
    // Starts one companion task; the task calls `finished` (on any thread) when it ends, and
    // the owner then calls TaskFinished on the GUI thread.
    using StartTask = std::function<void()>;

    // OnDeviceArrival unless earlier tasks still run; how many tasks were started.
    int OnArrival(const CompanionServices& services, const StartTask& start);
    void TaskFinished();
    int TasksRunning() const { return running_; }

    // The same split for an owner that reads the phones on a worker, one pass at a time.
    // BeginPass, on each arrival: true when a pass should start now (none runs and no task is
    // under way); arrivals while a pass runs fold into one more pass. EndPass, with the pass's
    // decision (how many starts OnDeviceArrival counted): starts them unless a task got under
    // way, and returns true when the folded pass should start now.
    bool BeginPass();
    bool EndPass(int starts, const StartTask& start);

  private:
    int Start(int starts, const StartTask& start);

    int running_ = 0;
    bool passRunning_ = false;
    bool passPending_ = false;
};

// Worker: installs the phone package on the first present phone: waits 1200 ms, runs
// install -r "<apk>", and retries once 1200 ms later when the output lacks "Success".
// Nothing happens without a present phone. Always 1.
int InstallCompanionApk(const CompanionServices& services, const std::string& apkPath);

// The workflow's after-start step for the companion program: once exactly kCompanionImageName
// has started, `install` gets the phone package beside the program (<module>/phone.apk).
std::function<void(const std::string& fileName)> CompanionAfterStart(
    const std::string& moduleDirectory, std::function<void(const std::string& apkPath)> install);

// GUI thread ("app.checkapp"): when the package's program is missing from the cache
// `cacheSetting` comes to or `version` differs from [app] prever, writes [app] prever :=
// version at once and fetches the package on a worker without running it. 0 when the file
// name has no extension, else 1.
int PrefetchIfStale(CBrushWorkflow& workflow, const std::string& settingsPath,
                    const std::string& cacheSetting, const std::string& fileName,
                    const std::string& url, const std::string& version);
