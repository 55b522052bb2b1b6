#include "X11KeyBackend.h"

#include "X11DeferredRestore.h"
#include "X11Display.h"
#include "X11ExitGuard.h"
#include "X11FocusedWindow.h"
#include "X11SpareKeys.h"

#include <algorithm>

#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include "X11Headers.h"
#include <X11/Xlib-xcb.h>

std::unique_ptr<X11KeyBackend> X11KeyBackend::open(const QByteArray &displayName,
                                                   KeyForwarding forwarding)
{
    std::optional<X11DeferredRestore::Parked> parked =
        X11DeferredRestore::instance().adopt(displayName);
    Display *display = parked ? parked->display : openX11Display(displayName);
    if (!display)
        return nullptr;
    int event = 0, error = 0, major = 0, minor = 0;
    int opcode = 0, xkbEvent = 0, xkbError = 0;
    int xkbMajor = XkbMajorVersion, xkbMinor = XkbMinorVersion;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor) ||
        !XkbQueryExtension(display, &opcode, &xkbEvent, &xkbError, &xkbMajor, &xkbMinor)) {
        if (parked)
            parked->keys.reset();
        XCloseDisplay(display);
        return nullptr;
    }
    std::unique_ptr<X11KeyBackend> backend(new X11KeyBackend(
        display, displayName, xkbEvent, parked ? std::move(parked->keys) : nullptr));
    const X11FocusedWindow::Program focused = X11FocusedWindow::focusedProgram(display);
    backend->m_forwardsKeys = forwarding == KeyForwarding::EveryWindow ||
                              (forwarding == KeyForwarding::Automatic &&
                               X11FocusedWindow::forwardsKeys(focused));
    // A slow window may still hold the previous run's keys: none of its spare keys is given
    // another character before the window has answered a ping.
    backend->m_ping = X11WindowPing::forWindow(display, focused.window);
    backend->pool().expectAnswers(backend->m_ping != nullptr);
    return backend;
}

X11KeyBackend::X11KeyBackend(Display *display, QByteArray displayName, int xkbEventBase,
                             std::unique_ptr<X11SpareKeys> adopted)
    : m_display(display), m_displayName(std::move(displayName)), m_xkbEventBase(xkbEventBase),
      m_spareKeys(std::move(adopted))
{
    // Keymap changes by others must reach us so that stale bindings are noticed.
    XkbSelectEvents(m_display, XkbUseCoreKbd, XkbMapNotifyMask | XkbNewKeyboardNotifyMask,
                    XkbMapNotifyMask | XkbNewKeyboardNotifyMask);
    xcb_connection_t *connection = XGetXCBConnection(m_display);
    m_xkbContext = xkb_context_new(XKB_CONTEXT_NO_DEFAULT_INCLUDES);
    if (m_xkbContext && xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION,
                                                    XKB_X11_MIN_MINOR_XKB_VERSION,
                                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr,
                                                    nullptr, nullptr, nullptr))
        m_xkbDevice = xkb_x11_get_core_keyboard_device_id(connection);
    m_keyCodes.refresh(m_display);
    if (m_spareKeys)
        m_spareKeys->invalidate(); // the keymap may have changed while they were parked
    else
        m_spareKeys = std::make_unique<X11SpareKeys>(m_display);
    // Events queued on an adopted connection may already have loaded it.
    if (!drainEvents())
        loadKeymap();
}

X11KeyBackend::~X11KeyBackend()
{
    for (Keycode kc : m_down)
        XTestFakeKeyEvent(m_display, kc, False, CurrentTime);
    XSync(m_display, False);
    if (m_keymap)
        xkb_keymap_unref(m_keymap);
    if (m_xkbContext)
        xkb_context_unref(m_xkbContext);
    // Keys bound ahead but never pressed: no client saw them, so they need no grace.
    m_spareKeys->releaseUnused();
    X11DeferredRestore::instance().park(std::move(m_spareKeys), m_display, m_displayName,
                                        std::move(m_ping));
}

bool X11KeyBackend::refresh()
{
    drainEvents();
    if (m_spareKeys->isStale())
        m_spareKeys->rescan(); // checks what is still ours
    return true;
}

std::pair<std::uint32_t, std::uint32_t> X11KeyBackend::layoutAndLocks()
{
    XkbStateRec state;
    if (XkbGetState(m_display, XkbUseCoreKbd, &state) != Success)
        return {0, 0};
    return {state.group, state.locked_mods};
}

std::vector<KeyBackend::Keycode> X11KeyBackend::keysDown()
{
    char keys[32] = {};
    XQueryKeymap(m_display, keys);
    std::vector<Keycode> down;
    for (unsigned kc = 8; kc < 256; ++kc) {
        if (keys[kc / 8] & (1 << (kc % 8)))
            down.push_back(kc);
    }
    return down;
}

std::optional<KeyBackend::Keycode> X11KeyBackend::keycodeOf(quint16 canonical) const
{
    if (const std::optional<quint8> kc = m_keyCodes.xKeyCode(canonical))
        return Keycode(*kc);
    return std::nullopt;
}

bool X11KeyBackend::commit(const std::vector<ExtraKeyPool::Edit> &edits)
{
    // Nothing is bound once the program is ending: the signal path has cleaned up.
    bool took = false;
    X11ExitGuard::unlessEnding([&] { took = m_spareKeys->apply(edits); });
    drainEvents(); // our own change comes back: the bindings are checked next time
    return took;
}

void X11KeyBackend::sendKey(Keycode keycode, bool down)
{
    X11ExitGuard::unlessEnding([&] {
        XTestFakeKeyEvent(m_display, keycode, down ? True : False, CurrentTime);
        std::erase(m_down, keycode);
        if (down)
            m_down.push_back(keycode);
        if (down && m_ping)
            m_ping->pressed();
    });
}

bool X11KeyBackend::flush(bool wait)
{
    // A lost server ends the program through Xlib's I/O error handler.
    if (wait)
        XSync(m_display, False);
    else
        XFlush(m_display);
    return true;
}

void X11KeyBackend::awaitWindow()
{
    if (m_ping)
        m_ping->ask(m_display, pool());
}

bool X11KeyBackend::drainEvents()
{
    bool changed = false;
    bool sparesOnly = true;
    while (XPending(m_display)) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (m_ping && m_ping->take(event, pool()))
            continue;
        if (event.type == MappingNotify) {
            // Only the range tells whose change it was.
            sparesOnly = sparesOnly && event.xmapping.request == MappingKeyboard &&
                         m_spareKeys->ownsAll(unsigned(event.xmapping.first_keycode),
                                              unsigned(event.xmapping.count));
            changed = true;
        } else if (event.type == m_xkbEventBase) {
            const XkbEvent &xkb = reinterpret_cast<const XkbEvent &>(event);
            const XkbMapNotifyEvent &map = xkb.map;
            sparesOnly =
                sparesOnly && xkb.any.xkb_type == XkbMapNotify &&
                !(map.changed & ~unsigned(XkbKeySymsMask | XkbKeyActionsMask | XkbKeyBehaviorsMask |
                                          XkbExplicitComponentsMask)) &&
                m_spareKeys->ownsAll(map.first_key_sym, map.num_key_syms) &&
                m_spareKeys->ownsAll(map.first_key_act, map.num_key_acts) &&
                m_spareKeys->ownsAll(map.first_key_behavior, map.num_key_behaviors) &&
                m_spareKeys->ownsAll(map.first_key_explicit, map.num_key_explicit);
            changed = true;
        }
    }
    if (!changed)
        return false;
    // Our own bindings come back here too. They touch spare keys only, which the planner
    // never uses: checking that the bindings are still ours is enough. Anything else (a new
    // layout, another client's change) means planning anew.
    m_spareKeys->invalidate();
    if (sparesOnly)
        return false;
    m_keyCodes.refresh(m_display);
    loadKeymap();
    return true;
}

void X11KeyBackend::loadKeymap()
{
    if (m_xkbDevice < 0)
        return;
    xkb_keymap *keymap = xkb_x11_keymap_new_from_device(m_xkbContext, XGetXCBConnection(m_display),
                                                        m_xkbDevice, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap)
        return;
    if (m_keymap)
        xkb_keymap_unref(m_keymap);
    m_keymap = keymap;
    ++m_serial;
}
