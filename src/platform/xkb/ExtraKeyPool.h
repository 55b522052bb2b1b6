#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// The extra keys a session lends to characters the layout lacks: (key code, level) slots,
// each holding one keysym or none. Clients translate a key code with a keymap they fetch
// after a change, possibly late, so a slot pressed lately keeps its keysym for a grace
// period, and, where the window tells how far it has got, until the window has handled
// that press; otherwise a slot is taken cheapest first: free, bound but never pressed, the
// one pressed longest ago. A value type, so a backend can keep it from one run to the next.
class ExtraKeyPool {
public:
    using Clock = std::chrono::steady_clock;
    using Keycode = std::uint32_t;
    using Keysym = std::uint32_t;
    static constexpr std::chrono::milliseconds defaultGrace{1000};

    struct Slot {
        Keycode keycode = 0;
        int level = 0;
        Keysym keysym = 0; // 0: free
        Clock::time_point lastUsed{};
        bool pressed = false;
    };
    struct Edit {
        Keycode keycode = 0;
        int level = 0;
        Keysym keysym = 0; // 0: give back
        bool operator==(const Edit &) const = default;
    };
    struct Allocation {
        std::vector<Edit> edits;                    // one keymap change
        std::optional<Clock::time_point> waitUntil; // nothing fits before then
        bool impossible = false;                    // more than the reachable slots hold
    };

    /// wholeKeymap: every change rewrites the whole keymap, so characters coming next may
    /// ride along on any slot; otherwise only on the key codes the change writes anyway.
    explicit ExtraKeyPool(bool wholeKeymap = false,
                          std::function<Clock::time_point()> now = &Clock::now,
                          Clock::duration grace = defaultGrace);

    /// The slots there are and what each holds now, as the backend found them; a slot whose
    /// keysym is unchanged keeps its history.
    void reconcile(const std::vector<Slot> &found);

    /// Takes the slots with their history, as a backend kept them from an earlier run.
    void adopt(std::vector<Slot> found) { m_slots = std::move(found); }

    const std::vector<Slot> &entries() const { return m_slots; }
    Clock::duration grace() const { return m_grace; }
    Clock::time_point now() const { return m_now(); }

    /// How many keysyms fit at once on the levels (bits) that can be reached.
    int capacity(unsigned levels) const;

    /// What a slot holds; 0 for a free or unknown one.
    Keysym at(Keycode keycode, int level) const;

    /// The slot giving the keysym on a reachable level.
    const Slot *find(Keysym keysym, unsigned levels) const;

    /// Places the required keysyms (distinct; those bound stay where they are), and as many of
    /// the upcoming ones as ride along, without touching a slot within its grace.
    Allocation allocate(const std::vector<Keysym> &required, const std::vector<Keysym> &upcoming,
                        unsigned levels) const;

    /// A change the desktop took.
    void apply(const std::vector<Edit> &edits);

    /// A slot was just pressed.
    void markUsed(Keycode keycode, int level);

    /// How far the window receiving the keys has got: it has handled every key sent before
    /// this time. Nothing: it does not tell, and the grace alone protects its keys.
    void setHandledBefore(std::optional<Clock::time_point> time) { m_handledBefore = time; }

    /// Whether the window will tell: until it first does, no press counts as handled, an
    /// earlier run's included (a slow window may still hold them).
    void expectAnswers(bool tells)
    {
        setHandledBefore(tells ? std::optional(Clock::time_point{}) : std::nullopt);
    }

    /// Whether the window has handled a press made at that time, as far as it tells.
    bool handled(Clock::time_point pressed) const
    {
        return !m_handledBefore || *m_handledBefore > pressed;
    }

    /// How often a wait for the window looks again.
    static constexpr std::chrono::milliseconds recheck{10};

    /// Gives back what was bound and never pressed: no client saw it.
    std::vector<Edit> unusedEdits() const;

    /// When the last slot was pressed.
    Clock::time_point lastUse() const;

private:
    bool m_wholeKeymap;
    std::function<Clock::time_point()> m_now;
    Clock::duration m_grace;
    std::vector<Slot> m_slots;
    std::optional<Clock::time_point> m_handledBefore;
};
