#include "InstalledFolder.h"

#include "ImageFiles.h"

#include <sys/stat.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace testsupport {

InstalledFolder::InstalledFolder() {
    fs::copy_file(MAPLENOOK_TEST_EXE, exe());
    chmod(exe().c_str(), 0755);
    const fs::path webext = fs::path(MAPLENOOK_TEST_BINARY_DIR) / "webext";
    if (fs::is_directory(webext)) fs::copy(webext, File("webext"), fs::copy_options::recursive);
    WriteFile(File("res/web/brush.html"),
              "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>MapleNook</title>"
              "</head><body>MapleNook</body></html>\n");
    WriteSolidImage(File("res/skin/bk.png"), "png", 320, 200, 0xFF2E7D32, false);
    WriteSettings(kMinimalSettings);
    fs::create_directory(runtimeDir());
    chmod(runtimeDir().c_str(), 0700);
}

void InstalledFolder::WriteSettings(const std::string& text) const {
    WriteFile(settingsPath(), text);
}

EnvOverrides InstalledFolder::Env() const {
    return {{"XDG_RUNTIME_DIR", runtimeDir()}, {"MAPLENOOK_TEST_RUNTIME_DIR", runtimeDir()}};
}

std::unique_ptr<ChildProcess> InstalledFolder::Start() const {
    return std::make_unique<ChildProcess>(std::vector<std::string>{exe()}, Env(), dir());
}

}  // namespace testsupport
