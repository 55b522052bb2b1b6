#include "WaylandKeyBackend.h"

#include "WaylandKeymap.h"
#include "WaylandRoundtrip.h"
#include "WaylandSeatKeymap.h"
#include "platform/xkb/KeyPlanner.h"
#include "platform/xkb/WindowProgress.h"

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
using wayland::flushDisplay;
using wayland::readPending;
using wayland::roundtrip;

// A compositor that answers nothing for this long is taken as gone.
constexpr std::chrono::seconds answerTimeout{5};
constexpr std::chrono::seconds closeTimeout{2};

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
            static_cast<WaylandKeyBackend::Globals *>(data)->seatCapabilities = capabilities;
        },
        [](void *, wl_seat *, const char *) {}};
    auto *globals = static_cast<WaylandKeyBackend::Globals *>(data);
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

wl_display *connect(const QByteArray &displayName)
{
    return wl_display_connect(displayName.isEmpty() ? nullptr : displayName.constData());
}

} // namespace

bool WaylandKeyBackend::reachable(const QByteArray &displayName)
{
    wl_display *display = connect(displayName);
    return display && WaylandKeyBackend(display, nullptr).findGlobals();
}

std::unique_ptr<WaylandKeyBackend>
WaylandKeyBackend::open(const QByteArray &displayName,
                        std::shared_ptr<WaylandKeyboardMemory> memory,
                        std::unique_ptr<WindowProgress> window)
{
    wl_display *display = connect(displayName);
    if (!display)
        return nullptr;
    std::unique_ptr<WaylandKeyBackend> backend(new WaylandKeyBackend(display, std::move(memory)));
    if (!backend->setUp())
        return nullptr;
    backend->m_window = std::move(window);
    backend->m_pool.expectAnswers(backend->m_window != nullptr);
    return backend;
}

WaylandKeyBackend::WaylandKeyBackend(wl_display *display,
                                     std::shared_ptr<WaylandKeyboardMemory> memory)
    : m_display(display), m_memory(std::move(memory))
{
}

bool WaylandKeyBackend::findGlobals()
{
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &registryListener, &m_globals);
    return roundtrip(m_display, answerTimeout) && m_globals.seat && m_globals.manager;
}

bool WaylandKeyBackend::setUp()
{
    // The second round brings the seat's capabilities.
    if (!findGlobals() || !roundtrip(m_display, answerTimeout))
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

    // The previous run's extra keys, where this layout leaves their key codes free: their
    // characters stay bound, and a key code typed lately keeps its grace. Our first keymap
    // carries them again.
    const std::vector<ExtraKeyPool::Slot> remembered = m_memory->extraKeys();
    std::vector<ExtraKeyPool::Slot> keys;
    for (WaylandKeymap::Keycode kc : m_keymap->freeKeycodes()) {
        ExtraKeyPool::Slot slot{kc, 0, 0, {}, false};
        for (const ExtraKeyPool::Slot &key : remembered) {
            if (key.keycode == kc && key.level == 0)
                slot = key;
        }
        keys.push_back(slot);
    }
    m_pool.adopt(keys);

    m_keyboard =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(m_globals.manager, m_globals.seat);
    // A refusal (unauthorized) comes back as a protocol error by the roundtrip.
    if (!m_keyboard)
        return false;
    if (!upload(m_pool)) {
        // Nothing remembered is in force: the keys start empty.
        for (ExtraKeyPool::Slot &slot : keys)
            slot = {slot.keycode, 0, 0, {}, false};
        m_pool.adopt(keys);
        if (!upload(m_pool))
            return false;
    }
    return roundtrip(m_display, answerTimeout) && wl_display_get_error(m_display) == 0;
}

std::optional<std::string> WaylandKeyBackend::seatKeymap()
{
    if (!(m_globals.seatCapabilities & WL_SEAT_CAPABILITY_KEYBOARD))
        return std::nullopt;
    return wayland::seatKeymap(m_display, m_globals.seat);
}

WaylandKeyBackend::~WaylandKeyBackend()
{
    if (m_keyboard && !m_lost) {
        // Every key up, and the modifiers as they then are, so that none stays set.
        const std::set<Keycode> down = m_down;
        for (auto it = down.rbegin(); it != down.rend(); ++it)
            sendKey(*it, false);
        if (m_state)
            sendModifiers();
        roundtrip(m_display, closeTimeout);
    }
    if (m_keymap)
        m_memory->setExtraKeys(m_pool.entries());
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
    m_keymap.reset();
    if (m_state)
        xkb_state_unref(m_state);
    if (m_uploaded)
        xkb_keymap_unref(m_uploaded);
    if (m_context)
        xkb_context_unref(m_context);
}

bool WaylandKeyBackend::refresh()
{
    if (!m_lost && !readPending(m_display))
        lose();
    return !m_lost;
}

xkb_keymap *WaylandKeyBackend::keymap() const
{
    return m_keymap->base();
}

bool WaylandKeyBackend::commit(const std::vector<ExtraKeyPool::Edit> &edits)
{
    ExtraKeyPool after = m_pool;
    after.apply(edits);
    if (!upload(after))
        return false;
    m_pool = std::move(after);
    return true;
}

bool WaylandKeyBackend::upload(const ExtraKeyPool &keys)
{
    if (m_lost)
        return false;
    std::vector<std::pair<Keycode, std::uint32_t>> bindings;
    for (const ExtraKeyPool::Slot &slot : keys.entries()) {
        if (slot.keysym)
            bindings.emplace_back(slot.keycode, slot.keysym);
    }
    const std::optional<std::string> text = m_keymap->text(bindings);
    if (!text)
        return false;
    xkb_keymap *compiled = xkb_keymap_new_from_string(
        m_context, text->c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!compiled)
        return false;
    // Fails safe: an extra key must give its character and nothing else, never a function
    // (power, suspend, media) that the key code carried in the layout.
    for (Keycode kc : m_keymap->freeKeycodes()) {
        const std::uint32_t wanted = keys.at(kc, 0);
        const xkb_keysym_t *syms = nullptr;
        const int count = xkb_keymap_num_layouts_for_key(compiled, kc) == 0
                              ? 0
                              : xkb_keymap_key_get_syms_by_level(compiled, kc, 0, 0, &syms);
        const bool right = wanted ? count == 1 && syms[0] == wanted &&
                                        xkb_keymap_num_levels_for_key(compiled, kc, 0) == 1
                                  : count == 0;
        if (!right) {
            xkb_keymap_unref(compiled);
            return false;
        }
    }
    const int fd = memfd_create("keyloom-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        xkb_keymap_unref(compiled);
        return false;
    }
    // With its terminating NUL, as the compositor reads a C string.
    const size_t size = text->size() + 1;
    size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, text->c_str() + written, size - written);
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
    // Clients start the new keymap afresh: no modifier is held across it.
    if (m_state)
        xkb_state_unref(m_state);
    if (m_uploaded)
        xkb_keymap_unref(m_uploaded);
    m_uploaded = compiled;
    m_state = xkb_state_new(compiled);
    return flush(false);
}

void WaylandKeyBackend::sendKey(Keycode keycode, bool down)
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
    if (down && m_window)
        m_window->pressed();
    m_sentSinceSync = true;
    // The compositor does not derive a virtual keyboard's modifiers from its keys: they go
    // along with the key events, so clients see both.
    if (m_state && xkb_state_update_key(m_state, keycode, down ? XKB_KEY_DOWN : XKB_KEY_UP) &
                       ~unsigned(XKB_STATE_LEDS))
        sendModifiers();
}

void WaylandKeyBackend::sendModifiers()
{
    zwp_virtual_keyboard_v1_modifiers(
        m_keyboard, xkb_state_serialize_mods(m_state, XKB_STATE_MODS_DEPRESSED),
        xkb_state_serialize_mods(m_state, XKB_STATE_MODS_LATCHED),
        xkb_state_serialize_mods(m_state, XKB_STATE_MODS_LOCKED),
        xkb_state_serialize_layout(m_state, XKB_STATE_LAYOUT_EFFECTIVE));
}

bool WaylandKeyBackend::flush(bool)
{
    if (m_lost)
        return false;
    if (!flushDisplay(m_display, Clock::now() + answerTimeout) || wl_display_get_error(m_display)) {
        lose();
        return false;
    }
    return true;
}

void WaylandKeyBackend::awaitWindow()
{
    if (!m_window || m_lost)
        return;
    // The window's answer must come after our keys, which the compositor passes on to the
    // window's server: the first round trip has it handle them, the second has it send them
    // on, as it writes to every client before it reads the next request.
    if (m_sentSinceSync) {
        if (!roundtrip(m_display, answerTimeout) || !roundtrip(m_display, answerTimeout))
            return lose();
        m_sentSinceSync = false;
    }
    m_window->ask(m_pool);
}

void WaylandKeyBackend::lose()
{
    // The compositor is gone or stuck: nothing more goes out, and the keys it saw pressed
    // go with the keyboard it destroys.
    m_lost = true;
}
