#include "WaylandKeySession.h"

#include "WaylandKeymap.h"
#include "platform/KeyCodes.h"
#include "platform/xkb/KeyPlanner.h"
#include "platform/xkb/TextKeysyms.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <wayland-client.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace {

using Clock = std::chrono::steady_clock;

// A viewer samples the modifier state per key event: a change must be in force, with a
// timestamp of its own, before the key that needs it.
constexpr std::chrono::milliseconds modifierSettle{1};

// The Unicode stream-safe bound on a run of non-starters: a stop is checked at least this often
// inside one cluster.
constexpr size_t stopCheckInterval = 30;

// X clients under Xwayland fetch a changed keymap late, so a key code typed recently may still
// be translated with its old character: the X11 side's grace (X11SpareKeys::gracePeriod).
constexpr std::chrono::milliseconds reuseGrace{1000};

// A compositor that answers nothing for this long is taken as gone.
constexpr std::chrono::seconds answerTimeout{5};
constexpr std::chrono::seconds closeTimeout{2};

constexpr KeyPlanner::Shift shiftBits[] = {KeyPlanner::ShiftKey, KeyPlanner::Level3Key,
                                           KeyPlanner::Level5Key};

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 1000));
}

// Sends what libwayland holds; false on a broken connection or a compositor that reads
// nothing until the deadline.
bool flushDisplay(wl_display *display, Clock::time_point deadline)
{
    for (;;) {
        if (wl_display_flush(display) >= 0)
            return true;
        if (errno != EAGAIN || Clock::now() >= deadline)
            return false;
        pollfd fd{wl_display_get_fd(display), POLLOUT, 0};
        poll(&fd, 1, remainingMs(deadline));
    }
}

// Reads and dispatches what has arrived, without waiting; false on a broken connection.
bool readPending(wl_display *display)
{
    while (wl_display_prepare_read(display) != 0) {
        if (wl_display_dispatch_pending(display) < 0)
            return false;
    }
    pollfd fd{wl_display_get_fd(display), POLLIN, 0};
    if (poll(&fd, 1, 0) > 0) {
        if (wl_display_read_events(display) < 0)
            return false;
    } else {
        wl_display_cancel_read(display);
    }
    return wl_display_dispatch_pending(display) >= 0;
}

// wl_display_roundtrip with a deadline, so that a stopped compositor cannot hang us.
bool roundtrip(wl_display *display, Clock::duration timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    bool done = false;
    static const wl_callback_listener listener{[](void *data, wl_callback *callback, uint32_t) {
        *static_cast<bool *>(data) = true;
        wl_callback_destroy(callback);
    }};
    wl_callback *callback = wl_display_sync(display);
    if (!callback)
        return false;
    wl_callback_add_listener(callback, &listener, &done);
    while (!done) {
        if (!flushDisplay(display, deadline))
            break;
        if (wl_display_prepare_read(display) != 0) {
            if (wl_display_dispatch_pending(display) < 0)
                break;
            continue;
        }
        pollfd fd{wl_display_get_fd(display), POLLIN, 0};
        if (poll(&fd, 1, remainingMs(deadline)) > 0) {
            if (wl_display_read_events(display) < 0)
                break;
        } else {
            wl_display_cancel_read(display);
            if (Clock::now() >= deadline)
                break;
        }
        if (wl_display_dispatch_pending(display) < 0)
            break;
    }
    if (!done)
        wl_callback_destroy(callback);
    return done;
}

std::uint32_t timestamp()
{
    return std::uint32_t(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
}

void onGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface,
              uint32_t version)
{
    static const wl_seat_listener seatListener{
        [](void *data, wl_seat *, uint32_t capabilities) {
            static_cast<WaylandKeySession::Globals *>(data)->seatCapabilities = capabilities;
        },
        [](void *, wl_seat *, const char *) {}};
    auto *globals = static_cast<WaylandKeySession::Globals *>(data);
    // The first seat: wlroots compositors have one, and the virtual keyboard joins it.
    if (!globals->seat && std::strcmp(interface, wl_seat_interface.name) == 0) {
        globals->seat = static_cast<wl_seat *>(
            wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 4u)));
        wl_seat_add_listener(globals->seat, &seatListener, globals);
    } else if (!globals->manager &&
               std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
        globals->manager = static_cast<zwp_virtual_keyboard_manager_v1 *>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    }
}

const wl_registry_listener registryListener{onGlobal, [](void *, wl_registry *, uint32_t) {}};

// The keymap a wl_keyboard announces on creation.
struct SeatKeymap {
    std::optional<std::string> text;
};

void onKeymap(void *data, wl_keyboard *, uint32_t format, int32_t fd, uint32_t size)
{
    auto *keymap = static_cast<SeatKeymap *>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
        // Private and read-only: the compositor may share one mapping with every client.
        void *map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            const char *chars = static_cast<const char *>(map);
            keymap->text = std::string(chars, strnlen(chars, size));
            munmap(map, size);
        }
    }
    close(fd);
}

const wl_keyboard_listener keyboardListener{
    onKeymap,
    [](void *, wl_keyboard *, uint32_t, wl_surface *, wl_array *) {},
    [](void *, wl_keyboard *, uint32_t, wl_surface *) {},
    [](void *, wl_keyboard *, uint32_t, uint32_t, uint32_t, uint32_t) {},
    [](void *, wl_keyboard *, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {},
    [](void *, wl_keyboard *, int32_t, int32_t) {}};

wl_display *connect(const QByteArray &displayName)
{
    return wl_display_connect(displayName.isEmpty() ? nullptr : displayName.constData());
}

} // namespace

bool WaylandKeySession::reachable(const QByteArray &displayName)
{
    wl_display *display = connect(displayName);
    if (!display)
        return false;
    Globals globals;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    const bool found = roundtrip(display, answerTimeout) && globals.seat && globals.manager;
    if (globals.manager)
        zwp_virtual_keyboard_manager_v1_destroy(globals.manager);
    if (globals.seat)
        wl_seat_destroy(globals.seat);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return found;
}

std::unique_ptr<WaylandKeySession>
WaylandKeySession::open(const QByteArray &displayName,
                        std::shared_ptr<WaylandKeyboardMemory> memory)
{
    wl_display *display = connect(displayName);
    if (!display)
        return nullptr;
    std::unique_ptr<WaylandKeySession> session(new WaylandKeySession(display, std::move(memory)));
    if (!session->setUp())
        return nullptr;
    return session;
}

WaylandKeySession::WaylandKeySession(wl_display *display,
                                     std::shared_ptr<WaylandKeyboardMemory> memory)
    : m_display(display), m_memory(std::move(memory))
{
}

bool WaylandKeySession::setUp()
{
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &registryListener, &m_globals);
    // The second round brings the seat's capabilities.
    if (!roundtrip(m_display, answerTimeout) || !m_globals.seat || !m_globals.manager ||
        !roundtrip(m_display, answerTimeout))
        return false;
    m_context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!m_context)
        return false;

    // The seat announces the keymap of the keyboard used last, which may be one of ours
    // from an earlier run: then the layout is the one remembered, or ours without its keys.
    // Another program's virtual keyboard (wtype's, say) may carry a few keys and no layout:
    // a layout has a Shift key.
    const auto layout = [](std::unique_ptr<WaylandKeymap> keymap) {
        if (keymap && !KeyPlanner(keymap->base()).shiftKey(KeyPlanner::ShiftKey))
            keymap.reset();
        return keymap;
    };
    const std::optional<std::string> seatText = seatKeymap();
    const bool seatIsOurs = seatText && WaylandKeymap::hasExtraKeys(*seatText);
    if (seatText && !seatIsOurs) {
        m_keymap = layout(WaylandKeymap::fromText(m_context, *seatText));
        if (m_keymap)
            m_memory->setOriginal(*seatText);
    }
    if (const std::optional<std::string> original = m_memory->original(); !m_keymap && original)
        m_keymap = layout(WaylandKeymap::fromText(m_context, *original));
    if (!m_keymap && seatIsOurs)
        m_keymap = layout(WaylandKeymap::fromText(m_context, *seatText));
    if (!m_keymap)
        m_keymap = WaylandKeymap::fromDefaults(m_context);
    if (!m_keymap)
        return false;
    // The virtual keyboard has a state of its own: no lock, no group, no key held.
    m_planner = std::make_unique<KeyPlanner>(m_keymap->base());
    m_planner->setState(0, 0, {});

    // The previous run's extra keys, where this layout leaves their key codes free: their
    // characters stay bound, and a key code typed lately keeps its grace.
    const std::vector<WaylandKeyboardMemory::ExtraKey> remembered = m_memory->extraKeys();
    for (WaylandKeymap::Keycode kc : m_keymap->freeKeycodes()) {
        Slot slot{kc, 0, {}, false};
        for (const WaylandKeyboardMemory::ExtraKey &key : remembered) {
            if (key.keycode == kc)
                slot = Slot{kc, key.keysym, key.lastUsed, key.pressed};
        }
        m_slots.push_back(slot);
    }

    m_keyboard =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(m_globals.manager, m_globals.seat);
    // A refusal (unauthorized) comes back as a protocol error by the roundtrip.
    return m_keyboard && upload() && roundtrip(m_display, answerTimeout) &&
           wl_display_get_error(m_display) == 0;
}

std::optional<std::string> WaylandKeySession::seatKeymap()
{
    if (!(m_globals.seatCapabilities & WL_SEAT_CAPABILITY_KEYBOARD))
        return std::nullopt;
    wl_keyboard *keyboard = wl_seat_get_keyboard(m_globals.seat);
    SeatKeymap keymap;
    wl_keyboard_add_listener(keyboard, &keyboardListener, &keymap);
    roundtrip(m_display, answerTimeout);
    if (wl_keyboard_get_version(keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION)
        wl_keyboard_release(keyboard);
    else
        wl_keyboard_destroy(keyboard);
    return keymap.text;
}

WaylandKeySession::~WaylandKeySession()
{
    if (m_keyboard && !m_lost) {
        // Every key up, and the modifiers as they then are, so that none stays set.
        const std::set<quint32> down = m_down;
        for (auto it = down.rbegin(); it != down.rend(); ++it)
            sendKey(*it, false);
        std::fill(std::begin(m_shiftDown), std::end(m_shiftDown), 0);
        if (m_state)
            sendModifiers();
        roundtrip(m_display, closeTimeout);
    }
    std::vector<WaylandKeyboardMemory::ExtraKey> keys;
    for (const Slot &slot : m_slots)
        keys.push_back({slot.keycode, slot.keysym, slot.lastUsed, slot.pressed});
    if (m_keymap)
        m_memory->setExtraKeys(std::move(keys));
    if (m_keyboard)
        zwp_virtual_keyboard_v1_destroy(m_keyboard);
    if (m_globals.manager)
        zwp_virtual_keyboard_manager_v1_destroy(m_globals.manager);
    if (m_globals.seat)
        wl_seat_destroy(m_globals.seat);
    if (m_registry)
        wl_registry_destroy(m_registry);
    if (!m_lost)
        flushDisplay(m_display, Clock::now() + closeTimeout);
    wl_display_disconnect(m_display);
    m_planner.reset();
    m_keymap.reset();
    if (m_state)
        xkb_state_unref(m_state);
    if (m_uploaded)
        xkb_keymap_unref(m_uploaded);
    if (m_context)
        xkb_context_unref(m_context);
}

std::chrono::nanoseconds WaylandKeySession::takeTimeSpent()
{
    const auto spent = std::chrono::duration_cast<std::chrono::nanoseconds>(m_spent);
    m_spent = {};
    return spent;
}

void WaylandKeySession::prepare(QStringView upcoming)
{
    // What the layout cannot type goes on extra keys, bound in batches as it comes up.
    m_upcoming.clear();
    for (quint32 sym : TextKeysyms::forText(upcoming)) {
        if (!m_planner->plan(sym))
            m_upcoming.push_back(sym);
    }
    m_upcomingPos = 0;
}

void WaylandKeySession::postKey(quint16 keyCode, bool down, QStringView text)
{
    if (m_lost || !down)
        return;
    // Return and Tab are planned like characters, so no Shift of ours is held over them.
    // Nothing else reaches a session without a text.
    if (text.isEmpty()) {
        if (keyCode == KeyCode::Return || keyCode == KeyCode::Tab)
            typeKeysyms(
                {keyCode == KeyCode::Return ? quint32(XKB_KEY_Return) : quint32(XKB_KEY_Tab)});
        return;
    }
    // The whole cluster goes out on the key-down, each code point pressed and released in
    // turn, so nothing can come between its parts.
    typeKeysyms(TextKeysyms::forText(text));
}

std::optional<WaylandKeySession::Step> WaylandKeySession::plan(quint32 keysym)
{
    if (const std::optional<KeyPlanner::Plan> p = m_planner->plan(keysym))
        return Step{p->key, p->shifts, false};
    // Extra keys are of the one-level type: nothing to hold.
    if (const std::optional<size_t> slot = slotOf(keysym))
        return Step{m_slots[*slot].keycode, 0, true};
    return std::nullopt;
}

std::optional<size_t> WaylandKeySession::slotOf(quint32 keysym) const
{
    for (size_t i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].keysym == keysym)
            return i;
    }
    return std::nullopt;
}

void WaylandKeySession::typeKeysyms(const std::vector<quint32> &keysyms)
{
    const Clock::time_point start = Clock::now();
    Clock::duration waited{};
    if (!readPending(m_display)) {
        lose();
        return;
    }
    std::vector<quint32> extras; // distinct, in order
    for (quint32 sym : keysyms) {
        if (!m_planner->plan(sym) && std::find(extras.begin(), extras.end(), sym) == extras.end())
            extras.push_back(sym);
    }
    // More than the extra keys hold at once cannot be typed whole; a part would garble it.
    if (extras.size() > m_slots.size())
        return;
    std::vector<quint32> required;
    for (quint32 sym : extras) {
        if (!slotOf(sym))
            required.push_back(sym);
    }
    if (!required.empty() &&
        (!bind(required, std::set<quint32>(extras.begin(), extras.end()), waited) ||
         m_stop.stop_requested()))
        return; // nothing is typed after a stop

    std::vector<quint32> extraTyped;
    for (size_t i = 0; i < keysyms.size() && !m_lost; ++i) {
        if (i > 0 && i % stopCheckInterval == 0 && m_stop.stop_requested())
            break;
        const std::optional<Step> step = plan(keysyms[i]);
        if (!step)
            continue;
        holdShifts(step->shifts);
        sendKey(step->keycode, true);
        sendKey(step->keycode, false);
        if (step->extra) {
            Slot &slot = m_slots[*slotOf(keysyms[i])];
            slot.lastUsed = Clock::now();
            slot.pressed = true;
            extraTyped.push_back(keysyms[i]);
        }
        flush();
    }

    // Follow the typed text through the prepared window.
    if (m_upcomingPos + extraTyped.size() <= m_upcoming.size() &&
        std::equal(extraTyped.begin(), extraTyped.end(),
                   m_upcoming.begin() + std::ptrdiff_t(m_upcomingPos)))
        m_upcomingPos += extraTyped.size();
    // A long wait for an extra key is not the session's pace: only the rest counts.
    const Clock::duration spent = Clock::now() - start - waited;
    m_spent += std::max(spent, Clock::duration::zero());
}

std::vector<quint32> WaylandKeySession::upcomingExtras() const
{
    // The distinct unbound keysyms coming next, as many as could fit at once.
    std::vector<quint32> wanted;
    for (size_t i = m_upcomingPos; i < m_upcoming.size() && wanted.size() < m_slots.size(); ++i) {
        const quint32 sym = m_upcoming[i];
        if (!slotOf(sym) && std::find(wanted.begin(), wanted.end(), sym) == wanted.end())
            wanted.push_back(sym);
    }
    return wanted;
}

bool WaylandKeySession::bind(const std::vector<quint32> &required, const std::set<quint32> &pinned,
                             Clock::duration &waited)
{
    const std::vector<quint32> upcoming = upcomingExtras();
    const std::set<quint32> upcomingSet(upcoming.begin(), upcoming.end());
    for (;;) {
        const Clock::time_point now = Clock::now();
        // Which key codes may take a new character, cheapest first: free ones, ones bound but
        // never pressed (no client has translated them), ones past their grace, oldest first;
        // last, bound ones still to come.
        struct Candidate {
            int rank;
            Clock::time_point lastUsed;
            size_t slot;
        };
        std::vector<Candidate> usable;
        std::optional<Clock::time_point> nextFree;
        for (size_t i = 0; i < m_slots.size(); ++i) {
            const Slot &s = m_slots[i];
            if (s.keysym && pinned.contains(s.keysym))
                continue;
            if (!s.keysym)
                usable.push_back({0, {}, i});
            else if (!s.pressed)
                usable.push_back({upcomingSet.contains(s.keysym) ? 3 : 1, {}, i});
            else if (s.lastUsed + reuseGrace <= now)
                usable.push_back({2, s.lastUsed, i});
            else if (!nextFree || s.lastUsed + reuseGrace < *nextFree)
                nextFree = s.lastUsed + reuseGrace;
        }
        if (usable.size() < required.size()) {
            if (!nextFree)
                return false;
            // All taken: wait for the oldest to pass its grace, stopping when told.
            while (Clock::now() < *nextFree) {
                if (m_stop.stop_requested())
                    return false;
                std::this_thread::sleep_for(std::min<Clock::duration>(
                    *nextFree - Clock::now(), std::chrono::milliseconds(10)));
            }
            waited += Clock::now() - now;
            continue;
        }
        std::sort(usable.begin(), usable.end(), [](const Candidate &a, const Candidate &b) {
            return a.rank != b.rank ? a.rank < b.rank : a.lastUsed < b.lastUsed;
        });
        size_t next = 0;
        for (quint32 sym : required) {
            Slot &slot = m_slots[usable[next++].slot];
            slot = Slot{slot.keycode, sym, {}, false};
        }
        // The characters coming next ride along in the same keymap, on what is free anyway.
        for (quint32 sym : upcoming) {
            if (next >= usable.size() || usable[next].rank == 3)
                break;
            if (std::find(required.begin(), required.end(), sym) != required.end())
                continue;
            Slot &slot = m_slots[usable[next++].slot];
            slot = Slot{slot.keycode, sym, {}, false};
        }
        return upload();
    }
}

bool WaylandKeySession::upload()
{
    // No modifier is held across a keymap change: clients start the new one afresh.
    holdShifts(0);
    std::vector<std::pair<WaylandKeymap::Keycode, WaylandKeymap::Keysym>> bindings;
    for (const Slot &slot : m_slots) {
        if (slot.keysym)
            bindings.emplace_back(slot.keycode, slot.keysym);
    }
    const std::string text = m_keymap->text(bindings);
    xkb_keymap *compiled = xkb_keymap_new_from_string(
        m_context, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!compiled)
        return false;
    const int fd = memfd_create("keyloom-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        xkb_keymap_unref(compiled);
        return false;
    }
    // With its terminating NUL, as the compositor reads a C string.
    const size_t size = text.size() + 1;
    size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, text.c_str() + written, size - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += size_t(n);
    }
    if (written != size) {
        close(fd);
        xkb_keymap_unref(compiled);
        return false;
    }
    // Sealed, so that what the compositor maps cannot change under it.
    fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
    zwp_virtual_keyboard_v1_keymap(m_keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   std::uint32_t(size));
    close(fd); // the request carries a duplicate
    if (m_state)
        xkb_state_unref(m_state);
    if (m_uploaded)
        xkb_keymap_unref(m_uploaded);
    m_uploaded = compiled;
    m_state = xkb_state_new(compiled);
    return flush();
}

void WaylandKeySession::holdShifts(unsigned shifts)
{
    bool changed = false;
    for (int i = 0; i < 3; ++i) {
        if (m_shiftDown[i] && !(shifts & shiftBits[i])) {
            sendKey(m_shiftDown[i], false);
            m_shiftDown[i] = 0;
            changed = true;
        }
    }
    for (int i = 0; i < 3; ++i) {
        if ((shifts & shiftBits[i]) && !m_shiftDown[i]) {
            if (const std::optional<KeyPlanner::Keycode> kc = m_planner->shiftKey(shiftBits[i])) {
                sendKey(*kc, true);
                m_shiftDown[i] = *kc;
                changed = true;
            }
        }
    }
    if (changed && flush())
        std::this_thread::sleep_for(modifierSettle);
}

void WaylandKeySession::sendKey(quint32 keycode, bool down)
{
    if (m_lost)
        return;
    zwp_virtual_keyboard_v1_key(m_keyboard, timestamp(), keycode - 8,
                                down ? WL_KEYBOARD_KEY_STATE_PRESSED
                                     : WL_KEYBOARD_KEY_STATE_RELEASED);
    if (down)
        m_down.insert(keycode);
    else
        m_down.erase(keycode);
    // The compositor does not derive a virtual keyboard's modifiers from its keys: they go
    // along with the key events, so clients see both.
    if (m_state && xkb_state_update_key(m_state, keycode, down ? XKB_KEY_DOWN : XKB_KEY_UP) &
                       ~unsigned(XKB_STATE_LEDS))
        sendModifiers();
}

void WaylandKeySession::sendModifiers()
{
    zwp_virtual_keyboard_v1_modifiers(
        m_keyboard, xkb_state_serialize_mods(m_state, XKB_STATE_MODS_DEPRESSED),
        xkb_state_serialize_mods(m_state, XKB_STATE_MODS_LATCHED),
        xkb_state_serialize_mods(m_state, XKB_STATE_MODS_LOCKED),
        xkb_state_serialize_layout(m_state, XKB_STATE_LAYOUT_EFFECTIVE));
}

bool WaylandKeySession::flush()
{
    if (m_lost)
        return false;
    if (!flushDisplay(m_display, Clock::now() + answerTimeout) || wl_display_get_error(m_display)) {
        lose();
        return false;
    }
    return true;
}

void WaylandKeySession::lose()
{
    // The compositor is gone or stuck: nothing more goes out, and the keys it saw pressed
    // go with the keyboard it destroys.
    m_lost = true;
}
