#include "WaylandSeatKeymap.h"

#include "WaylandRoundtrip.h"

#include <algorithm>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

#include <wayland-client.h>

#include "keystate-client-protocol.h"

namespace {

constexpr std::chrono::seconds answerTimeout{5};

void onKeymap(void *data, wl_keyboard *, uint32_t format, int32_t fd, uint32_t size)
{
    auto *text = static_cast<std::optional<std::string> *>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
        // Private and read-only: the compositor may share one mapping with every client.
        void *map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            const char *chars = static_cast<const char *>(map);
            *text = std::string(chars, strnlen(chars, size));
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

struct Seat {
    wl_seat *seat = nullptr;
    unsigned capabilities = 0;
    org_kde_kwin_keystate *keyState = nullptr;
    wayland::LockStates locks;
    bool locksTold = false;
};

void onKeyState(void *data, org_kde_kwin_keystate *, uint32_t key, uint32_t state)
{
    auto *seat = static_cast<Seat *>(data);
    const bool on = state != ORG_KDE_KWIN_KEYSTATE_STATE_UNLOCKED;
    if (key == ORG_KDE_KWIN_KEYSTATE_KEY_CAPSLOCK)
        seat->locks.capsLock = on;
    else if (key == ORG_KDE_KWIN_KEYSTATE_KEY_NUMLOCK)
        seat->locks.numLock = on;
    seat->locksTold = true;
}

const org_kde_kwin_keystate_listener keyStateListener{onKeyState};

void onGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface,
              uint32_t version)
{
    static const wl_seat_listener seatListener{
        [](void *data, wl_seat *, uint32_t capabilities) {
            static_cast<Seat *>(data)->capabilities = capabilities;
        },
        [](void *, wl_seat *, const char *) {}};
    auto *seat = static_cast<Seat *>(data);
    if (!seat->seat && std::strcmp(interface, wl_seat_interface.name) == 0) {
        seat->seat = static_cast<wl_seat *>(
            wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 4u)));
        wl_seat_add_listener(seat->seat, &seatListener, seat);
    } else if (!seat->keyState && std::strcmp(interface, org_kde_kwin_keystate_interface.name) == 0) {
        // KWin lists this restricted global only to a program it grants it.
        seat->keyState = static_cast<org_kde_kwin_keystate *>(
            wl_registry_bind(registry, name, &org_kde_kwin_keystate_interface, 1));
        org_kde_kwin_keystate_add_listener(seat->keyState, &keyStateListener, seat);
        org_kde_kwin_keystate_fetchStates(seat->keyState);
    }
}

const wl_registry_listener registryListener{onGlobal, [](void *, wl_registry *, uint32_t) {}};

} // namespace

std::optional<std::string> wayland::seatKeymap(wl_display *display, wl_seat *seat)
{
    std::optional<std::string> text;
    wl_keyboard *keyboard = wl_seat_get_keyboard(seat);
    wl_keyboard_add_listener(keyboard, &keyboardListener, &text);
    roundtrip(display, answerTimeout);
    if (wl_keyboard_get_version(keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION)
        wl_keyboard_release(keyboard);
    else
        wl_keyboard_destroy(keyboard);
    return text;
}

wayland::SeatState wayland::seatState(const QByteArray &displayName)
{
    SeatState state;
    wl_display *display =
        wl_display_connect(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!display)
        return state;
    Seat seat;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &seat);
    // The first round trip names the globals, the second brings the seat's capabilities and
    // the lock states.
    if (roundtrip(display, answerTimeout) && seat.seat && roundtrip(display, answerTimeout) &&
        (seat.capabilities & WL_SEAT_CAPABILITY_KEYBOARD))
        state.keymap = seatKeymap(display, seat.seat);
    if (seat.locksTold)
        state.locks = seat.locks;
    if (seat.keyState)
        wl_proxy_destroy(reinterpret_cast<wl_proxy *>(seat.keyState));
    if (seat.seat)
        wl_seat_destroy(seat.seat);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return state;
}
