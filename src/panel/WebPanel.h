#pragma once
#include <string>

#include "os/Window.h"
#include "panel/DPanel.h"
#include "web/HtmlPanel.h"

// A skinned panel whose body band holds the web view: the main panel and the pop panel.
class CWebPanel : public CHtmlPanel {
  public:
    CWebPanel(std::string name, std::string configFile, int autoDelete, Role role = {});
    ~CWebPanel() override;

    // The web host's set-up, then the skin: the description is read and the window sized.
    // False (and no description read) when the web host could not be set up.
    bool OnInitPanel() override;
    // Keys go to the page's accelerator handling only while the pointer is over the page.
    bool PreTranslateMessage(const Message& msg) override;

    CDPanel& Skin() { return skin_; }
    const CDPanel& Skin() const { return skin_; }

  private:
    // After every size change: bands, region, web view onto the body band.
    void OnWebPanelSize();

    CDPanel skin_;
};
