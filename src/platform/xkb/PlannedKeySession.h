#pragma once

#include "KeyBackend.h"
#include "platform/KeyInjector.h"

#include <chrono>
#include <memory>
#include <vector>

class KeyPlanner;

// Typing as a person would, on any desktop: each character on the layout's own key with
// the real Shift or AltGr key held around it, and what the layout lacks on extra keys bound
// for it. Each character becomes a plan of steps first (keymap edits committed, then shift
// and key events), which the backend only carries out. Shift keys are let go before a key
// that does not need them and at the end of every character, so neither the pause nor a
// stop leaves one held: the shortcut and the user's own keys work as usual meanwhile.
class PlannedKeySession final : public KeySession {
public:
    using Keysym = std::uint32_t;

    // One step of a character's plan.
    struct Step {
        enum class Kind { ShiftDown, ShiftUp, KeyDown, KeyUp, Settle, CheckStop, Used };
        Kind kind;
        KeyBackend::Keycode keycode = 0;
        int level = 0; // with Used: the extra key's level
    };

    explicit PlannedKeySession(std::unique_ptr<KeyBackend> backend);
    ~PlannedKeySession() override;

    bool isKeyDown(quint16 keyCode) override;
    bool anyKeyDown() override;
    bool seesKeys() const override { return m_backend->seesKeys(); }
    bool sharesKeyboard() const override { return m_backend->sharesKeyboard(); }
    bool allTypeable(QStringView text) override;
    std::optional<Untypeable> untypeable(QStringView cluster) override;
    void prepare(QStringView upcoming) override;
    ClusterEnd typeCluster(QStringView cluster) override;
    ClusterEnd pressKey(quint16 keyCode) override;
    void watchStop(std::stop_token stop) override { m_stop = std::move(stop); }
    std::chrono::nanoseconds takeTimeSpent() override;

    /// Types keysyms as one unbroken burst.
    ClusterEnd typeKeysyms(const std::vector<Keysym> &keysyms);

private:
    using Clock = std::chrono::steady_clock;
    struct Press {
        KeyBackend::Keycode keycode = 0;
        unsigned shifts = 0;
        int extraLevel = -1; // an extra key's level, -1 for a key of the layout
    };

    bool holds(KeyBackend::Keycode keycode) const;
    bool refresh();
    /// Whether a key of the layout, or a dead key and a key, types the keysym.
    bool onLayout(Keysym keysym);
    std::vector<Keysym> extrasOf(const std::vector<Keysym> &keysyms);
    /// Why this many distinct characters cannot go on extra keys at once; nothing when they can.
    std::optional<Untypeable> unfit(size_t extras) const;
    std::vector<Press> plan(Keysym keysym);
    std::optional<ClusterEnd> bindExtras(const std::vector<Keysym> &keysyms,
                                         Clock::duration &waited);
    std::vector<Step> steps(const std::vector<Keysym> &keysyms);
    ClusterEnd run(const std::vector<Step> &steps);
    void holdShifts(unsigned shifts, std::vector<Step> &steps, unsigned &held) const;
    void releaseShifts();
    unsigned extraLevels() const;
    std::optional<unsigned> extraShifts(int level) const;
    std::vector<Keysym> upcomingExtras(size_t limit) const;

    std::unique_ptr<KeyBackend> m_backend;
    std::unique_ptr<KeyPlanner> m_planner;
    std::uint64_t m_serial = 0;
    unsigned m_heldMods = 0, m_lockedMods = 0, m_capsMask = 0, m_shiftMask = 0, m_level3Mask = 0;
    KeyBackend::Keycode m_shiftDown[3] = {}; // the key held for each shift bit, or 0
    std::vector<Keysym> m_upcoming;          // what the layout lacks in the prepared window
    size_t m_upcomingPos = 0;
    std::stop_token m_stop;
    Clock::duration m_spent{};
};
