#include "X11KeySession.h"
#include "X11Display.h"

#include "X11DeferredRestore.h"
#include "X11SpareKeys.h"
#include "platform/xkb/TextKeysyms.h"
#include "platform/KeyCodes.h"
#include "platform/xkb/KeyPlanner.h"

#include <QSet>

#include <algorithm>
#include <thread>

#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include "X11Headers.h"
#include <X11/Xlib-xcb.h>

namespace {

using Clock = std::chrono::steady_clock;

// A viewer samples the modifier state per key event: a change must be in force, with a
// timestamp of its own, before the key that needs it.
constexpr std::chrono::milliseconds modifierSettle{1};

// The Unicode stream-safe bound on a run of non-starters: a stop is checked at least this often
// inside one cluster.
constexpr size_t stopCheckInterval = 30;

constexpr KeyPlanner::Shift shiftBits[] = {KeyPlanner::ShiftKey, KeyPlanner::Level3Key,
                                           KeyPlanner::Level5Key};

} // namespace

std::unique_ptr<X11KeySession> X11KeySession::open(const QByteArray &displayName)
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
    return std::unique_ptr<X11KeySession>(new X11KeySession(
        display, displayName, xkbEvent, parked ? std::move(parked->keys) : nullptr));
}

X11KeySession::X11KeySession(Display *display, QByteArray displayName, int xkbEventBase,
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

X11KeySession::~X11KeySession()
{
    for (quint8 kc : std::as_const(m_down))
        XTestFakeKeyEvent(m_display, kc, False, CurrentTime);
    XSync(m_display, False);
    m_planner.reset();
    if (m_xkbContext)
        xkb_context_unref(m_xkbContext);
    // Keys bound ahead but never pressed: no client saw them, so they need no grace.
    m_spareKeys->releaseUnused();
    X11DeferredRestore::instance().park(std::move(m_spareKeys), m_display, m_displayName);
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

bool X11KeySession::anyKeyDown()
{
    char keys[32] = {};
    XQueryKeymap(m_display, keys);
    for (unsigned kc = 8; kc < 256; ++kc) {
        if (!(keys[kc / 8] & (1 << (kc % 8))) || m_down.contains(quint8(kc)))
            continue;
        // A lock key stays down only while held; it is no part of what started the run.
        const KeySym sym = XkbKeycodeToKeysym(m_display, static_cast<unsigned char>(kc), 0, 0);
        if (sym != XK_Caps_Lock && sym != XK_Num_Lock && sym != XK_Scroll_Lock &&
            sym != XK_Shift_Lock)
            return true;
    }
    return false;
}

std::chrono::nanoseconds X11KeySession::takeTimeSpent()
{
    const auto spent = std::chrono::duration_cast<std::chrono::nanoseconds>(m_spent);
    m_spent = {};
    return spent;
}

void X11KeySession::prepare(QStringView upcoming)
{
    drainEvents();
    readState();
    // What the layout cannot type goes on spare keys, bound in batches as it comes up.
    m_upcoming.clear();
    for (quint32 sym : TextKeysyms::forText(upcoming)) {
        if (!TextKeysyms::isRealKey(sym) && (!m_planner || !m_planner->plan(sym)))
            m_upcoming.push_back(sym);
    }
    m_upcomingPos = 0;
}

void X11KeySession::postKey(quint16 keyCode, bool down, QStringView text)
{
    drainEvents();
    if (text.isEmpty()) {
        // Return and Tab are planned like characters, so no Shift of ours is held over them.
        if (keyCode == KeyCode::Return || keyCode == KeyCode::Tab) {
            if (down)
                typeKeysyms({keyCode == KeyCode::Return ? quint32(XK_Return) : quint32(XK_Tab)});
        } else if (const std::optional<quint8> kc = m_keyCodes.xKeyCode(keyCode)) {
            fakeKey(*kc, down);
            XFlush(m_display);
        }
        return;
    }
    // The whole cluster goes out on the key-down, each code point pressed and
    // released in turn, so nothing can come between its parts.
    if (down)
        typeKeysyms(TextKeysyms::forText(text));
}

std::optional<X11KeySession::Step> X11KeySession::plan(quint32 keysym)
{
    if (m_planner) {
        if (const std::optional<KeyPlanner::Plan> p = m_planner->plan(keysym))
            return Step{quint8(p->key), p->shifts, 0};
    }
    // Without a keymap to plan on, Return and Tab still have their keys; with one, a held
    // Shift that turns Tab into a back-tab sends them to a spare key like any character.
    if (!m_planner && TextKeysyms::isRealKey(keysym)) {
        if (const std::optional<quint8> kc =
                m_keyCodes.xKeyCode(keysym == XK_Return ? KeyCode::Return : KeyCode::Tab))
            return Step{*kc, 0, 0};
    }
    if (const std::optional<X11SpareKeys::Binding> b = m_spareKeys->bindingFor(keysym, m_levels)) {
        // The spare keys' alphabetic type: the shifts for a level follow from the locks alone.
        if (const std::optional<unsigned> pressed =
                m_spareKeys->shiftsFor(b->level, m_heldMods, m_lockedMods)) {
            unsigned shifts = 0;
            if (*pressed & 1)
                shifts |= KeyPlanner::ShiftKey;
            if (*pressed & 2)
                shifts |= KeyPlanner::Level3Key;
            return Step{b->keyCode, shifts, keysym};
        }
    }
    return std::nullopt;
}

void X11KeySession::typeKeysyms(const std::vector<quint32> &keysyms)
{
    const Clock::time_point start = Clock::now();
    Clock::duration waited{};
    readState();
    if (m_spareKeys->isStale())
        m_spareKeys->bind({}, {}, m_levels); // checks what is still ours
    std::vector<quint32> required;
    for (quint32 sym : keysyms) {
        if (!plan(sym) && std::find(required.begin(), required.end(), sym) == required.end())
            required.push_back(sym);
    }
    if (!required.empty()) {
        if (int(required.size()) > m_spareKeys->capacity(m_levels))
            return; // cannot be typed whole; typing a part would garble it
        const Clock::time_point bindStart = Clock::now();
        const bool bound = m_spareKeys->bind(required, upcomingKeysyms(m_levels), m_levels, m_stop);
        waited = Clock::now() - bindStart;
        if (!bound || m_stop.stop_requested())
            return;    // nothing is typed after a stop
        drainEvents(); // our own change comes back: the bindings are checked next time
    }
    std::vector<quint32> spareTyped;
    for (size_t i = 0; i < keysyms.size(); ++i) {
        if (i > 0 && i % stopCheckInterval == 0) {
            XSync(m_display, False);
            if (m_stop.stop_requested())
                break;
        }
        const std::optional<Step> step = plan(keysyms[i]);
        if (!step)
            continue;
        holdShifts(step->shifts);
        fakeKey(step->keyCode, true);
        fakeKey(step->keyCode, false);
        if (step->spareKeysym) {
            m_spareKeys->markUsed(step->keyCode);
            spareTyped.push_back(step->spareKeysym);
        }
    }
    XFlush(m_display);

    // Follow the typed text through the prepared window.
    if (m_upcomingPos + spareTyped.size() <= m_upcoming.size() &&
        std::equal(spareTyped.begin(), spareTyped.end(),
                   m_upcoming.begin() + std::ptrdiff_t(m_upcomingPos)))
        m_upcomingPos += spareTyped.size();
    // A long wait for a spare key is not the session's pace: only the rest counts.
    const Clock::duration spent = Clock::now() - start - waited;
    m_spent += spent > Clock::duration::zero() ? spent : Clock::duration::zero();
}

void X11KeySession::holdShifts(unsigned shifts)
{
    bool changed = false;
    for (int i = 0; i < 3; ++i) {
        const bool wanted = shifts & shiftBits[i];
        if (m_shiftDown[i] && !wanted) {
            fakeKey(m_shiftDown[i], false);
            m_shiftDown[i] = 0;
            changed = true;
        }
    }
    for (int i = 0; i < 3; ++i) {
        const bool wanted = shifts & shiftBits[i];
        if (wanted && !m_shiftDown[i] && m_planner) {
            if (const std::optional<KeyPlanner::Keycode> kc = m_planner->shiftKey(shiftBits[i])) {
                fakeKey(quint8(*kc), true);
                m_shiftDown[i] = quint8(*kc);
                changed = true;
            }
        }
    }
    if (changed) {
        XFlush(m_display);
        std::this_thread::sleep_for(modifierSettle);
    }
}

std::vector<quint32> X11KeySession::upcomingKeysyms(unsigned levels) const
{
    // The distinct keysyms coming next, as many as could fit at once.
    std::vector<quint32> wanted;
    QSet<quint32> seen;
    const size_t limit = size_t(std::max(0, m_spareKeys->capacity(levels)));
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

bool X11KeySession::drainEvents()
{
    bool changed = false;
    bool sparesOnly = true;
    while (XPending(m_display)) {
        XEvent event;
        XNextEvent(m_display, &event);
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

void X11KeySession::loadKeymap()
{
    if (m_xkbDevice < 0)
        return;
    xkb_keymap *keymap = xkb_x11_keymap_new_from_device(m_xkbContext, XGetXCBConnection(m_display),
                                                        m_xkbDevice, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap)
        return;
    std::unordered_set<KeyPlanner::Keycode> spare;
    for (quint8 kc : m_spareKeys->keyCodes())
        spare.insert(kc);
    m_planner = std::make_unique<KeyPlanner>(keymap, std::move(spare));
    xkb_keymap_unref(keymap);
    // Spare keys get the levels that the layout's own shift keys select.
    m_spareKeys->setModifiers(m_planner->shiftMask(KeyPlanner::ShiftKey),
                              m_planner->shiftMask(KeyPlanner::Level3Key));
    readState();
}

void X11KeySession::readState()
{
    if (!m_planner)
        return;
    XkbStateRec state;
    if (XkbGetState(m_display, XkbUseCoreKbd, &state) != Success)
        return;
    // Keys down that this session did not press are someone else's: never touched, and
    // planned around.
    char keys[32] = {};
    XQueryKeymap(m_display, keys);
    std::vector<KeyPlanner::Keycode> held;
    for (unsigned kc = 8; kc < 256; ++kc) {
        if ((keys[kc / 8] & (1 << (kc % 8))) && !m_down.contains(quint8(kc)))
            held.push_back(kc);
    }
    m_planner->setState(state.group, state.locked_mods, held);
    m_heldMods = m_planner->heldMods();
    m_lockedMods = state.locked_mods;
    m_levels = m_spareKeys->reachableLevels(m_heldMods, m_lockedMods);
}
