#pragma once
#include <string>

#include "os/Window.h"
#include "panel/DPanel.h"
#include "web/HtmlPanel.h"

// A skinned panel whose body band holds the web view: the main panel and the pop panel.
class CWebPanel : public CDPanel<CWebPanel>, public CHtmlPanel {
  public:
    CWebPanel(std::string name, std::string configFile, int autoDelete);

    // The web host's set-up, then the skin: the description is read and the window sized.
    // False (and no description read) when the web host could not be set up.
    bool OnInitPanel() override;
    void ClosePanel() override;
    // Keys go to the page's accelerator handling only while the pointer is over the page.
    bool PreTranslateMessage(const Message& msg) override;

    // The window keeps only the rounded rectangle of its current size.
    void SetPanelRgn(int cornerWidth, int cornerHeight);
    // After every size change: bands, region, web view onto the body band.
    void OnWebPanelSize();

    // What the skin mix-in needs of the window (PanelName comes with the web host).
    std::string GetPanelText() const;
    void SetPanelText(const std::string& text);
    PanelSize GetPanelWindowSize() const;
    PanelRect GetPanelClientRect() const;
    void ResizePanelWindow(int width, int height);
    const os::PixelBuffer* FindPanelImage(const std::string& key);

  private:
    bool initialised_ = false;
};
