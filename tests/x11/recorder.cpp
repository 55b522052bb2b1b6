// A plain Xlib client for the x11 tests: takes the focus and reports every key
// it receives, translated with Xutf8LookupString as a real application does.
// Lines on stdout:
//   READY                                       the window has the focus
//   P <keycode> <state> <keysym> <utf8-hex> <time>   a key press (hex may be "-")
//   R <keycode> <time>                          a key release
// Usage: x11_recorder DISPLAY [SLOW_MS]   (SLOW_MS: stall per key press, like a busy application)
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <time.h>

namespace {

std::string hex(const char *data, int size)
{
    if (size <= 0)
        return "-";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

void stall(long ms)
{
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DISPLAY [SLOW_MS]\n", argv[0]);
        return 2;
    }
    const long slowMs = argc > 2 ? std::atol(argv[2]) : 0;
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
            std::printf("READY\n");
            std::fflush(stdout);
            break;
        case MappingNotify:
            XRefreshKeyboardMapping(&event.xmapping);
            break;
        case KeyPress: {
            if (slowMs > 0)
                stall(slowMs);
            char buffer[256];
            KeySym keysym = NoSymbol;
            Status status = 0;
            int n = Xutf8LookupString(ic, &event.xkey, buffer, sizeof buffer, &keysym, &status);
            if (status != XLookupChars && status != XLookupBoth)
                n = 0;
            std::printf("P %u %u %lx %s %lu\n", event.xkey.keycode, event.xkey.state, keysym,
                        hex(buffer, n).c_str(), event.xkey.time);
            std::fflush(stdout);
            break;
        }
        case KeyRelease:
            std::printf("R %u %lu\n", event.xkey.keycode, event.xkey.time);
            std::fflush(stdout);
            break;
        default:
            break;
        }
    }
}
