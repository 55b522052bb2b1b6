#pragma once

#include <QHash>
#include <QSet>
#include <QtGlobal>

#include <array>
#include <chrono>
#include <optional>
#include <stop_token>
#include <vector>

struct _XDisplay;

// The keycodes that carry no symbols in the current keymap, lent out to the
// characters no key of the layout types. Each keycode carries up to four
// keysyms, on the levels that Shift and the level-3 shift select, under an
// alphabetic key type that consumes CapsLock (so nothing is capitalised) and
// ignores NumLock; one keymap change binds many characters at once.
//
// Clients translate keycodes with a keymap they fetch lazily after a mapping
// change, so a keycode whose keysyms are in use is rebound only after a grace
// period since its last press, least recently used first; a level nobody used
// may be filled at any time.
//
// Every change is a read-modify-write under a server grab: a keycode is changed only while
// it still holds what this object last put there, so another client's change always wins.
// Every keycode bound is listed on the root window with an owner, a selection that this
// object's connection holds while it has keys bound; an entry whose owner is gone is a
// dead instance's, and the next start undoes it.
class X11SpareKeys {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds gracePeriod{1000};
    static constexpr int maxLevels = 4;

    /// Whose keymap changes listed on the root window a new instance undoes.
    enum class Leftovers { OfEndedProcesses, AlsoOfThisProcess };

    /// A keysym's place: the keycode and the level (0 to 3) it is bound on.
    struct Binding {
        quint8 keyCode = 0;
        int level = 0;
    };

    /// Finds the spare keycodes.
    explicit X11SpareKeys(_XDisplay *display);
    /// Restores every keycode it bound.
    ~X11SpareKeys();

    /// Undoes the listed changes whose owner is gone (or, at the end, is this process).
    static void cleanLeftovers(_XDisplay *display, Leftovers leftovers);

    X11SpareKeys(const X11SpareKeys &) = delete;
    X11SpareKeys &operator=(const X11SpareKeys &) = delete;

    /// The real modifier masks of Shift and of the level-3 shift (0 when the layout has no
    /// such key), which decide how many levels a keycode carries.
    void setModifiers(unsigned shift, unsigned level3);

    /// The levels usable now, as bits, given modifiers someone holds and the locks.
    unsigned reachableLevels(unsigned heldMods, unsigned lockedMods) const;

    /// What to press for a level in that state: bit 0 Shift, bit 1 the level-3 shift.
    std::optional<unsigned> shiftsFor(int level, unsigned heldMods, unsigned lockedMods) const;

    /// Whether every keycode of the range is a spare one.
    bool ownsAll(unsigned first, unsigned count) const;

    /// How many keysyms can be bound at once on the reachable levels.
    int capacity(unsigned levels) const;

    /// Binds the required keysyms on reachable levels, waiting out a grace period if it
    /// must, and as many of the wanted ones as fit on the keycodes it writes, in one keymap
    /// change. False when the required ones cannot all be bound or the stop came first.
    bool bind(const std::vector<quint32> &required, const std::vector<quint32> &wanted,
              unsigned levels, std::stop_token stop = {});

    /// Where a keysym is bound on a reachable level.
    std::optional<Binding> bindingFor(quint32 keysym, unsigned levels) const;

    /// The spare keycodes, bound or not.
    std::vector<quint8> keyCodes() const;

    /// When a bound keycode was last pressed.
    Clock::time_point lastUse() const;

    /// Notes that a keycode has just been pressed.
    void markUsed(quint8 keyCode);

    /// Someone else changed the keymap: check the bound keycodes before the next use.
    void invalidate() { m_stale = true; }

    /// Whether the bindings must be checked before they are used.
    bool isStale() const { return m_stale; }

    /// Gives back at once the keycodes bound but never pressed: no client has used them.
    void releaseUnused();

    /// Gives every bound keycode back its empty state.
    void restore();

private:
    struct Slot {
        quint8 keyCode = 0;
        std::array<quint32, maxLevels> keysyms{};
        Clock::time_point lastUsed{};
        bool pressed = false;
        bool bound() const { return keysyms[0] != 0; }
    };
    struct Edit {
        quint8 keyCode;
        std::array<quint32, maxLevels> keysyms; // all zero: back to empty
    };

    int levelCount() const;
    int levelOf(unsigned pressed, unsigned heldMods, unsigned lockedMods) const;
    void rescan();
    bool bindOnce(const std::vector<quint32> &required, const std::vector<quint32> &wanted,
                  unsigned levels, std::stop_token stop);
    void apply(const std::vector<Edit> &edits);
    void record(const QSet<long> &keyCodes);
    void claimOwner();

    _XDisplay *m_display;
    std::vector<Slot> m_slots;
    int m_groups = 1;
    bool m_stale = false;
    std::optional<unsigned> m_xtestDevice;
    unsigned long m_owner = 0;       // the selection naming this object in the record
    unsigned long m_ownerWindow = 0; // its owner window
    unsigned m_shift = 0;
    unsigned m_level3 = 0;
    bool m_fourLevels = false;
};
