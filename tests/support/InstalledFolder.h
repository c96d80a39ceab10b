#pragma once
#include "ChildRun.h"
#include "TempDir.h"

#include <memory>
#include <string>

namespace testsupport {

// A working installed folder in a fresh temporary place: a copy of the built program, the
// local page res/web/brush.html, one skin image res/skin/bk.png, the web extension folder when
// the build has one, and a cfg.ini (kMinimalSettings unless replaced) that registers the image
// as "1" and names it as the main panel's background. Runs get their own XDG_RUNTIME_DIR, so
// the single-instance lock and hand-over sockets of one test never meet another's.
class InstalledFolder {
  public:
    static constexpr const char* kMinimalSettings =
        "[app]\n"
        "wnd=0\n"
        "\n"
        "[resource]\n"
        "total=1\n"
        "1=\\res\\skin\\bk.png\n"
        "\n"
        "[mainpanel]\n"
        "title=MapleNook\n"
        "bkimage=1\n";

    InstalledFolder();

    const std::string& dir() const { return temp_.path(); }
    std::string exe() const { return temp_.File("maplenook"); }
    std::string settingsPath() const { return temp_.File("cfg.ini"); }
    std::string runtimeDir() const { return temp_.File("run"); }
    std::string File(const std::string& relative) const { return temp_.File(relative); }

    void WriteSettings(const std::string& text) const;
    // XDG_RUNTIME_DIR for the program's runs (DISPLAY and the rest are inherited).
    EnvOverrides Env() const;
    // Starts the installed program.
    std::unique_ptr<ChildProcess> Start() const;

  private:
    TempDir temp_;
};

}  // namespace testsupport
