#pragma once
#include "os/PanelEventCodes.h"
#include "os/WebView.h"

// A panel event: a browser event or a UI-handler request, with its code and arguments;
// handlers fill the answer fields (see os::WebEvent).
using PanelEvent = os::WebEvent;

// Host flags of kUiGetHostInfo.
constexpr long DOCHOSTUIFLAG_DIALOG = 0x1;
constexpr long DOCHOSTUIFLAG_NO3DBORDER = 0x4;
constexpr long DOCHOSTUIFLAG_SCROLL_NO = 0x8;
constexpr long DOCHOSTUIFLAG_THEME = 0x40000;
constexpr long DOCHOSTUIFLAG_USE_WINDOWED_SELECTCONTROL = 0x10000000;
