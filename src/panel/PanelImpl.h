#pragma once
#include <memory>
#include <string>

#include "os/Window.h"
#include "panel/DPanel.h"

// A plain skinned top-level window with no web view: the splash panel "plash". Undecorated,
// shown in the taskbar, centred on the work area of its monitor.
class CPanelImpl {
  public:
    CPanelImpl(std::string name, std::string configFile);
    ~CPanelImpl();
    CPanelImpl(const CPanelImpl&) = delete;
    CPanelImpl& operator=(const CPanelImpl&) = delete;

    // Creates the window, reads the description, centres it and shows it; false when no
    // window can be made.
    bool Create();
    void Show();
    void Hide();
    void Destroy();
    bool IsWindow() const { return window_ && window_->IsAlive(); }
    os::Window* Window() const { return window_.get(); }
    const CDPanel& Skin() const { return skin_; }

  private:
    void CentreOnWorkArea();

    CDPanel skin_;
    std::unique_ptr<os::Window> window_;
};
