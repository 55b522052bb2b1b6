#include "KdeKeyStates.h"

#include "WaylandRoundtrip.h"

#include <cstring>

#include <wayland-client.h>

#include "keystate-client-protocol.h"

namespace {

constexpr std::chrono::seconds answerTimeout{5};

struct Found {
    org_kde_kwin_keystate *keyState = nullptr;
    wayland::LockStates locks;
    bool told = false;
};

void onGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    auto *found = static_cast<Found *>(data);
    if (!found->keyState && std::strcmp(interface, org_kde_kwin_keystate_interface.name) == 0)
        found->keyState = static_cast<org_kde_kwin_keystate *>(
            wl_registry_bind(registry, name, &org_kde_kwin_keystate_interface, 1));
}

void onStateChanged(void *data, org_kde_kwin_keystate *, uint32_t key, uint32_t state)
{
    auto *found = static_cast<Found *>(data);
    const bool on = state != ORG_KDE_KWIN_KEYSTATE_STATE_UNLOCKED;
    if (key == ORG_KDE_KWIN_KEYSTATE_KEY_CAPSLOCK)
        found->locks.capsLock = on;
    else if (key == ORG_KDE_KWIN_KEYSTATE_KEY_NUMLOCK)
        found->locks.numLock = on;
    found->told = true;
}

const wl_registry_listener registryListener{onGlobal, [](void *, wl_registry *, uint32_t) {}};
const org_kde_kwin_keystate_listener keyStateListener{onStateChanged};

} // namespace

std::optional<wayland::LockStates> wayland::kdeLockStates(const QByteArray &displayName)
{
    wl_display *display =
        wl_display_connect(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!display)
        return std::nullopt;
    Found found;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &found);
    // KWin leaves a restricted global out of the registry of a program it does not grant it.
    if (roundtrip(display, answerTimeout) && found.keyState) {
        org_kde_kwin_keystate_add_listener(found.keyState, &keyStateListener, &found);
        org_kde_kwin_keystate_fetchStates(found.keyState);
        roundtrip(display, answerTimeout);
    }
    if (found.keyState)
        wl_proxy_destroy(reinterpret_cast<wl_proxy *>(found.keyState));
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return found.told ? std::optional(found.locks) : std::nullopt;
}
