#pragma once

// The codes of the events a panel window raises (os::WebEvent::code), in one place for the OS
// layer that raises them and the panels that answer them: a type of their own, so no other
// number passes for one. The values are the browser control's own numbers, which the pages and
// settings of the maker's panels were written against.

enum class PanelEventCode : int {
    None = 0,
    ProgressChange = 108,
    TitleChange = 113,
    BeforeNavigate2 = 250,
    NavigateComplete2 = 252,
    DocumentComplete = 259,
    WindowClosing = 263,
    NavigateError = 271,
    NewWindow3 = 273,
    ShowContextMenu = 2283,
    GetHostInfo = 2284,
    GetOptionKeyPath = 2293,
    GetDropTarget = 2294,
};

// Browser events (DWebBrowserEvents2 numbers), raised where WebKit has the same moment.
// value = percent, valueMax = 100
inline constexpr PanelEventCode kEventProgressChange = PanelEventCode::ProgressChange;
// text = title
inline constexpr PanelEventCode kEventTitleChange = PanelEventCode::TitleChange;
// url; cancel blocks the navigation
inline constexpr PanelEventCode kEventBeforeNavigate2 = PanelEventCode::BeforeNavigate2;
// url (load committed)
inline constexpr PanelEventCode kEventNavigateComplete2 = PanelEventCode::NavigateComplete2;
// url (load finished)
inline constexpr PanelEventCode kEventDocumentComplete = PanelEventCode::DocumentComplete;
// the page called window.close()
inline constexpr PanelEventCode kEventWindowClosing = PanelEventCode::WindowClosing;
// url, value = error code; cancel: no error page
inline constexpr PanelEventCode kEventNavigateError = PanelEventCode::NavigateError;
// url; no window is ever opened
inline constexpr PanelEventCode kEventNewWindow3 = PanelEventCode::NewWindow3;

// UI-handler requests, asked where WebKit asks the same question.
// answer 0 (preset): no context menu
inline constexpr PanelEventCode kUiShowContextMenu = PanelEventCode::ShowContextMenu;
// answer = host flags, asked once at creation
inline constexpr PanelEventCode kUiGetHostInfo = PanelEventCode::GetHostInfo;
// key = option key path, asked once at creation
inline constexpr PanelEventCode kUiGetOptionKeyPath = PanelEventCode::GetOptionKeyPath;
// asked once at creation; drops stay disabled
inline constexpr PanelEventCode kUiGetDropTarget = PanelEventCode::GetDropTarget;
