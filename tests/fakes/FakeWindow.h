#pragma once
#include <string>
#include <vector>

#include "os/Window.h"

namespace testsupport {

// An os::Window in memory: state changes are kept and every call that changes something is
// logged by name, so tests see what logic did to its window and in which order.
class FakeWindow : public os::Window {
  public:
    long Handle() const override { return alive ? 0x4200001 : 0; }
    bool IsAlive() const override { return alive; }
    void Destroy() override {
        if (!alive) return;
        alive = false;
        Log("Destroy");
        if (destroyed) destroyed();
    }
    void SetTitle(const std::string& text) override { title = text; }
    std::string Title() const override { return title; }
    void SetIcon(const os::PixelBuffer&) override { Log("SetIcon"); }
    void Show() override { visible = true, Log("Show"); }
    void Hide() override { visible = false, Log("Hide"); }
    void Present(unsigned long time) override {
        visible = true, minimized = false, presentedAt = time, Log("Present");
    }
    bool IsVisible() const override { return visible; }
    void Minimize() override { minimized = true, Log("Minimize"); }
    void Maximize() override { maximized = true, Log("Maximize"); }
    void Restore() override { minimized = maximized = false, Log("Restore"); }
    bool IsMinimized() const override { return minimized; }
    bool IsMaximized() const override { return maximized; }
    void SetKeepAbove(bool above) override { keepAbove = above, Log("SetKeepAbove"); }
    bool IsKeepAbove() const override { return keepAbove; }
    void SetSkipTaskbar(bool skip) override { skipTaskbar = skip, Log("SetSkipTaskbar"); }
    bool IsSkipTaskbar() const override { return skipTaskbar; }
    os::Rect ScreenRect() const override { return rect; }
    void MoveResize(const os::Rect& to) override { rect = to, Log("MoveResize"); }
    os::Size ClientSize() const override { return {rect.width(), rect.height()}; }
    void SetWindowRegion(const std::vector<os::Rect>& rects) override { region = rects; }
    void SetDragBand(const os::Rect& band) override { dragBand = band; }
    void SetBackgroundColor(uint32_t argb) override { background = argb; }
    void SetPaintHandler(std::function<void(os::PixelBuffer&)> handler) override {
        paint = std::move(handler);
    }
    void QueueRedraw() override { Log("QueueRedraw"); }
    void SetKeyHandler(std::function<bool(const os::KeyEvent&)> handler) override {
        key = std::move(handler);
    }
    void SetCloseRequestHandler(std::function<bool()> handler) override {
        closeRequest = std::move(handler);
    }
    void SetDestroyHandler(std::function<void()> handler) override {
        destroyed = std::move(handler);
    }
    void SetSizeHandler(std::function<void()> handler) override { sized = std::move(handler); }

    void Log(const std::string& call) { calls.push_back(call); }

    bool alive = true;
    std::string title;
    bool visible = false;
    bool minimized = false;
    bool maximized = false;
    bool keepAbove = false;
    bool skipTaskbar = false;
    os::Rect rect{0, 0, 411, 439};
    std::vector<os::Rect> region;
    os::Rect dragBand;
    unsigned long presentedAt = 0;
    uint32_t background = 0xFFFFFFFF;
    std::vector<std::string> calls;
    std::function<void(os::PixelBuffer&)> paint;
    std::function<bool(const os::KeyEvent&)> key;
    std::function<bool()> closeRequest;
    std::function<void()> destroyed;
    std::function<void()> sized;
};

}  // namespace testsupport
