#include "mainpanel/PackageNotices.h"

#include <algorithm>

namespace {

constexpr const char* kIdle = "MapleNook";

// The base name comes from the page: nothing in it may break a line or steer a terminal.
std::string Printable(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) c = ' ';
    }
    return out;
}

const char* kDisk = "磁盘空间不足，或缓存目录无法写入。";

// Empty: nothing worth telling (the user cancelled).
std::string DownloadCause(const std::string& cause) {
    if (cause == "cancelled") return {};
    if (cause == "network") return "网络连接中断，或无法连接到服务器。";
    if (cause == "tls") return "无法与服务器建立安全连接。";
    if (cause == "refused") return "本机上为下载地址应答的是其他用户的程序，为安全起见没有连接。";
    if (cause == "disk") return kDisk;
    if (cause.rfind("http:", 0) == 0) {
        const std::string status = cause.substr(5);
        if (status == "404" || status == "410")
            return "服务器上没有这个工具（HTTP " + status + "），请联系厂商。";
        return "服务器出错（HTTP " + status + "），请稍后再试。";
    }
    return "下载没有完成。";
}

std::string StartCause(const std::string& cause) {
    if (cause == "cancelled") return {};
    if (cause == "missing") return "下载的工具包里没有要运行的程序，请联系厂商。";
    if (cause == "archive") return "下载的工具包已损坏，无法解压。";
    if (cause == "signature") return "工具包的签名无效，为了安全没有运行。";
    if (cause == "disk") return kDisk;
    if (cause == "conflict") return "缓存目录里有一个同名的文件夹不是本程序创建的，没有使用它。";
    if (cause == "unsafe") return "程序或它所在的文件夹可被他人改动，为了安全没有运行。";
    if (cause == "start") return "程序无法启动。";
    if (cause == "busy") return "工具正在运行，关闭后才能换成新版本。";
    return "工具没有运行。";
}

}  // namespace

std::optional<CPackageNotices::Notice> CPackageNotices::Take(const std::string& event,
                                                             const std::vector<std::string>& args) {
    if (args.size() < 2) return std::nullopt;
    const std::string& base = args[0];
    const std::string& state = args[1];
    if (event == "brushprogress") {
        if (args.size() < 4) return std::nullopt;
        const std::string& phase = args[3];
        if (phase == "unzip") {
            // The extraction's last report: a prefetch says nothing more.
            if (args[1] == args[2]) {
                End(base);
            } else {
                Set(base, Activity::Unzipping);
            }
        } else {
            Set(base, Activity::Downloading);
        }
        return std::nullopt;
    }
    if (event != "runbrush") return std::nullopt;
    const std::string cause = args.size() > 2 ? args[2] : std::string();
    const std::string name = Shown(base);
    if (state == "download") {
        Set(base, Activity::Downloading);
    } else if (state == "unzip") {
        Set(base, Activity::Unzipping);
    } else if (state == "download.error") {
        End(base);
        const std::string words = DownloadCause(cause);
        if (!words.empty()) return Notice{name + " 下载失败", words, true};
    } else if (state == "run.error") {
        End(base);
        const std::string words = StartCause(cause);
        if (!words.empty()) return Notice{name + " 无法启动", words, true};
    } else if (state == "run") {
        End(base);
        return Notice{name + " 已启动", "点击这里显示 MapleNook 主面板。", false, true};
    }
    return std::nullopt;
}

std::string CPackageNotices::Tooltip() const {
    if (active_.empty()) return kIdle;
    const auto& [base, activity] = active_.back();
    std::string tip =
        (activity == Activity::Downloading ? "正在下载 " : "正在解压 ") + Shown(base) + "…";
    if (active_.size() > 1) tip += "（另有 " + std::to_string(active_.size() - 1) + " 个）";
    return tip;
}

void CPackageNotices::Name(const std::string& fileName, const std::string& title) {
    const auto dot = fileName.rfind('.');
    titles_[dot == std::string::npos ? fileName : fileName.substr(0, dot)] = title;
}

std::string CPackageNotices::Shown(const std::string& base) const {
    const auto found = titles_.find(base);
    return Printable(found != titles_.end() ? found->second : base);
}

void CPackageNotices::Set(const std::string& base, Activity activity) {
    const auto found = std::find_if(active_.begin(), active_.end(),
                                    [&](const auto& entry) { return entry.first == base; });
    if (found != active_.end()) {
        found->second = activity;
    } else {
        active_.emplace_back(base, activity);
    }
}

void CPackageNotices::End(const std::string& base) {
    std::erase_if(active_, [&](const auto& entry) { return entry.first == base; });
}
