// A plain Xlib client for the x11 tests: takes the focus and reports every key
// it receives, translated with Xutf8LookupString as a real application does.
// Lines on stdout:
//   READY <window>                              the window has the focus
//   P <keycode> <state> <keysym> <utf8-hex> <time>   a key press (hex may be "-")
//   R <keycode> <time>                          a key release
//   M <time>                                    an XkbMapNotify: someone changed the keymap
//   SYNC <n>                                    a KEYLOOM_TEST_SYNC client message, sent after
//                                               keys that must have arrived first
// Usage: x11_recorder DISPLAY [SLOW_MS] [--forward]
//   SLOW_MS: stall per key press, like a busy application.
//   --forward: behave like a VM console or remote-desktop viewer that forwards key codes:
//   translate with the keymap, locks and group as they were when the focus came, with
//   modifiers known only from the key events themselves, and never re-read the keymap.
#include <X11/XKBlib.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

std::string hex(const char *data, int size)
{
    std::string out = size > 0 ? "" : "-";
    char byte[3];
    for (int i = 0; i < size; ++i) {
        std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(data[i]));
        out += byte;
    }
    return out;
}

// The key-forwarding viewer's keyboard: the keymap and locks as they were when it took the
// focus, and every key event it receives applied to them, as the guest a viewer forwards
// key codes to does.
class ForwardedKeyboard {
public:
    bool capture(Display *display)
    {
        xcb_connection_t *connection = XGetXCBConnection(display);
        xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        if (!context ||
            !xkb_x11_setup_xkb_extension(connection, 1, 0, XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS,
                                         nullptr, nullptr, nullptr, nullptr))
            return false;
        const int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
        xkb_keymap *keymap = xkb_x11_keymap_new_from_device(context, connection, device,
                                                            XKB_KEYMAP_COMPILE_NO_FLAGS);
        XkbStateRec state;
        if (!keymap || XkbGetState(display, XkbUseCoreKbd, &state) != Success)
            return false;
        m_state = xkb_state_new(keymap);
        xkb_state_update_mask(m_state, 0, 0, state.locked_mods, 0, 0, state.locked_group);
        return true;
    }

    unsigned state() const { return xkb_state_serialize_mods(m_state, XKB_STATE_MODS_EFFECTIVE); }

    // The keysym and UTF-8 text of a press, then the press is applied.
    int press(unsigned keycode, KeySym *keysym, char *buffer, int size)
    {
        *keysym = xkb_state_key_get_one_sym(m_state, keycode);
        const int n = xkb_state_key_get_utf8(m_state, keycode, buffer, size_t(size));
        xkb_state_update_key(m_state, keycode, XKB_KEY_DOWN);
        return n > 0 && n < size ? n : 0;
    }

    void release(unsigned keycode) { xkb_state_update_key(m_state, keycode, XKB_KEY_UP); }

private:
    xkb_state *m_state = nullptr;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DISPLAY [SLOW_MS] [--forward]\n", argv[0]);
        return 2;
    }
    long slowMs = 0;
    bool forward = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--forward") == 0)
            forward = true;
        else
            slowMs = std::atol(argv[i]);
    }
    if (!std::setlocale(LC_ALL, "C.UTF-8"))
        std::setlocale(LC_ALL, "");
    XSetLocaleModifiers("@im=none");
    Display *display = XOpenDisplay(argv[1]);
    if (!display) {
        std::fprintf(stderr, "cannot open display %s\n", argv[1]);
        return 1;
    }
    const Window window =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 400, 300, 0, 0, 0xffffff);
    XSelectInput(display, window,
                 KeyPressMask | KeyReleaseMask | FocusChangeMask | StructureNotifyMask);
    const Atom syncAtom = XInternAtom(display, "KEYLOOM_TEST_SYNC", False);
    // Keymap changes as XKB reports them: Xlib turns only some of them into MappingNotify.
    int xkbOpcode = 0, xkbEvent = 0, xkbError = 0;
    int xkbMajor = XkbMajorVersion, xkbMinor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &xkbOpcode, &xkbEvent, &xkbError, &xkbMajor, &xkbMinor)) {
        std::fprintf(stderr, "no XKB\n");
        return 1;
    }
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbMapNotify, XkbAllMapComponentsMask,
                          XkbAllMapComponentsMask);
    // The server repeats each change for every slave keyboard; count the core one's only.
    XkbDeviceInfoPtr core = XkbGetDeviceInfo(display, 0, XkbUseCoreKbd, 0, 0);
    const unsigned coreKeyboard = core ? core->device_spec : XkbUseCoreKbd;
    if (core)
        XkbFreeDeviceInfo(core, XkbXI_AllDeviceFeaturesMask, True);
    XIM im = XOpenIM(display, nullptr, nullptr, nullptr);
    XIC ic = im ? XCreateIC(im, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow,
                            window, XNFocusWindow, window, nullptr)
                : nullptr;
    if (!ic) {
        std::fprintf(stderr, "no input context\n");
        return 1;
    }
    XSetICFocus(ic);
    XMapRaised(display, window);

    ForwardedKeyboard forwarded;
    bool captured = false;
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (XFilterEvent(&event, None))
            continue;
        switch (event.type) {
        case MapNotify:
            // No window manager: take the focus ourselves.
            XSetInputFocus(display, window, RevertToParent, CurrentTime);
            break;
        case FocusIn:
            if (forward && !captured) {
                if (!forwarded.capture(display)) {
                    std::fprintf(stderr, "cannot read the keyboard map\n");
                    return 1;
                }
                captured = true;
            }
            std::printf("READY %lu\n", window);
            std::fflush(stdout);
            break;
        case MappingNotify:
            if (!forward)
                XRefreshKeyboardMapping(&event.xmapping);
            break;
        case ClientMessage:
            if (event.xclient.message_type == syncAtom) {
                std::printf("SYNC %ld\n", event.xclient.data.l[0]);
                std::fflush(stdout);
            }
            break;
        case KeyPress: {
            if (slowMs > 0)
                usleep(useconds_t(slowMs * 1000));
            char buffer[256];
            KeySym keysym = NoSymbol;
            unsigned state = event.xkey.state;
            int n = 0;
            if (forward) {
                state = forwarded.state();
                n = forwarded.press(event.xkey.keycode, &keysym, buffer, sizeof buffer);
            } else {
                Status status = 0;
                n = Xutf8LookupString(ic, &event.xkey, buffer, sizeof buffer, &keysym, &status);
                if (status != XLookupChars && status != XLookupBoth)
                    n = 0;
            }
            std::printf("P %u %u %lx %s %lu\n", event.xkey.keycode, state, keysym,
                        hex(buffer, n).c_str(), event.xkey.time);
            std::fflush(stdout);
            break;
        }
        case KeyRelease:
            if (forward)
                forwarded.release(event.xkey.keycode);
            std::printf("R %u %lu\n", event.xkey.keycode, event.xkey.time);
            std::fflush(stdout);
            break;
        default:
            if (event.type == xkbEvent) {
                const XkbAnyEvent &xkb = reinterpret_cast<XkbEvent &>(event).any;
                if (xkb.xkb_type == XkbMapNotify && xkb.device == coreKeyboard) {
                    std::printf("M %lu\n", xkb.time);
                    std::fflush(stdout);
                }
            }
            break;
        }
    }
}
