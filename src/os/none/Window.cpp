#include "os/Window.h"

// No platform: no display, so no window.
namespace os {

std::unique_ptr<Window> CreateWindow() {
    return nullptr;
}

bool InitGuiToolkit() {
    return false;
}

MonitorAreas MonitorAreasAt(int /*x*/, int /*y*/) {
    return {};
}

}  // namespace os
