// The web-process side of window.external: a synchronous Call that blocks the page's script
// until the program has run the command, over a private socket pair.
#include <errno.h>
#include <gio/gunixfdlist.h>
#include <glib-unix.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>
#include <webkit2/webkit-web-extension.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "os/DiagnosticLog.h"
#include "os/linux/BridgeProtocol.h"
#include "os/linux/WriteAll.h"

namespace {

WebKitWebExtension* g_extension = nullptr;
int g_socket = -1;
uint32_t g_sequence = 0;
bool g_testHooks = false;
bool g_pollBeforeBlocking = false;
// Watches the socket for the program's calls of page functions between round trips.
guint g_socketWatch = 0;
// Calls of page functions read but not yet made (the texts of kReplyNotify frames): those that
// arrive during a round trip wait until the page's Call has returned.
std::deque<std::string> g_notes;
guint g_notesIdle = 0;

// What a Call needs to name its caller: the frame, and the address of the document it was
// made for, read from the loader when the document's window object was set up (so no page
// script could have shaped it). No script context or value is kept here, so the page's global
// object is never held alive by the function.
struct CallSite {
    uint64_t pageId = 0;
    uint64_t frameId = 0;
    GWeakRef frame;
    std::string documentUrl;
    // Set when a later document took over the same window object.
    std::shared_ptr<bool> revoked = std::make_shared<bool>(false);
};

void FreeCallSite(gpointer data) {
    auto* site = static_cast<CallSite*>(data);
    g_weak_ref_clear(&site->frame);
    delete site;
}

// Kept on each frame: how to hand the frame's current window object a Call for a new document
// when WebKit reuses that window object (an initial empty document followed by a same-origin
// one), and the revocation flag of the Call it has now. It holds only the window object the
// frame shows, and lets go of it when the frame gets another one or goes.
struct FrameBridge {
    JSCValue* rearm = nullptr;
    std::shared_ptr<bool> revoked;
    // The program's caller of a page function, compiled once for this window object.
    std::string callerName;
    JSCValue* caller = nullptr;
    ~FrameBridge() {
        g_clear_object(&rearm);
        g_clear_object(&caller);
    }
};

constexpr const char* kFrameBridgeKey = "maplenook-frame-bridge";

void FreeFrameBridge(gpointer data) {
    delete static_cast<FrameBridge*>(data);
}

// Kept on each page: its top frame, as the program's calls of page functions go there.
constexpr const char* kMainFrameKey = "maplenook-main-frame";

void FreeMainFrame(gpointer data) {
    auto* frame = static_cast<GWeakRef*>(data);
    g_weak_ref_clear(frame);
    delete frame;
}

// True when `context` holds the window object the frame shows now: a Call made for an earlier
// document of the frame (navigation, reload) finds another one there.
bool IsFramesCurrentContext(WebKitFrame* frame, JSCContext* context) {
    JSCContext* current =
        webkit_frame_get_js_context_for_script_world(frame, webkit_script_world_get_default());
    const bool same = current == context;
    g_clear_object(&current);
    return same;
}

bool WriteAll(int fd, const std::string& bytes) {
    return os::detail::WriteAllTo(fd, bytes.data(), bytes.size(), os::detail::Descriptor::Socket);
}

bool ReadAll(int fd, char* out, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = recv(fd, out + done, size - done, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // end of file: the program is gone
        done += static_cast<size_t>(n);
    }
    return true;
}

// Results at least this long reach the page as UTF-8 bytes that the page decodes: that is
// several times faster for large texts than GLib's conversion of a C string, and for short
// ones the string costs less than the decoding call.
constexpr uint32_t kBytesResultFrom = 4096;

// The answer to one call. A long result's text is read straight into `bytes`, the
// Uint8Array the page gets; any other text is in `text`.
struct Reply {
    uint8_t status = bridge::kReplyError;
    std::string text;
    JSCValue* bytes = nullptr;
    Reply() = default;
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;
    ~Reply() { g_clear_object(&bytes); }
};

// A Uint8Array of `size` bytes and where they are, or null when there is no memory for it.
JSCValue* NewBytes(JSCContext* context, uint32_t size, void*& data) {
    JSCValue* bytes = jsc_value_new_typed_array(context, JSC_TYPED_ARRAY_UINT8, size);
    gsize length = 0;
    data = bytes != nullptr ? jsc_value_typed_array_get_data(bytes, &length) : nullptr;
    if (data == nullptr || length != size) g_clear_object(&bytes);
    return bytes;
}

// Most commands are answered within a few tens of microseconds, while waking a process that
// sleeps on another CPU costs about as much again (far more under a hypervisor). So the caller,
// whose script is blocked anyway, polls for the answer briefly before it sleeps. On a single
// CPU polling would only keep the program from running, so it is skipped there; and between
// looks the CPU is yielded, since with the other CPUs busy the program may be waiting for this
// very one.
constexpr gint64 kPollBeforeBlockingMicros = 100;

bool HasSeveralCpus() {
    cpu_set_t cpus;
    return sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 1;
}

void AwaitAnswerBriefly(int fd) {
    if (!g_pollBeforeBlocking) return;
    const gint64 until = g_get_monotonic_time() + kPollBeforeBlockingMicros;
    char byte;
    do {
        // Anything but "nothing yet" (bytes, end of file, an error) is for ReadAll to take.
        if (recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) != -1 || errno != EAGAIN) return;
        sched_yield();
    } while (g_get_monotonic_time() < until);
}

gboolean OnSocketReadable(gint fd, GIOCondition condition, gpointer);

// Hands the program its end of a fresh socket pair; the fd travels in the message itself, so
// no path or token is needed and the sandbox does not stand in the way.
void ConnectToProgram() {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return;
    GUnixFDList* fds = g_unix_fd_list_new();
    const bool added = g_unix_fd_list_append(fds, ends[1], nullptr) >= 0;
    close(ends[1]);
    if (!added) {
        close(ends[0]);
        g_object_unref(fds);
        return;
    }
    g_socket = ends[0];
    GSource* watch =
        g_unix_fd_source_new(g_socket, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
    // GLib takes a source that may not recurse out of the poll set while it runs and puts it
    // back afterwards, waking its own loop both times: every call of a page function would
    // cost a second, empty turn of the web process's loop. Running the calls is safe to
    // re-enter (each frame is read whole, and the queue is taken from its front).
    g_source_set_can_recurse(watch, TRUE);
    g_source_set_callback(watch, G_SOURCE_FUNC(OnSocketReadable), nullptr, nullptr);
    g_socketWatch = g_source_attach(watch, nullptr);
    g_source_unref(watch);
    WebKitUserMessage* message =
        webkit_user_message_new_with_fd_list(bridge::kConnectMessage, nullptr, fds);
    g_object_unref(fds);
    webkit_web_extension_send_message_to_context(g_extension, message, nullptr, nullptr, nullptr);
}

// After a failed round trip the channel is closed or out of step (a reply half read): the
// next call goes over a fresh one rather than failing for the rest of the page's life.
void Disconnect() {
    if (g_socketWatch != 0) g_source_remove(g_socketWatch);
    g_socketWatch = 0;
    if (g_socket >= 0) close(g_socket);
    g_socket = -1;
}

void Reconnect() {
    Disconnect();
    ConnectToProgram();
}

void QueueNote(std::string note);

// One round trip; false when the program cannot be reached.
bool RoundTrip(JSCContext* context, const bridge::Request& request, Reply& reply) {
    if (g_socket < 0 || !WriteAll(g_socket, bridge::EncodeRequest(request))) return false;
    AwaitAnswerBriefly(g_socket);
    for (;;) {
        char head[bridge::kReplyHeadSize];
        uint32_t sequence = 0;
        uint8_t status = bridge::kReplyError;
        uint32_t size = 0;
        if (!ReadAll(g_socket, head, sizeof head) ||
            !bridge::DecodeReplyHead(head, sequence, status, size))
            return false;
        if (status == bridge::kReplyNotify) {
            std::string note(size, '\0');
            if (!ReadAll(g_socket, note.data(), size)) return false;
            QueueNote(std::move(note));
            continue;
        }
        // A reply to an earlier call is never taken for this one's answer.
        const bool ours = sequence == request.sequence;
        void* data = nullptr;
        if (ours && status == bridge::kReplyResult && size >= kBytesResultFrom)
            reply.bytes = NewBytes(context, size, data);
        if (reply.bytes == nullptr) {
            reply.text.resize(size);
            data = reply.text.data();
        }
        if (!ReadAll(g_socket, static_cast<char*>(data), size)) return false;
        if (ours) {
            reply.status = status;
            return true;
        }
    }
}

// The value the page's Call gets for a result: a string, or a Uint8Array of UTF-8 to decode.
// Text after a NUL is dropped, as the C string path does.
JSCValue* ResultValue(JSCContext* context, Reply& reply) {
    if (reply.bytes != nullptr) {
        gsize size = 0;
        const void* data = jsc_value_typed_array_get_data(reply.bytes, &size);
        const void* nul = std::memchr(data, '\0', size);
        if (nul == nullptr) return std::exchange(reply.bytes, nullptr);
        reply.text.assign(static_cast<const char*>(data), static_cast<const char*>(nul));
    }
    const size_t nul = reply.text.find('\0');
    if (nul != std::string::npos) reply.text.resize(nul);
    if (reply.text.size() < kBytesResultFrom)
        return jsc_value_new_string(context, reply.text.c_str());
    void* data = nullptr;
    JSCValue* bytes = NewBytes(context, static_cast<uint32_t>(reply.text.size()), data);
    if (bytes == nullptr) {
        jsc_context_throw(context, "window.external: no memory for the result");
        return nullptr;
    }
    std::memcpy(data, reply.text.data(), reply.text.size());
    return bytes;
}

// UTF-16 code units of valid UTF-8 text: one per character, two above U+FFFF.
size_t Utf16Length(const std::string& text) {
    size_t units = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) ++units;
        if (byte >= 0xF0) ++units;
    }
    return units;
}

// The command text as UTF-8, or an error for the page. The text must arrive whole: the C
// string conversion stops at a lone surrogate or a NUL, and a command cut there must not run.
// Text too long for one request is refused here, so the channel never sees it.
bool TakeParam(JSCValue* param, double length, std::string& text, const char*& error) {
    error = "window.external: the command text is too long";
    if (!(length >= 0) || length > bridge::kMaxFrame) return false;  // UTF-8 is never shorter
    char* converted = jsc_value_to_string(param);
    text = converted ? converted : "";
    g_free(converted);
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr) ||
        Utf16Length(text) != static_cast<size_t>(length)) {
        error = "window.external: the command text cannot be sent whole";
        return false;
    }
    return true;
}

// Called by the page's Call with the element's "param" (a string, or null when missing) and
// its length in UTF-16 units. Returns the result (see ResultValue), or undefined for "leave
// the element alone"; throws on failure. A Call whose document is no longer the frame's, or
// whose text cannot be sent whole, throws before anything is sent.
JSCValue* NativeCall(JSCValue* param, double length, gpointer data) {
    auto* site = static_cast<CallSite*>(data);
    JSCContext* context = jsc_context_get_current();
    auto* frame = static_cast<WebKitFrame*>(g_weak_ref_get(&site->frame));
    const bool current =
        frame != nullptr && !*site->revoked && IsFramesCurrentContext(frame, context);
    if (frame != nullptr) g_object_unref(frame);
    if (!current) {
        jsc_context_throw(context, "window.external: this page is no longer shown");
        return nullptr;
    }
    bridge::Request request;
    request.sequence = ++g_sequence;
    if (request.sequence == 0) request.sequence = ++g_sequence;  // 0 is a binding
    request.pageId = site->pageId;
    request.frameId = site->frameId;
    request.url = site->documentUrl;
    request.hasParam = !jsc_value_is_null(param) && !jsc_value_is_undefined(param);
    const char* refusal = nullptr;
    if (request.hasParam && !TakeParam(param, length, request.param, refusal)) {
        jsc_context_throw(context, refusal);
        return nullptr;
    }
    if (bridge::RequestBodySize(request.url.size(), request.param.size()) > bridge::kMaxFrame) {
        jsc_context_throw(context, "window.external: the command text is too long");
        return nullptr;
    }
    Reply reply;
    if (!RoundTrip(context, request, reply)) {
        Reconnect();
        jsc_context_throw(context, "window.external: the program is not answering");
        return nullptr;
    }
    if (reply.status == bridge::kReplyResult) return ResultValue(context, reply);
    if (reply.status == bridge::kReplyError) {
        jsc_context_throw(context, reply.text.c_str());
        return nullptr;
    }
    return jsc_value_new_undefined(context);
}

double TestMicros(gpointer) {
    return static_cast<double>(g_get_monotonic_time());
}

// Builds window.external from builtins captured now, before any page script can change them.
// The member table has no prototype, so only "call" (in any case) is found. Returns the
// function that gives this window object's external the Call of a later document.
constexpr const char* kInstaller = R"JS(
(function (nativeCall, testMicros) {
  'use strict';
  const apply = Reflect.apply;
  const getAttribute = Element.prototype.getAttribute;
  const setAttribute = Element.prototype.setAttribute;
  const toLowerCase = String.prototype.toLowerCase;
  const create = Object.create;
  const defineProperty = Object.defineProperty;
  const ProxyConstructor = Proxy;
  const TypeErrorConstructor = TypeError;
  // A lone surrogate has no UTF-8 form: such a command is refused whole, never cut or patched.
  const isWellFormed = String.prototype.isWellFormed;
  // Text that is not valid UTF-8 becomes an empty result, and a leading BOM stays, as for
  // short results.
  const decode = TextDecoder.prototype.decode;
  const utf8 = new TextDecoder('utf-8', {fatal: true, ignoreBOM: true});
  const text = (bytes) => {
    try {
      return apply(decode, utf8, [bytes]);
    } catch (e) {
      return '';
    }
  };
  let methods;
  const arm = (native) => {
    const table = create(null);
    table.call = function Call(element) {
      let param;
      try {
        param = apply(getAttribute, element, ['param']);
      } catch (e) {
        return;  // not an element: nothing happens
      }
      if (typeof param === 'string' && isWellFormed !== undefined && !apply(isWellFormed, param, []))
        throw new TypeErrorConstructor('window.external: the command text is not valid Unicode');
      const result = native(param, typeof param === 'string' ? param.length : 0);
      if (typeof result === 'string') apply(setAttribute, element, ['result', result]);
      else if (result !== undefined && result !== null) apply(setAttribute, element, ['result', text(result)]);
    };
    methods = table;
  };
  arm(nativeCall);
  const member = (name) => typeof name === 'string' ? methods[apply(toLowerCase, name, [])] : undefined;
  const traps = create(null);
  traps.get = (target, name) => member(name);
  traps.has = (target, name) => member(name) !== undefined;
  traps.set = () => false;
  traps.defineProperty = () => false;
  traps.deleteProperty = () => false;
  traps.setPrototypeOf = () => false;
  traps.getPrototypeOf = () => null;
  const external = new ProxyConstructor(create(null), traps);
  defineProperty(window, 'external', {value: external, writable: false, enumerable: true, configurable: false});
  if (testMicros) {
    defineProperty(window, 'maplenookTestMicros', {value: testMicros, writable: false, enumerable: false, configurable: false});
  }
  return arm;
})
)JS";

void OnWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame,
                           gpointer) {
    JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
    if (webkit_frame_is_main_frame(frame)) {
        auto* known = static_cast<GWeakRef*>(g_object_get_data(G_OBJECT(page), kMainFrameKey));
        gpointer knownFrame = known != nullptr ? g_weak_ref_get(known) : nullptr;
        if (knownFrame != frame) {
            auto* mainFrame = new GWeakRef;
            g_weak_ref_init(mainFrame, frame);
            g_object_set_data_full(G_OBJECT(page), kMainFrameKey, mainFrame, FreeMainFrame);
        }
        if (knownFrame != nullptr) g_object_unref(knownFrame);
    }
    auto* site = new CallSite;
    site->pageId = webkit_web_page_get_id(page);
    site->frameId = webkit_frame_get_id(frame);
    const char* uri = webkit_frame_get_uri(frame);
    site->documentUrl = uri ? uri : "";
    g_weak_ref_init(&site->frame, frame);
    std::shared_ptr<bool> revoked = site->revoked;
    JSCValue* call =
        jsc_value_new_function(context, nullptr, G_CALLBACK(NativeCall), site, FreeCallSite,
                               JSC_TYPE_VALUE, 2, JSC_TYPE_VALUE, G_TYPE_DOUBLE);

    auto* bridge = static_cast<FrameBridge*>(g_object_get_data(G_OBJECT(frame), kFrameBridgeKey));
    JSCValue* armed = nullptr;
    if (bridge != nullptr && bridge->rearm != nullptr &&
        jsc_value_get_context(bridge->rearm) == context) {
        // The same window object now shows another document: its external gets that
        // document's Call, and the earlier document's Call stops working.
        *bridge->revoked = true;
        armed = jsc_value_function_call(bridge->rearm, JSC_TYPE_VALUE, call, G_TYPE_NONE);
        bridge->revoked = revoked;
    } else {
        JSCValue* micros = g_testHooks ? jsc_value_new_function(context, "maplenookTestMicros",
                                                                G_CALLBACK(TestMicros), nullptr,
                                                                nullptr, G_TYPE_DOUBLE, 0)
                                       : jsc_value_new_null(context);
        JSCValue* installer = jsc_context_evaluate(context, kInstaller, -1);
        armed = jsc_value_function_call(installer, JSC_TYPE_VALUE, call, JSC_TYPE_VALUE, micros,
                                        G_TYPE_NONE);
        g_object_unref(installer);
        g_object_unref(micros);
        bridge = new FrameBridge;
        bridge->revoked = revoked;
        if (armed != nullptr && jsc_value_is_function(armed))
            bridge->rearm = JSC_VALUE(g_object_ref(armed));
        // Replacing the data frees the previous window object's hook.
        g_object_set_data_full(G_OBJECT(frame), kFrameBridgeKey, bridge, FreeFrameBridge);
    }
    if (JSCException* exception = jsc_context_get_exception(context)) {
        // The page chooses the message.
        const char* message = jsc_exception_get_message(exception);
        g_warning("window.external: %s",
                  os::EscapedForLog(message != nullptr ? message : "", os::kLogLineLimit).c_str());
        jsc_context_clear_exception(context);
    }
    g_clear_object(&armed);
    g_object_unref(call);
    g_object_unref(context);
}

bool IsIdentifier(const char* name) {
    if (name == nullptr || !(g_ascii_isalpha(*name) || *name == '_' || *name == '$')) return false;
    for (const char* c = name + 1; *c != '\0'; ++c)
        if (!(g_ascii_isalnum(*c) || *c == '_' || *c == '$')) return false;
    return true;
}

// A function that calls the page's global `name` with its arguments when there is such a
// function; kept on the frame for its window object, so it is compiled once, not per call.
JSCValue* CallerFor(WebKitFrame* frame, JSCContext* context, const char* name) {
    auto* bridge = static_cast<FrameBridge*>(g_object_get_data(G_OBJECT(frame), kFrameBridgeKey));
    if (bridge != nullptr && bridge->caller != nullptr && bridge->callerName == name &&
        jsc_value_get_context(bridge->caller) == context)
        return JSC_VALUE(g_object_ref(bridge->caller));
    const std::string n(name);
    const std::string text =
        "(function (...a) { if (typeof " + n + " === 'function') " + n + "(...a); })";
    JSCValue* caller = jsc_context_evaluate(context, text.c_str(), -1);
    if (caller == nullptr || !jsc_value_is_function(caller)) {
        g_clear_object(&caller);
        jsc_context_clear_exception(context);
        return nullptr;
    }
    if (bridge != nullptr) {
        g_clear_object(&bridge->caller);
        bridge->caller = JSC_VALUE(g_object_ref(caller));
        bridge->callerName = n;
    }
    return caller;
}

// The program's call of a function of the page's top frame with UTF-8 arguments (NULs
// included); what it returns or throws is dropped, as a failed script of the program's would be.
void CallPageFunction(WebKitWebPage* page, const char* name,
                      const std::vector<std::string_view>& args) {
    if (!IsIdentifier(name)) return;
    auto* mainFrame = static_cast<GWeakRef*>(g_object_get_data(G_OBJECT(page), kMainFrameKey));
    auto* frame =
        mainFrame != nullptr ? static_cast<WebKitFrame*>(g_weak_ref_get(mainFrame)) : nullptr;
    if (frame == nullptr) return;  // no document yet, so no function to call
    JSCContext* context = webkit_frame_get_js_context(frame);
    if (JSCValue* caller = CallerFor(frame, context, name)) {
        std::vector<JSCValue*> values;
        for (const std::string_view arg : args) {
            GBytes* bytes = g_bytes_new(arg.data(), arg.size());
            values.push_back(jsc_value_new_string_from_bytes(context, bytes));
            g_bytes_unref(bytes);
        }
        JSCValue* result =
            jsc_value_function_callv(caller, static_cast<guint>(values.size()), values.data());
        g_clear_object(&result);
        jsc_context_clear_exception(context);
        for (JSCValue* value : values) g_object_unref(value);
        g_object_unref(caller);
    }
    g_object_unref(context);
    g_object_unref(frame);
}

// A call sent through WebKit's messages: (saay).
void CallPageFunction(WebKitWebPage* page, GVariant* parameters) {
    if (parameters == nullptr || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(saay)")))
        return;
    const char* name = nullptr;
    g_variant_get_child(parameters, 0, "&s", &name);
    GVariant* list = g_variant_get_child_value(parameters, 1);
    std::vector<GVariant*> children;
    std::vector<std::string_view> args;
    for (size_t i = 0; i < g_variant_n_children(list); ++i) {
        children.push_back(g_variant_get_child_value(list, i));
        gsize size = 0;
        const void* data = g_variant_get_fixed_array(children.back(), &size, 1);
        args.emplace_back(static_cast<const char*>(data), size);
    }
    CallPageFunction(page, name, args);
    for (GVariant* child : children) g_variant_unref(child);
    g_variant_unref(list);
}

// Makes the calls that have arrived over the socket, in their order. A call may run page
// script that Calls the program, which may bring more: they join the end of the line.
void CallNotedFunctions() {
    while (!g_notes.empty()) {
        const std::string text = std::move(g_notes.front());
        g_notes.pop_front();
        bridge::Notify note;
        if (!bridge::DecodeNotify(text, note)) continue;
        WebKitWebPage* page = webkit_web_extension_get_page(g_extension, note.pageId);
        if (page == nullptr) continue;
        const std::vector<std::string_view> args(note.args.begin(), note.args.end());
        CallPageFunction(page, note.name.c_str(), args);
    }
}

gboolean OnNotesIdle(gpointer) {
    g_notesIdle = 0;
    CallNotedFunctions();
    return G_SOURCE_REMOVE;
}

void QueueNote(std::string note) {
    g_notes.push_back(std::move(note));
    if (g_notesIdle == 0) g_notesIdle = g_idle_add(OnNotesIdle, nullptr);
}

// Between round trips only calls of page functions come unasked; anything else means the
// stream is out of step, and the next Call starts a fresh one. What the socket holds is taken
// in one read; a frame cut at its end is read whole, as its rest is on its way.
gboolean OnSocketReadable(gint fd, GIOCondition condition, gpointer) {
    const auto broken = [] {
        g_socketWatch = 0;  // removed by returning so
        Disconnect();
        CallNotedFunctions();
        return G_SOURCE_REMOVE;
    };
    // Takes `count` bytes of the frame: first from what was read, then from the socket.
    const auto take = [fd](const char*& at, const char* end, char* out, size_t count) {
        const size_t here = std::min(count, static_cast<size_t>(end - at));
        std::memcpy(out, at, here);
        at += here;
        return here == count || ReadAll(fd, out + here, count - here);
    };
    char buffer[16384];
    for (;;) {
        const ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno == EAGAIN && !(condition & (G_IO_HUP | G_IO_ERR))) break;
        if (got <= 0) return broken();
        const char* at = buffer;
        const char* end = buffer + got;
        while (at < end) {
            char head[bridge::kReplyHeadSize];
            uint32_t sequence = 0;
            uint8_t status = bridge::kReplyError;
            uint32_t size = 0;
            if (!take(at, end, head, sizeof head) ||
                !bridge::DecodeReplyHead(head, sequence, status, size) ||
                status != bridge::kReplyNotify)
                return broken();
            std::string note(size, '\0');
            if (!take(at, end, note.data(), size)) return broken();
            g_notes.push_back(std::move(note));
        }
        // A short read took all there was: the source fires again when more comes.
        if (static_cast<size_t>(got) < sizeof buffer) break;
    }
    CallNotedFunctions();
    return G_SOURCE_CONTINUE;
}

// The program asks the page to prove which socket its process holds: the token goes back
// over it in a request with sequence 0.
void Bind(WebKitWebPage* page, GVariant* parameters) {
    if (parameters == nullptr || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(s)"))) return;
    if (g_socket < 0) ConnectToProgram();
    bridge::Request request;
    request.sequence = 0;
    request.pageId = webkit_web_page_get_id(page);
    request.hasParam = true;
    const char* token = nullptr;
    g_variant_get(parameters, "(&s)", &token);
    request.param = token;
    if (g_socket >= 0 && !WriteAll(g_socket, bridge::EncodeRequest(request))) Disconnect();
}

gboolean OnPageMessage(WebKitWebPage* page, WebKitUserMessage* message, gpointer) {
    const char* name = webkit_user_message_get_name(message);
    if (std::strcmp(name, bridge::kCallFunctionMessage) == 0) {
        CallPageFunction(page, webkit_user_message_get_parameters(message));
        return TRUE;
    }
    if (std::strcmp(name, bridge::kBindMessage) == 0) {
        Bind(page, webkit_user_message_get_parameters(message));
        return TRUE;
    }
    return FALSE;
}

void OnPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
    g_signal_connect(page, "user-message-received", G_CALLBACK(OnPageMessage), nullptr);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void
webkit_web_extension_initialize_with_user_data(WebKitWebExtension* extension,
                                               const GVariant* userData) {
    if (userData != nullptr &&
        g_variant_is_of_type(const_cast<GVariant*>(userData), G_VARIANT_TYPE("(b)"))) {
        gboolean hooks = FALSE;
        g_variant_get(const_cast<GVariant*>(userData), "(b)", &hooks);
        g_testHooks = hooks != FALSE;
    }
    g_pollBeforeBlocking = HasSeveralCpus();
    g_extension = extension;
    ConnectToProgram();
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                     G_CALLBACK(OnWindowObjectCleared), nullptr);
    g_signal_connect(extension, "page-created", G_CALLBACK(OnPageCreated), nullptr);
}
