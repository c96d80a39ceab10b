#pragma once

// The codes of the events a panel window raises (os::WebEvent::code), in one place for the OS
// layer that raises them and the panels that answer them. The numbers are the browser control's
// own, which the pages and settings of the maker's panels were written against.

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
