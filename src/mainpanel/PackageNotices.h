#pragma once
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// What the user is told about packages outside the page: the tray icon's tooltip (what is in
// progress) and desktop notifications (a failed download or start, a finished start). It
// reads the same notifications the package workflow sends the page. GUI thread.
class CPackageNotices {
  public:
    struct Notice {
        std::string title;  // names the tool
        std::string body;   // the cause in words
        bool failed = false;
        // Told even with the panel in view: the start hides it.
        bool evenInView = false;
    };

    // The page calls package `fileName` `title`: notices and the tooltip use that name from
    // now on instead of the file's base name.
    void Name(const std::string& fileName, const std::string& title);

    // Takes one page notification ("runbrush" or "brushprogress" with its arguments); the
    // notice the user should get outside the page, if any.
    std::optional<Notice> Take(const std::string& event, const std::vector<std::string>& args);

    // The package's download and extraction ended, whatever the page was told.
    void End(const std::string& base);

    // What is in progress, the latest first; "MapleNook" when nothing is.
    std::string Tooltip() const;

  private:
    enum class Activity { Downloading, Unzipping };
    // The page's title of package `base`, else `base`; printable either way.
    std::string Shown(const std::string& base) const;
    void Set(const std::string& base, Activity activity);

    // In the order they started.
    std::vector<std::pair<std::string, Activity>> active_;
    std::map<std::string, std::string> titles_;  // base name -> the page's title
};
