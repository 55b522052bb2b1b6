#pragma once

#include "platform/xkb/KeyBackend.h"

#include <QByteArray>

#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;
struct xkb_context;
struct xkb_state;
class WaylandKeymap;
class WaylandKeyboardMemory;
class WindowProgress;

// One typing run's virtual keyboard, on a Wayland connection of its own used only by the
// run's thread. It types on the seat's layout, with extra keys of its own keymap for what the
// layout lacks; the compositor hides every other keyboard's state, so the keyboard starts
// with no modifier set and tracks only its own keys.
class WaylandKeyBackend final : public KeyBackend {
public:
    /// Connects, creates the virtual keyboard and gives it its keymap; null when the
    /// compositor cannot be reached or offers no virtual keyboards.
    /// The window, where it tells how far it has got, keeps the extra keys it has not
    /// handled yet from being given other characters.
    static std::unique_ptr<WaylandKeyBackend> open(const QByteArray &displayName,
                                                   std::shared_ptr<WaylandKeyboardMemory> memory,
                                                   std::unique_ptr<WindowProgress> window = {});
    /// Whether the compositor answers and offers a seat and virtual keyboards.
    static bool reachable(const QByteArray &displayName);
    ~WaylandKeyBackend() override;

    bool refresh() override;
    xkb_keymap *keymap() const override;
    std::uint64_t keymapSerial() const override { return 1; }
    ExtraKeyPool &pool() override { return m_pool; }
    ExtraKeyType extraKeyType() const override { return {1, false}; }
    bool commit(const std::vector<ExtraKeyPool::Edit> &edits) override;
    void sendKey(Keycode keycode, bool down) override;
    bool flush(bool wait) override;
    void awaitWindow() override;
    bool lost() const override { return m_lost; }
    bool forwardsKeys() const override { return m_forwardsKeys; }
    void setForwardsKeys(bool forwards) { m_forwardsKeys = forwards; }

    struct Globals {
        wl_seat *seat = nullptr;
        zwp_virtual_keyboard_manager_v1 *manager = nullptr;
        unsigned seatCapabilities = 0;
    };

private:
    using Clock = std::chrono::steady_clock;

    WaylandKeyBackend(wl_display *display, std::shared_ptr<WaylandKeyboardMemory> memory);
    bool findGlobals();
    bool setUp();
    std::optional<std::string> seatKeymap();
    bool upload(const ExtraKeyPool &keys);
    void sendModifiers();
    void lose();

    wl_display *m_display;
    std::shared_ptr<WaylandKeyboardMemory> m_memory;
    bool m_forwardsKeys = false;
    wl_registry *m_registry = nullptr;
    Globals m_globals;
    zwp_virtual_keyboard_v1 *m_keyboard = nullptr;
    xkb_context *m_context = nullptr;
    std::unique_ptr<WaylandKeymap> m_keymap;
    xkb_keymap *m_uploaded = nullptr;
    xkb_state *m_state = nullptr; // our own keys on the uploaded keymap
    ExtraKeyPool m_pool{true};
    std::set<Keycode> m_down; // keys this session holds
    std::unique_ptr<WindowProgress> m_window;
    bool m_sentSinceSync = false;
    bool m_lost = false;
};
