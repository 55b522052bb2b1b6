#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct xkb_keymap;
struct xkb_state;

// Chooses, in an XKB keymap, the key and the shift keys that type a keysym the way
// a person would: the character's own key, with Shift, AltGr (level 3) or level 5
// held around it. Viewers of virtual machines and remote desktops forward key
// codes and modifier keys, not characters, so only such a plan reaches them.
//
// Keys of a PC keyboard's main block come first, its extra ISO key next; keys only the
// keymap has (multimedia, <I187>) only where no key of the keyboard gives the character.
// A character the layout composes with a dead key can go out as a person types it: the
// dead key, then the base key, checked against the locale's compose sequences.
//
// Every plan is checked on a scratch state holding the locks in force and the
// modifiers the user holds, so CapsLock, NumLock and a held key are accounted for.
// Control, Alt, Super, lock keys and keypad keys are never used.
class KeyPlanner {
public:
    using Keycode = std::uint32_t;
    using Keysym = std::uint32_t;
    using ModMask = std::uint32_t;

    /// The shift keys a plan may hold, as bits.
    enum Shift : unsigned { ShiftKey = 1, Level3Key = 2, Level5Key = 4 };

    struct Plan {
        Keycode key = 0;
        unsigned shifts = 0; // Shift bits to hold around the key
        bool operator==(const Plan &) const = default;
    };

    /// Takes a reference to the keymap. Keys in excluded are never planned on (spare keys).
    /// For a window that forwards key codes to a guest (a VM console, a remote desktop), only
    /// keys a PC keyboard has are used, and the guest's locks, unknown, are planned as off.
    explicit KeyPlanner(xkb_keymap *keymap, std::unordered_set<Keycode> excluded = {},
                        bool forwarding = false);
    ~KeyPlanner();
    KeyPlanner(const KeyPlanner &) = delete;
    KeyPlanner &operator=(const KeyPlanner &) = delete;

    /// The state the next plans are made for: the effective layout, the locked
    /// modifiers, and the keys someone else holds down (never pressed or released by a plan).
    void setState(std::uint32_t layout, ModMask lockedMods, const std::vector<Keycode> &held);

    /// The best plan for the keysym in the current state; nothing when no key of the
    /// active layout gives it.
    std::optional<Plan> plan(Keysym keysym);

    /// Dead-key plans: the dead key, then the base key, for a keysym no key gives; empty
    /// when the layout composes none. Only where enabled (always when forwarding).
    void useDeadKeys(bool use);
    const std::vector<Plan> &deadKeyPlan(Keysym keysym);

    /// Whether holding the shifts while pressing the key gives the keysym in the current state.
    bool gives(Keycode key, unsigned shifts, Keysym keysym) const;

    /// The key to hold for a shift bit; nothing when the layout has none.
    std::optional<Keycode> shiftKey(Shift shift) const;

    /// The real modifiers (X masks, bits 0..7) a shift bit sets.
    ModMask shiftMask(Shift shift) const;

    /// The modifiers the held keys set.
    ModMask heldMods() const { return m_heldMods; }

private:
    struct ShiftKeyInfo {
        Keycode key = 0;
        ModMask mask = 0;
        int rank = 0;
    };
    struct Candidate {
        Keycode key;
        std::uint32_t level;
        int rank; // lower is better, before the shifts are counted
    };

    void findShiftKeys();
    void index();
    void composeDeadKeys();

    xkb_keymap *m_keymap;
    xkb_state *m_scratch;
    std::unordered_set<Keycode> m_excluded;
    ShiftKeyInfo m_shifts[3];
    std::uint32_t m_layout = 0;
    ModMask m_lockedMods = 0;
    ModMask m_heldMods = 0;
    std::unordered_set<Keycode> m_held;
    bool m_indexed = false;
    std::unordered_map<Keysym, std::vector<Candidate>> m_candidates;
    std::unordered_map<Keysym, std::optional<Plan>> m_plans;
    bool m_forwarding = false;
    bool m_deadKeys = false;
    bool m_composed = false;
    std::unordered_map<char32_t, std::vector<Plan>> m_deadKeyPlans; // by the character composed
};
