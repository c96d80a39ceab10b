#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// What the package workflow tells the page and the outside (the tray, the desktop's
// notifications) as a package is fetched and run:
//   hostNotify('runbrush','<base>','<state>'[,'<cause>'...])
//   hostNotify('brushprogress','<base>','<done>','<total>','<phase>')
// Progress goes only to a page that asked for it, at most 10 a second per package and phase,
// with the last one (done equal to total) always sent once. Causes go to the page only once it
// asked for progress or cancelled; the outside hears every notification first, cause and all.
class CBrushNotices {
  public:
    using Sink = std::function<void(const std::string& event, const std::vector<std::string>&)>;

    // Either sink may be empty.
    CBrushNotices(Sink page, Sink outside);

    // hostNotify('runbrush','<base>','<state>'[,'<cause>']).
    void Notify(const std::string& base, const char* state, const std::string& cause = {});
    // One notification to the outside, then to the page (a runbrush one without its causes
    // unless the page takes them).
    void Tell(const char* event, std::vector<std::string> args);
    // A brushprogress notification, when the page asked for progress and it is due.
    void Progress(const std::string& base, int64_t done, int64_t total, const char* phase,
                  bool last);

    // The page asked for progress (or stopped asking); either way it takes causes from now on.
    void SetPageProgress(bool on);
    // The page cancelled: it takes causes from now on.
    void TakeCauses();
    // A fetch of `base` ended: its next one starts its progress afresh.
    void FetchEnded(const std::string& base);

  private:
    struct ProgressSent {
        std::chrono::steady_clock::time_point at{};
        bool finished = false;
        std::string phase;
    };

    Sink page_;
    Sink outside_;
    std::mutex mutex_;
    std::map<std::string, ProgressSent> lastProgress_;  // per base name
    std::atomic<bool> progressOn_{false};
    std::atomic<bool> causesOn_{false};
};

// Follows one download's progress reports (libcurl's, about once a second while nothing comes)
// and tells the page phase "download", or "waiting" (done and total as last heard) once nothing
// came for `stallNotice`, and "download" again when bytes come.
class CDownloadProgress {
  public:
    CDownloadProgress(CBrushNotices& notices, std::string base,
                      std::chrono::milliseconds stallNotice);

    // Whether an earlier report announced the body's size.
    bool SizeKnown() const { return size_ >= 0; }
    // Takes in a report, which Show then tells (unless the download stops there).
    void Count(int64_t done, int64_t total);
    void Show(int64_t done, int64_t total);
    // The whole body is there: its size, announced or counted.
    void Finished();

  private:
    CBrushNotices& notices_;
    std::string base_;
    std::chrono::milliseconds stallNotice_;
    std::chrono::steady_clock::time_point lastChange_ = std::chrono::steady_clock::now();
    int64_t lastDone_ = -1;
    int64_t received_ = 0;
    int64_t size_ = -1;
    bool waiting_ = false;
};
