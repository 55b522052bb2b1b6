#include "X11ClipboardReader.h"
#include "X11Display.h"

#include <poll.h>
#include <unistd.h>

#include "X11Headers.h"

namespace {

using Clock = std::chrono::steady_clock;

// One read, from the first request to the last piece, on a connection of its own.
class Transfer {
public:
    Transfer(Display *display, int stopFd, std::stop_token stop)
        : m_display(display), m_stopFd(stopFd), m_stop(std::move(stop))
    {
        const char *names[] = {"CLIPBOARD",     "UTF8_STRING", "TEXT",
                               "COMPOUND_TEXT", "INCR",        "KEYLOOM_CLIPBOARD"};
        Atom atoms[std::size(names)] = {};
        XInternAtoms(m_display, const_cast<char **>(names), int(std::size(names)), False, atoms);
        m_clipboard = atoms[0];
        m_utf8 = atoms[1];
        m_text = atoms[2];
        m_compoundText = atoms[3];
        m_incr = atoms[4];
        m_property = atoms[5];
    }

    std::optional<QString> run()
    {
        if (XGetSelectionOwner(m_display, m_clipboard) == None)
            return std::nullopt;
        XSetWindowAttributes attributes{};
        attributes.event_mask = PropertyChangeMask;
        m_window = XCreateWindow(m_display, DefaultRootWindow(m_display), 0, 0, 1, 1, 0, 0,
                                 InputOnly, CopyFromParent, CWEventMask, &attributes);
        const std::optional<Time> time = serverTime();
        if (!time)
            return std::nullopt;
        for (const Atom target : {m_utf8, Atom(XA_STRING), m_text}) {
            XConvertSelection(m_display, m_clipboard, target, m_property, m_window, *time);
            XEvent event;
            if (!next(event, [this](const XEvent &e) {
                    return e.type == SelectionNotify && e.xselection.requestor == m_window;
                }))
                return std::nullopt; // the owner does not answer: asking again would not help
            if (event.xselection.property != None)
                return take();
            // Refused: try the next, older form.
        }
        return std::nullopt;
    }

private:
    // Waits for a wanted event of our window, at most the owner's timeout.
    template <class Wanted> bool next(XEvent &event, Wanted wanted)
    {
        const Clock::time_point deadline = Clock::now() + X11ClipboardReader::ownerTimeout;
        for (;;) {
            while (XPending(m_display)) {
                XNextEvent(m_display, &event);
                if (wanted(event))
                    return true;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (m_stop.stop_requested() || left.count() <= 0)
                return false;
            pollfd fds[2] = {{ConnectionNumber(m_display), POLLIN, 0}, {m_stopFd, POLLIN, 0}};
            poll(fds, 2, int(left.count()));
        }
    }

    // ICCCM: a timestamp of the server's, from a property change of our own.
    std::optional<Time> serverTime()
    {
        XChangeProperty(m_display, m_window, m_property, XA_STRING, 8, PropModeAppend, nullptr, 0);
        XEvent event;
        if (!next(event, [this](const XEvent &e) {
                return e.type == PropertyNotify && e.xproperty.window == m_window;
            }))
            return std::nullopt;
        return event.xproperty.time;
    }

    // The property's bytes, then deleted: for INCR that asks the owner for the next piece.
    bool readProperty(QByteArray &bytes, Atom &type, int &format)
    {
        bytes.clear();
        long offset = 0;
        for (;;) {
            unsigned char *data = nullptr;
            unsigned long count = 0, after = 0;
            // In pieces of 4 MB, so that no reply is too large for Xlib.
            if (XGetWindowProperty(m_display, m_window, m_property, offset, 1 << 20, False,
                                   AnyPropertyType, &type, &format, &count, &after,
                                   &data) != Success)
                return false;
            // Xlib hands out 32-bit items as longs; text comes in 8-bit ones.
            const unsigned long size = format == 8 ? count : format == 16 ? 2 * count : 0;
            if (data) {
                bytes.append(reinterpret_cast<const char *>(data), qsizetype(size));
                XFree(data);
            }
            if (after == 0 || size == 0)
                break;
            offset += long(size / 4);
        }
        XDeleteProperty(m_display, m_window, m_property);
        XFlush(m_display);
        return type != None;
    }

    std::optional<QString> take()
    {
        QByteArray bytes;
        Atom type = None;
        int format = 0;
        if (!readProperty(bytes, type, format))
            return std::nullopt;
        if (type == m_incr) {
            // The owner sends pieces, each after we deleted the last; an empty one ends it.
            QByteArray all;
            for (;;) {
                XEvent event;
                if (!next(event,
                          [this](const XEvent &e) {
                              return e.type == PropertyNotify && e.xproperty.window == m_window &&
                                     e.xproperty.atom == m_property &&
                                     e.xproperty.state == PropertyNewValue;
                          }) ||
                    !readProperty(bytes, type, format))
                    return std::nullopt;
                if (bytes.isEmpty())
                    break;
                all += bytes;
            }
            bytes = std::move(all);
        }
        return decode(bytes, type, format);
    }

    std::optional<QString> decode(const QByteArray &bytes, Atom type, int format) const
    {
        if (format != 8)
            return std::nullopt;
        if (type == m_utf8)
            return QString::fromUtf8(bytes);
        if (type == XA_STRING)
            return QString::fromLatin1(bytes);
        if (type != m_compoundText)
            return std::nullopt;
        XTextProperty property{reinterpret_cast<unsigned char *>(const_cast<char *>(bytes.data())),
                               type, 8, static_cast<unsigned long>(bytes.size())};
        char **list = nullptr;
        int count = 0;
        if (Xutf8TextPropertyToTextList(m_display, &property, &list, &count) < Success)
            return std::nullopt;
        QString text;
        for (int i = 0; i < count; ++i)
            text += QString::fromUtf8(list[i]);
        XFreeStringList(list);
        return text;
    }

    Display *m_display;
    int m_stopFd;
    std::stop_token m_stop;
    Window m_window = None;
    Atom m_clipboard = None;
    Atom m_utf8 = None;
    Atom m_text = None;
    Atom m_compoundText = None;
    Atom m_incr = None;
    Atom m_property = None;
};

} // namespace

void X11ClipboardReader::read(Done done)
{
    m_reads.start(
        [this](int stopFd, std::stop_token stop) -> std::optional<QString> {
            Display *display = openX11Display(m_displayName);
            if (!display)
                return std::nullopt;
            std::optional<QString> text = Transfer(display, stopFd, std::move(stop)).run();
            XCloseDisplay(display);
            return text;
        },
        std::move(done));
}
