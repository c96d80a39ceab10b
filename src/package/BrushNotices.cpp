#include "package/BrushNotices.h"

CBrushNotices::CBrushNotices(Sink page, Sink outside)
    : page_(std::move(page)), outside_(std::move(outside)) {}

void CBrushNotices::Notify(const std::string& base, const char* state, const std::string& cause) {
    std::vector<std::string> args{base, state};
    if (!cause.empty()) args.push_back(cause);
    Tell("runbrush", args);
}

void CBrushNotices::Tell(const char* event, std::vector<std::string> args) {
    // What the user is told outside the page always has the cause; a page hears it only once
    // it showed it can take one.
    if (outside_) outside_(event, args);
    if (!page_) return;
    if (!causesOn_ && std::string(event) == "runbrush" && args.size() > 2) args.resize(2);
    page_(event, args);
}

void CBrushNotices::Progress(const std::string& base, int64_t done, int64_t total,
                             const char* phase, bool last) {
    if (!progressOn_) return;
    const auto now = std::chrono::steady_clock::now();
    {
        // Ten a second is as often as a bar can usefully move; the last one always goes.
        std::lock_guard<std::mutex> guard(mutex_);
        auto& previous = lastProgress_[base];
        if (previous.phase != phase) previous = ProgressSent{{}, false, phase};
        if (previous.finished) return;  // libcurl reports the end more than once
        if (!last && now - previous.at < std::chrono::milliseconds(100)) return;
        previous.at = now;
        previous.finished = last;
    }
    Tell("brushprogress", {base, std::to_string(done), std::to_string(total), phase});
}

void CBrushNotices::SetPageProgress(bool on) {
    progressOn_ = on;
    causesOn_ = true;
}

void CBrushNotices::TakeCauses() {
    causesOn_ = true;
}

void CBrushNotices::FetchEnded(const std::string& base) {
    std::lock_guard<std::mutex> guard(mutex_);
    lastProgress_.erase(base);
}

CDownloadProgress::CDownloadProgress(CBrushNotices& notices, std::string base,
                                     std::chrono::milliseconds stallNotice)
    : notices_(notices), base_(std::move(base)), stallNotice_(stallNotice) {}

void CDownloadProgress::Count(int64_t done, int64_t total) {
    received_ = done;
    if (total >= 0) size_ = total;
}

void CDownloadProgress::Show(int64_t done, int64_t total) {
    const auto now = std::chrono::steady_clock::now();
    if (done != lastDone_) {
        lastDone_ = done;
        lastChange_ = now;
        waiting_ = false;
    } else if (!waiting_ && now - lastChange_ >= stallNotice_) {
        waiting_ = true;
        notices_.Progress(base_, done, total, "waiting", false);
    }
    // Before the answer's head there is nothing to show yet.
    if (!waiting_ && (done > 0 || total >= 0))
        notices_.Progress(base_, done, total, "download", total >= 0 && done == total);
}

void CDownloadProgress::Finished() {
    const int64_t whole = size_ >= 0 ? size_ : received_;
    notices_.Progress(base_, whole, whole, "download", true);
}
