#pragma once

#include "platform/KeyInjector.h"

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
struct xkb_keymap;
struct xkb_state;
class KeyPlanner;
class WaylandKeymap;
class WaylandKeyboardMemory;

// One typing run's virtual keyboard, on a Wayland connection of its own used only
// by the run's thread. A character the layout has goes out on its own key with the
// real Shift or AltGr key held around it, as a person would type it; the others go
// onto extra keys of the keyboard's own keymap, bound in batches. The compositor
// hides every other keyboard's state, so the keyboard starts with no modifier set
// and tracks only its own keys.
class WaylandKeySession final : public KeySession {
public:
    /// Connects, creates the virtual keyboard and gives it its keymap; null when the
    /// compositor cannot be reached or offers no virtual keyboards.
    static std::unique_ptr<WaylandKeySession> open(const QByteArray &displayName,
                                                   std::shared_ptr<WaylandKeyboardMemory> memory);
    /// Whether the compositor answers and offers a seat and virtual keyboards.
    static bool reachable(const QByteArray &displayName);
    ~WaylandKeySession() override;

    bool isKeyDown(quint16) override { return false; }
    bool anyKeyDown() override { return false; }
    bool seesKeys() const override { return false; }
    void prepare(QStringView upcoming) override;
    void postKey(quint16 keyCode, bool down, QStringView text) override;
    void watchStop(std::stop_token stop) override { m_stop = std::move(stop); }
    std::chrono::nanoseconds takeTimeSpent() override;
    bool lost() const override { return m_lost; }

    struct Globals {
        wl_seat *seat = nullptr;
        zwp_virtual_keyboard_manager_v1 *manager = nullptr;
        unsigned seatCapabilities = 0;
    };

private:
    using Clock = std::chrono::steady_clock;
    struct Step {
        quint32 keycode = 0; // xkb key code
        unsigned shifts = 0;
        bool extra = false;
    };

    WaylandKeySession(wl_display *display, std::shared_ptr<WaylandKeyboardMemory> memory);
    bool setUp();
    std::optional<std::string> seatKeymap();
    bool upload();
    bool bind(const std::vector<quint32> &required, const std::set<quint32> &pinned,
              Clock::duration &waited);
    std::vector<quint32> upcomingExtras() const;
    std::optional<Step> plan(quint32 keysym);
    std::optional<size_t> slotOf(quint32 keysym) const;
    void typeKeysyms(const std::vector<quint32> &keysyms);
    void holdShifts(unsigned shifts);
    void sendKey(quint32 keycode, bool down);
    void sendModifiers();
    bool flush();
    void lose();

    wl_display *m_display;
    std::shared_ptr<WaylandKeyboardMemory> m_memory;
    wl_registry *m_registry = nullptr;
    Globals m_globals;
    zwp_virtual_keyboard_v1 *m_keyboard = nullptr;
    xkb_context *m_context = nullptr;
    std::unique_ptr<WaylandKeymap> m_keymap;
    std::unique_ptr<KeyPlanner> m_planner;
    xkb_keymap *m_uploaded = nullptr;
    xkb_state *m_state = nullptr; // our own keys on the uploaded keymap
    struct Slot {
        quint32 keycode = 0;
        quint32 keysym = 0; // 0: unbound
        Clock::time_point lastUsed{};
        bool pressed = false;
    };
    std::vector<Slot> m_slots;
    std::set<quint32> m_down; // keys this session holds, xkb codes
    quint32 m_shiftDown[3] = {};
    std::vector<quint32> m_upcoming;
    size_t m_upcomingPos = 0;
    std::stop_token m_stop;
    bool m_lost = false;
    Clock::duration m_spent{};
};
