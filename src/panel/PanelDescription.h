#pragma once
#include <string>

// A panel's cfg.ini section: what it looks like and how big it is.
struct PanelDescription {
    std::string title;
    std::string bkImage;  // image registry key ("1", "2", ...)
    int width = 0;
    int height = 0;
    int headHeight = 0;
    int footHeight = 0;
    int innerBorder = 0;
    int outBorder = 0;
    int bkMode = 4;
};

// Reads section `panelName` of `settingsFile`; missing keys, section or file give the defaults
// (a stored bkmode of 0 reads as 4, as every zero integer reads as absent).
PanelDescription ReadPanelDescription(const std::string& settingsFile,
                                      const std::string& panelName);
