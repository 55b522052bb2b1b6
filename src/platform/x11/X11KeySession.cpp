#include "X11KeySession.h"
#include "X11Display.h"

#include "X11DeferredRestore.h"
#include "X11SpareKeys.h"
#include "X11TextKeysyms.h"

#include <QSet>

#include <algorithm>

#include "X11Headers.h"

std::unique_ptr<X11KeySession> X11KeySession::open(const QByteArray &displayName)
{
    // One set of bindings at a time: the previous run's keys go back first.
    X11DeferredRestore::instance().finishAll();
    Display *display = openX11Display(displayName);
    if (!display)
        return nullptr;
    int event = 0, error = 0, major = 0, minor = 0;
    int opcode = 0, xkbEvent = 0, xkbError = 0;
    int xkbMajor = XkbMajorVersion, xkbMinor = XkbMinorVersion;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor) ||
        !XkbQueryExtension(display, &opcode, &xkbEvent, &xkbError, &xkbMajor, &xkbMinor)) {
        XCloseDisplay(display);
        return nullptr;
    }
    return std::unique_ptr<X11KeySession>(new X11KeySession(display, xkbEvent));
}

X11KeySession::X11KeySession(Display *display, int xkbEventBase)
    : m_display(display), m_xkbEventBase(xkbEventBase)
{
    // Keymap changes by others must reach us so that stale bindings are noticed.
    XkbSelectEvents(m_display, XkbUseCoreKbd, XkbMapNotifyMask | XkbNewKeyboardNotifyMask,
                    XkbMapNotifyMask | XkbNewKeyboardNotifyMask);
    m_keyCodes.refresh(m_display);
    m_spareKeys = std::make_unique<X11SpareKeys>(m_display);
    refreshOwnKeys();
    drainEvents();
}

X11KeySession::~X11KeySession()
{
    for (quint8 kc : std::as_const(m_down))
        XTestFakeKeyEvent(m_display, kc, False, CurrentTime);
    XSync(m_display, False);
    X11DeferredRestore::instance().hand(std::move(m_spareKeys), m_display);
}

bool X11KeySession::isKeyDown(quint16 keyCode)
{
    const std::optional<quint8> kc = m_keyCodes.xKeyCode(keyCode);
    if (!kc)
        return false;
    char keys[32] = {};
    XQueryKeymap(m_display, keys);
    return keys[*kc / 8] & (1 << (*kc % 8));
}

void X11KeySession::prepare(QStringView upcoming)
{
    drainEvents();
    readState();
    m_upcoming.clear();
    for (quint32 sym : X11TextKeysyms::forText(upcoming)) {
        if (!X11TextKeysyms::isRealKey(sym) && !ownKey(sym))
            m_upcoming.push_back(sym);
    }
    m_upcomingPos = 0;
    m_spareKeys->bind({}, upcomingKeysyms());
}

void X11KeySession::postKey(quint16 keyCode, bool down, QStringView text)
{
    drainEvents();
    if (text.isEmpty()) {
        if (const std::optional<quint8> kc = m_keyCodes.xKeyCode(keyCode))
            fakeKey(*kc, down);
        XFlush(m_display);
        return;
    }
    // The whole cluster goes out on the key-down, each code point pressed and
    // released in turn, so nothing can come between its parts.
    if (down)
        typeKeysyms(X11TextKeysyms::forText(text));
}

void X11KeySession::typeKeysyms(const std::vector<quint32> &keysyms)
{
    // The modifier and lock state decides which characters their own keys can type.
    readState();
    std::vector<std::optional<quint8>> own(keysyms.size());
    std::vector<quint32> required;
    for (size_t i = 0; i < keysyms.size(); ++i) {
        const quint32 sym = keysyms[i];
        if (X11TextKeysyms::isRealKey(sym))
            continue;
        own[i] = ownKey(sym);
        if (!own[i] && std::find(required.begin(), required.end(), sym) == required.end())
            required.push_back(sym);
    }
    if (!required.empty()) {
        if (int(required.size()) > m_spareKeys->capacity())
            return; // cannot be typed whole; typing a part would garble it
        if (m_spareKeys->isStale() ||
            std::any_of(required.begin(), required.end(),
                        [this](quint32 s) { return !m_spareKeys->keyCodeFor(s); })) {
            if (!m_spareKeys->bind(required, upcomingKeysyms()))
                return;
        }
    }
    for (size_t i = 0; i < keysyms.size(); ++i) {
        const quint32 sym = keysyms[i];
        std::optional<quint8> kc;
        if (X11TextKeysyms::isRealKey(sym))
            kc = m_keyCodes.xKeyCode(sym == XK_Return ? quint16(36) : quint16(48));
        else
            kc = own[i] ? own[i] : m_spareKeys->keyCodeFor(sym);
        if (!kc)
            continue;
        fakeKey(*kc, true);
        fakeKey(*kc, false);
        m_spareKeys->markUsed(sym);
    }
    XFlush(m_display);

    // Follow the typed text through the prepared window.
    std::vector<quint32> chars;
    for (size_t i = 0; i < keysyms.size(); ++i) {
        if (!X11TextKeysyms::isRealKey(keysyms[i]) && !own[i])
            chars.push_back(keysyms[i]);
    }
    if (m_upcomingPos + chars.size() <= m_upcoming.size() &&
        std::equal(chars.begin(), chars.end(), m_upcoming.begin() + std::ptrdiff_t(m_upcomingPos)))
        m_upcomingPos += chars.size();
}

std::vector<quint32> X11KeySession::upcomingKeysyms() const
{
    // The distinct keysyms coming next, as many as fit at once.
    std::vector<quint32> wanted;
    QSet<quint32> seen;
    const size_t limit = size_t(std::max(0, m_spareKeys->capacity()));
    for (size_t i = m_upcomingPos; i < m_upcoming.size() && wanted.size() < limit; ++i) {
        if (!seen.contains(m_upcoming[i])) {
            seen.insert(m_upcoming[i]);
            wanted.push_back(m_upcoming[i]);
        }
    }
    return wanted;
}

void X11KeySession::fakeKey(quint8 xKeyCode, bool down)
{
    XTestFakeKeyEvent(m_display, xKeyCode, down ? True : False, CurrentTime);
    if (down)
        m_down.insert(xKeyCode);
    else
        m_down.remove(xKeyCode);
}

void X11KeySession::drainEvents()
{
    bool changed = false;
    while (XPending(m_display)) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == MappingNotify || event.type == m_xkbEventBase)
            changed = true;
    }
    // Our own changes come back here too; checking again is cheap and catches
    // a layout switch that took our bindings away.
    if (changed) {
        m_keyCodes.refresh(m_display);
        m_spareKeys->invalidate();
        refreshOwnKeys();
    }
}

void X11KeySession::refreshOwnKeys()
{
    for (auto &keys : m_ownKeys)
        keys.clear();
    XkbDescPtr xkb =
        XkbGetMap(m_display, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
    if (!xkb)
        return;
    for (int kc = xkb->min_key_code; kc <= xkb->max_key_code && kc < 256; ++kc) {
        // Modifier keys and our own spare keys (whose binding changes under us) never count.
        if (xkb->map->modmap[kc] || m_spareKeys->owns(quint8(kc)))
            continue;
        const int groups = std::min(int(XkbKeyNumGroups(xkb, kc)), int(m_ownKeys.size()));
        for (int g = 0; g < groups; ++g) {
            const KeySym sym = XkbKeySymEntry(xkb, kc, 0, g);
            if (sym == NoSymbol || m_ownKeys[size_t(g)].contains(quint32(sym)))
                continue;
            const XkbKeyTypePtr type = XkbKeyKeyType(xkb, kc, g);
            m_ownKeys[size_t(g)].insert(quint32(sym), {quint8(kc), type->mods.mask});
        }
    }
    XkbFreeKeyboard(xkb, 0, True);
}

void X11KeySession::readState()
{
    XkbStateRec state;
    if (XkbGetState(m_display, XkbUseCoreKbd, &state) == Success) {
        m_stateModifiers = state.mods;
        m_stateGroup = state.group;
    }
}

std::optional<quint8> X11KeySession::ownKey(quint32 keysym) const
{
    if (m_stateGroup < 0 || m_stateGroup >= int(m_ownKeys.size()))
        return std::nullopt;
    const auto &keys = m_ownKeys[size_t(m_stateGroup)];
    const auto it = keys.constFind(keysym);
    // Only a key at its first level whatever Shift, CapsLock, NumLock or AltGr now do.
    if (it == keys.constEnd() || (it->typeModifiers & m_stateModifiers))
        return std::nullopt;
    // With CapsLock on, clients upper-case a letter whose key type ignores Lock.
    if (m_stateModifiers & LockMask) {
        KeySym lower = NoSymbol, upper = NoSymbol;
        XConvertCase(keysym, &lower, &upper);
        if (lower != upper)
            return std::nullopt;
    }
    return it->keyCode;
}
