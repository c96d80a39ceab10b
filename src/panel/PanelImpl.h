#pragma once
#include <memory>
#include <string>

#include "os/Window.h"
#include "panel/DPanel.h"

// A plain skinned top-level window with no web view: the splash panel "plash". Undecorated,
// shown in the taskbar, centred on the work area of its monitor.
class CPanelImpl : public CDPanel<CPanelImpl> {
  public:
    CPanelImpl(std::string name, std::string configFile);
    ~CPanelImpl() override;

    // Creates the window, reads the description, centres it and shows it; false when no
    // window can be made.
    bool Create();
    virtual bool OnInitPanel();
    void Show();
    void Hide();
    void Destroy();
    bool IsWindow() const { return window_ && window_->IsAlive(); }
    os::Window* Window() const { return window_.get(); }

    const std::string& PanelName() const { return panelName_; }
    std::string GetPanelText() const;
    void SetPanelText(const std::string& text);
    PanelSize GetPanelWindowSize() const;
    PanelRect GetPanelClientRect() const;
    void ResizePanelWindow(int width, int height);
    const os::PixelBuffer* FindPanelImage(const std::string& key);

  private:
    std::string panelName_;
    std::unique_ptr<os::Window> window_;
};
