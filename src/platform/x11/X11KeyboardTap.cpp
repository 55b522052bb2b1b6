#include "X11KeyboardTap.h"
#include "X11Display.h"

#include "X11ErrorTrap.h"

#include <QSocketNotifier>
#include <QTimer>

#include "platform/KeyCodes.h"

#include "X11Headers.h"

X11KeyboardTap::X11KeyboardTap() : X11KeyboardTap(qgetenv("DISPLAY")) {}

X11KeyboardTap::X11KeyboardTap(const QByteArray &displayName)
{
    m_display = openX11Display(displayName);
    if (!m_display)
        return;
    int event = 0, error = 0, major = 0, minor = 0;
    m_hasXTest = XTestQueryExtension(m_display, &event, &error, &major, &minor);
    int opcode = 0, xkbError = 0, xkbMajor = XkbMajorVersion, xkbMinor = XkbMinorVersion;
    if (XkbQueryExtension(m_display, &opcode, &m_xkbEventBase, &xkbError, &xkbMajor, &xkbMinor)) {
        XkbSelectEvents(m_display, XkbUseCoreKbd, XkbNewKeyboardNotifyMask | XkbMapNotifyMask,
                        XkbNewKeyboardNotifyMask | XkbMapNotifyMask);
    } else {
        m_xkbEventBase = -1;
    }
    m_keyCodes.refresh(m_display);
    m_modifiers.refresh(m_display);
}

X11KeyboardTap::~X11KeyboardTap()
{
    remove();
    if (m_display)
        XCloseDisplay(m_display);
}

bool X11KeyboardTap::install(Handler handler)
{
    remove();
    // Without XTEST neither our keystrokes nor the key state work; refuse, as the core expects.
    if (!m_display || !m_hasXTest || m_xkbEventBase < 0)
        return false;
    m_handler = std::move(handler);
    m_notifier =
        std::make_unique<QSocketNotifier>(ConnectionNumber(m_display), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                     [this] { processEvents(); });
    regrab();
    return true;
}

void X11KeyboardTap::remove()
{
    if (!m_notifier)
        return;
    ungrabAll();
    m_notifier.reset();
    m_handler = nullptr;
    m_taken.clear();
    // Answer anything still queued so that no keyboard stays frozen.
    XEvent event;
    while (XPending(m_display)) {
        XNextEvent(m_display, &event);
        if (event.type == KeyPress)
            XAllowEvents(m_display, ReplayKeyboard, event.xkey.time);
    }
    XSync(m_display, False);
}

QList<KeyCombo> X11KeyboardTap::watch(const QList<KeyCombo> &combos, bool escape)
{
    m_combos = combos;
    m_escape = escape;
    if (!m_notifier)
        return {};
    if (wantedGrabs() != m_grabs)
        regrab();
    return m_taken;
}

std::optional<quint16> X11KeyboardTap::keyCodeForScanCode(quint32 nativeScanCode) const
{
    // On X11 the native scan code of a key event is its X keycode.
    return m_keyCodes.keyCode(nativeScanCode);
}

std::vector<X11KeyboardTap::Grab> X11KeyboardTap::wantedGrabs() const
{
    std::vector<Grab> grabs;
    if (m_escape) {
        if (const std::optional<quint8> kc = m_keyCodes.xKeyCode(KeyCode::Escape))
            grabs.push_back({*kc, AnyModifier});
    }
    // Our own combinations come after Esc: a later grab of ours on the same keys replaces it.
    for (const KeyCombo &combo : m_combos) {
        const std::optional<quint8> kc = m_keyCodes.xKeyCode(combo.keyCode);
        const std::optional<unsigned> mods = m_modifiers.toX(combo.modifiers & ModifierFlag::Mask);
        if (kc && mods)
            grabs.push_back({*kc, *mods});
    }
    return grabs;
}

void X11KeyboardTap::ungrabAll()
{
    X11ErrorTrap trap(m_display);
    const Window root = DefaultRootWindow(m_display);
    for (const Grab &g : m_grabs) {
        if (g.modifiers == AnyModifier) {
            XUngrabKey(m_display, g.keyCode, AnyModifier, root);
            continue;
        }
        for (unsigned lock : m_modifiers.lockCombinations())
            XUngrabKey(m_display, g.keyCode, g.modifiers | lock, root);
    }
    m_grabs.clear();
    trap.sync();
}

void X11KeyboardTap::regrab()
{
    ungrabAll();
    m_taken.clear();
    m_grabs = wantedGrabs();
    const Window root = DefaultRootWindow(m_display);
    X11ErrorTrap trap(m_display);
    for (const Grab &g : m_grabs) {
        if (g.modifiers == AnyModifier) {
            XGrabKey(m_display, g.keyCode, AnyModifier, root, False, GrabModeAsync, GrabModeSync);
            if (trap.sync()) {
                // Someone holds Esc with some modifiers: take every combination still free.
                for (unsigned mods = 0; mods < 256; ++mods)
                    XGrabKey(m_display, g.keyCode, mods, root, False, GrabModeAsync, GrabModeSync);
                trap.sync();
            }
            continue;
        }
        // Lock keys must not stop a shortcut from matching: grab every lock combination.
        for (unsigned lock : m_modifiers.lockCombinations())
            XGrabKey(m_display, g.keyCode, g.modifiers | lock, root, False, GrabModeAsync,
                     GrabModeSync);
        if (trap.sync()) {
            for (unsigned lock : m_modifiers.lockCombinations())
                XUngrabKey(m_display, g.keyCode, g.modifiers | lock, root);
            trap.sync();
            for (const KeyCombo &combo : std::as_const(m_combos)) {
                if (m_keyCodes.xKeyCode(combo.keyCode) == g.keyCode &&
                    m_modifiers.toX(combo.modifiers & ModifierFlag::Mask) == g.modifiers &&
                    !m_taken.contains(combo))
                    m_taken.append(combo);
            }
        }
    }
    // XSync may have read key presses into Xlib's queue, where the socket notifier cannot see them.
    scheduleProcessing();
}

void X11KeyboardTap::scheduleProcessing()
{
    if (m_notifier)
        QTimer::singleShot(0, m_notifier.get(), [this] { processEvents(); });
}

void X11KeyboardTap::processEvents()
{
    bool mappingChanged = false;
    while (m_notifier && XPending(m_display)) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            mappingChanged = true;
            continue;
        }
        if (event.type == m_xkbEventBase) {
            mappingChanged = true;
            continue;
        }
        if (event.type != KeyPress)
            continue;
        const XKeyEvent &key = event.xkey;
        bool swallow = false;
        const std::optional<quint16> code = m_keyCodes.keyCode(key.keycode);
        if (code && m_handler)
            swallow = m_handler(*code, m_modifiers.fromX(key.state));
        // The keyboard is frozen until we answer; answer at once, even if the handler removed the
        // tap.
        XAllowEvents(m_display, swallow ? AsyncKeyboard : ReplayKeyboard, key.time);
        XFlush(m_display);
    }
    if (mappingChanged && m_notifier) {
        // Keycodes or modifier masks may have moved; grab anew only if they did.
        m_keyCodes.refresh(m_display);
        const X11Modifiers before = m_modifiers;
        m_modifiers.refresh(m_display);
        if (wantedGrabs() != m_grabs ||
            before.lockCombinations() != m_modifiers.lockCombinations()) {
            // Ungrab with the lock masks the grabs were made with.
            const X11Modifiers now = m_modifiers;
            m_modifiers = before;
            ungrabAll();
            m_modifiers = now;
            regrab();
        }
        // The refresh's round trips may have read a grabbed press into Xlib's queue, where
        // the socket notifier cannot see it; left there, it keeps the keyboard frozen.
        scheduleProcessing();
    }
}
