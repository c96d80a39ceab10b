#include "X11Windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <unistd.h>

#include <functional>

namespace testsupport {
namespace {

int IgnoreXErrors(Display*, XErrorEvent*) {
    return 0;
}

// An X connection for one question; X errors (a window that is gone) are ignored.
class Connection {
  public:
    Connection() : display_(XOpenDisplay(nullptr)) { XSetErrorHandler(IgnoreXErrors); }
    ~Connection() {
        if (display_ != nullptr) XCloseDisplay(display_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    Display* get() const { return display_; }

  private:
    Display* display_;
};

bool ReadCardinal(Display* display, Window window, const char* property, unsigned long& value) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const Atom atom = XInternAtom(display, property, True);
    if (atom == None || XGetWindowProperty(display, window, atom, 0, 1, False, XA_CARDINAL, &type,
                                           &format, &count, &after, &data) != Success) {
        return false;
    }
    const bool found = data != nullptr && count == 1 && format == 32;
    if (found) value = *reinterpret_cast<unsigned long*>(data);
    if (data != nullptr) XFree(data);
    return found;
}

std::string ReadTitle(Display* display, Window window) {
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &count,
                           &after, &data) == Success &&
        data != nullptr) {
        title.assign(reinterpret_cast<char*>(data), count);
    }
    if (data != nullptr) XFree(data);
    if (!title.empty()) return title;
    char* name = nullptr;
    if (XFetchName(display, window, &name) != 0 && name != nullptr) {
        title = name;
        XFree(name);
    }
    return title;
}

void ForEachWindow(Display* display, Window window, const std::function<void(Window)>& visit) {
    visit(window);
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &count) == 0) return;
    for (unsigned int i = 0; i < count; ++i) ForEachWindow(display, children[i], visit);
    if (children != nullptr) XFree(children);
}

}  // namespace

bool IsWindowViewable(unsigned long window) {
    Connection x;
    if (x.get() == nullptr) return false;
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(x.get(), window, &attributes) == 0) return false;
    return attributes.map_state == IsViewable;
}

long ScreenPixelAt(unsigned long window, int x, int y) {
    Connection x11;
    if (x11.get() == nullptr) return -1;
    Window root = DefaultRootWindow(x11.get());
    int rootX = 0, rootY = 0;
    Window child = 0;
    if (!XTranslateCoordinates(x11.get(), window, root, x, y, &rootX, &rootY, &child)) return -1;
    if (rootX < 0 || rootY < 0 || rootX >= DisplayWidth(x11.get(), DefaultScreen(x11.get())) ||
        rootY >= DisplayHeight(x11.get(), DefaultScreen(x11.get())))
        return -1;
    XImage* image = XGetImage(x11.get(), root, rootX, rootY, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr) return -1;
    const long pixel = static_cast<long>(XGetPixel(image, 0, 0) & 0xFFFFFF);
    XDestroyImage(image);
    return pixel;
}

std::vector<unsigned long> FindWindowsOf(pid_t pid, const std::string& title) {
    std::vector<unsigned long> found;
    Connection x;
    if (x.get() == nullptr) return found;
    ForEachWindow(x.get(), DefaultRootWindow(x.get()), [&](Window window) {
        unsigned long owner = 0;
        if (!ReadCardinal(x.get(), window, "_NET_WM_PID", owner)) return;
        if (owner != static_cast<unsigned long>(pid)) return;
        if (title.empty() || ReadTitle(x.get(), window) == title) found.push_back(window);
    });
    return found;
}

std::string WindowTitle(unsigned long window) {
    Connection x;
    return x.get() != nullptr ? ReadTitle(x.get(), window) : std::string();
}

bool RequestWindowClose(unsigned long window) {
    Connection x;
    if (x.get() == nullptr) return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(x.get(), "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(x.get(), "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(x.get(), window, False, NoEventMask, &event);
    XSync(x.get(), False);
    return sent != 0;
}

bool DragPointer(int x, int y, int toX, int toY) {
    Connection connection;
    Display* display = connection.get();
    int event = 0, error = 0, major = 0, minor = 0;
    if (display == nullptr || !XTestQueryExtension(display, &event, &error, &major, &minor))
        return false;
    auto pause = [] { usleep(40000); };
    XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
    XSync(display, False);
    pause();
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XSync(display, False);
    pause();
    constexpr int kSteps = 10;
    for (int i = 1; i <= kSteps; ++i) {
        XTestFakeMotionEvent(display, -1, x + (toX - x) * i / kSteps, y + (toY - y) * i / kSteps,
                             CurrentTime);
        XSync(display, False);
        pause();
    }
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XSync(display, False);
    return true;
}

TrayHostStandIn::TrayHostStandIn() {
    Display* display = XOpenDisplay(nullptr);
    display_ = display;
    if (display == nullptr) return;
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(display));
    const Atom selection = XInternAtom(display, name.c_str(), False);
    const Window owner =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(display, selection, owner, CurrentTime);
    XSync(display, False);
    owning_ = XGetSelectionOwner(display, selection) == owner;
}

unsigned long TrayHostStandIn::DockedIcon(int x, int y) {
    auto* display = static_cast<Display*>(display_);
    if (display == nullptr || icon_ != 0) return icon_;
    const Atom opcode = XInternAtom(display, "_NET_SYSTEM_TRAY_OPCODE", False);
    while (XPending(display) > 0) {
        XEvent event{};
        XNextEvent(display, &event);
        // SYSTEM_TRAY_REQUEST_DOCK (0) names the icon's window in its third item.
        if (event.type != ClientMessage || event.xclient.message_type != opcode ||
            event.xclient.data.l[1] != 0 || icon_ != 0)
            continue;
        const Window icon = static_cast<Window>(event.xclient.data.l[2]);
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.background_pixel = 0x404040;
        const Window box = XCreateWindow(display, DefaultRootWindow(display), x, y, 32, 32, 0,
                                         CopyFromParent, InputOutput, CopyFromParent,
                                         CWOverrideRedirect | CWBackPixel, &attributes);
        XMapRaised(display, box);
        XReparentWindow(display, icon, box, 0, 0);
        XResizeWindow(display, icon, 32, 32);
        XMapWindow(display, icon);
        XEvent notify{};
        notify.xclient.type = ClientMessage;
        notify.xclient.window = icon;
        notify.xclient.message_type = XInternAtom(display, "_XEMBED", False);
        notify.xclient.format = 32;
        notify.xclient.data.l[0] = CurrentTime;
        notify.xclient.data.l[1] = 0;  // XEMBED_EMBEDDED_NOTIFY
        notify.xclient.data.l[3] = static_cast<long>(box);
        XSendEvent(display, icon, False, NoEventMask, &notify);
        XSync(display, False);
        icon_ = icon;
    }
    return icon_;
}

TrayHostStandIn::~TrayHostStandIn() {
    if (display_ != nullptr) XCloseDisplay(static_cast<Display*>(display_));
}

}  // namespace testsupport
