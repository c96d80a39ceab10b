#include "os/linux/WebHost.h"

namespace os::detail {

// A panel shows one page made of HTML, CSS and script. What such a page never uses is turned
// off, so the web process does not set it up: WebGL, camera and microphone capture, and
// encrypted media. Audio and video stay, as a maker's page may play a short guide. The page is
// painted without GL compositing: for a panel this small, painting on the CPU costs less than
// a GL context in both the web and the UI process (without a GPU, a software renderer with
// threads of its own), and a page without WebGL or 3D effects looks the same either way. The
// back-forward cache stays: a page restored by a back navigation keeps its state and its
// bridge.
WebKitSettings* NewPanelWebSettings() {
    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_enable_webgl(settings, FALSE);
    webkit_settings_set_enable_media_stream(settings, FALSE);
    webkit_settings_set_enable_encrypted_media(settings, FALSE);
    webkit_settings_set_hardware_acceleration_policy(settings,
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    return settings;
}

}  // namespace os::detail
