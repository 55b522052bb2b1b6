// A plain Xlib client for the x11 tests: takes the focus and reports every key
// it receives, translated with Xutf8LookupString as a real application does.
// Lines on stdout:
//   READY <window>                              the window has the focus
//   P <keycode> <state> <keysym> <utf8-hex> <time>   a key press (hex may be "-")
//   R <keycode> <time>                          a key release
//   M <time>                                    an XkbMapNotify: someone changed the keymap
//   SYNC <n>                                    a KEYLOOM_TEST_SYNC client message, sent after
//                                               keys that must have arrived first
// Usage: x11_recorder DISPLAY [SLOW_MS] [--stall N MS] [--forward] [--class NAME]
//   SLOW_MS: stall per key press, like a busy application.
//   --stall N MS: stall once, at the Nth key press.
// Like a toolkit's window, it answers the window manager's _NET_WM_PING once it has handled
// the events before it.
//   --forward: behave like a VM console or remote-desktop viewer that forwards key codes to a
//   guest: translate with the keymap and group as they were when the focus came, the guest's
//   own locks off, modifiers known only from the key events themselves; keys a PC keyboard
//   lacks never arrive, and dead keys compose by the guest's own small table below.
//   --class NAME: the window's WM_CLASS, instance and class.
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
#include <string_view>
#include <utility>
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
        xkb_state_update_mask(m_state, 0, 0, 0, 0, 0, state.locked_group);
        return true;
    }

    // Evdev key codes with a PC scancode: the main block, function and navigation keys, keypad.
    static bool onPcKeyboard(unsigned keycode)
    {
        return (keycode >= 9 && keycode <= 91) || (keycode >= 94 && keycode <= 96) ||
               (keycode >= 104 && keycode <= 108) || (keycode >= 110 && keycode <= 119) ||
               keycode == 127 || (keycode >= 133 && keycode <= 135);
    }

    unsigned state() const { return xkb_state_serialize_mods(m_state, XKB_STATE_MODS_EFFECTIVE); }

    // The keysym and UTF-8 text of a press, then the press is applied.
    int press(unsigned keycode, KeySym *keysym, char *buffer, int size)
    {
        *keysym = xkb_state_key_get_one_sym(m_state, keycode);
        int n = xkb_state_key_get_utf8(m_state, keycode, buffer, size_t(size));
        xkb_state_update_key(m_state, keycode, XKB_KEY_DOWN);
        n = n > 0 && n < size ? n : 0;
        if (*keysym >= 0xfe50 && *keysym <= 0xfe8f) { // dead_grave and the other dead keys
            m_dead = *keysym;
            return 0;
        }
        if (n == 0 || !m_dead) // Shift between a dead key and its base is no base
            return n;
        const KeySym dead = std::exchange(m_dead, 0);
        // The guest's dead keys: a base it does not know gives "?", so a test sees it.
        static const struct {
            KeySym dead;
            const char *base, *text;
        } composed[] = {
            {XKB_KEY_dead_circumflex, "e", "ê"}, {XKB_KEY_dead_circumflex, "a", "â"},
            {XKB_KEY_dead_circumflex, "o", "ô"}, {XKB_KEY_dead_circumflex, "u", "û"},
            {XKB_KEY_dead_circumflex, " ", "^"}, {XKB_KEY_dead_acute, "e", "é"},
            {XKB_KEY_dead_acute, "a", "á"},      {XKB_KEY_dead_acute, "i", "í"},
            {XKB_KEY_dead_acute, "o", "ó"},      {XKB_KEY_dead_acute, "u", "ú"},
            {XKB_KEY_dead_acute, "E", "É"},      {XKB_KEY_dead_grave, " ", "`"},
            {XKB_KEY_dead_diaeresis, "u", "ü"},  {XKB_KEY_dead_tilde, "a", "ã"},
        };
        for (const auto &c : composed) {
            if (c.dead == dead && std::string_view(buffer, size_t(n)) == c.base)
                return std::snprintf(buffer, size_t(size), "%s", c.text);
        }
        return std::snprintf(buffer, size_t(size), "?");
    }

    void release(unsigned keycode) { xkb_state_update_key(m_state, keycode, XKB_KEY_UP); }

private:
    xkb_state *m_state = nullptr;
    KeySym m_dead = 0; // a dead key waiting for its base
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DISPLAY [SLOW_MS] [--stall N MS] [--forward] [--class NAME]\n",
                     argv[0]);
        return 2;
    }
    long slowMs = 0, stallAt = 0, stallMs = 0, presses = 0;
    bool forward = false;
    const char *windowClass = nullptr;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--forward") == 0)
            forward = true;
        else if (std::strcmp(argv[i], "--class") == 0 && i + 1 < argc)
            windowClass = argv[++i];
        else if (std::strcmp(argv[i], "--stall") == 0 && i + 2 < argc)
            stallAt = std::atol(argv[i + 1]), stallMs = std::atol(argv[i + 2]), i += 2;
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
    if (!windowClass)
        windowClass = "x11_recorder";
    XClassHint hint{const_cast<char *>(windowClass), const_cast<char *>(windowClass)};
    XSetClassHint(display, window, &hint);
    XSelectInput(display, window,
                 KeyPressMask | KeyReleaseMask | FocusChangeMask | StructureNotifyMask);
    const Atom syncAtom = XInternAtom(display, "KEYLOOM_TEST_SYNC", False);
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    XSetWMProtocols(display, window, &ping, 1);
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
        // Xlib's input method would take dead keys for its own composing: a viewer's never does.
        if (!forward && XFilterEvent(&event, None))
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
            } else if (event.xclient.message_type == protocols &&
                       Atom(event.xclient.data.l[0]) == ping) {
                event.xclient.window = DefaultRootWindow(display);
                XSendEvent(display, event.xclient.window, False,
                           SubstructureNotifyMask | SubstructureRedirectMask, &event);
                XFlush(display);
            }
            break;
        case KeyPress: {
            if (forward && !ForwardedKeyboard::onPcKeyboard(event.xkey.keycode))
                break; // the guest never hears of it
            if (slowMs > 0)
                usleep(useconds_t(slowMs * 1000));
            if (++presses == stallAt)
                usleep(useconds_t(stallMs * 1000));
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
            if (forward && !ForwardedKeyboard::onPcKeyboard(event.xkey.keycode))
                break;
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
