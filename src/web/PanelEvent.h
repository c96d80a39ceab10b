#pragma once
#include "os/PanelWindow.h"

// A panel event (WM_WEBCTRL_EVENT): a browser event, a UI-handler request or a bridge call,
// with its code and arguments; handlers fill the answer fields (see os::WebEvent).
using PanelEvent = os::WebEvent;

// Browser events (DWebBrowserEvents2 numbers), raised where WebKit has the same moment.
constexpr int kEventProgressChange = 108;     // value = percent, valueMax = 100
constexpr int kEventTitleChange = 113;        // text = title
constexpr int kEventBeforeNavigate2 = 250;    // url; cancel blocks the navigation
constexpr int kEventNavigateComplete2 = 252;  // url (load committed)
constexpr int kEventDocumentComplete = 259;   // url (load finished)
constexpr int kEventWindowClosing = 263;      // the page called window.close()
constexpr int kEventNavigateError = 271;      // url, value = error code; cancel: no error page
constexpr int kEventNewWindow3 = 273;         // url; no window is ever opened

// UI-handler requests, asked where WebKit asks the same question.
constexpr int kUiShowContextMenu = 2283;   // answer 0 (preset): no context menu
constexpr int kUiGetHostInfo = 2284;       // answer = host flags, asked once at creation
constexpr int kUiGetOptionKeyPath = 2293;  // key = option key path, asked once at creation
constexpr int kUiGetDropTarget = 2294;     // asked once at creation; drops stay disabled
constexpr int kUiGetExternal = 2295;       // answer nonzero: the page's calls reach the panel

// A page's window.external.Call: param in, result out.
constexpr int WEBCTRL_CALL = 2298;

// Host flags of 2284.
constexpr long DOCHOSTUIFLAG_DIALOG = 0x1;
constexpr long DOCHOSTUIFLAG_NO3DBORDER = 0x4;
constexpr long DOCHOSTUIFLAG_SCROLL_NO = 0x8;
constexpr long DOCHOSTUIFLAG_THEME = 0x40000;
constexpr long DOCHOSTUIFLAG_USE_WINDOWED_SELECTCONTROL = 0x10000000;
