#pragma once

#include <QHash>
#include <QtGlobal>

#include <chrono>
#include <optional>
#include <vector>

struct _XDisplay;

// The keycodes that carry no symbols in the current keymap, lent out one keysym
// at a time so that any character can be typed whatever the layout and the
// modifier state.
//
// Clients translate keycodes with a keymap they fetch lazily after a mapping
// change, so a keycode is rebound only after a grace period since its last
// press, least recently used first. Every keycode bound is listed on the root
// window until it is restored, so that a later start can undo what a killed
// process left behind.
class X11SpareKeys {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds gracePeriod{1000};

    /// Whose keymap changes listed on the root window a new instance undoes.
    enum class Leftovers { OfEndedProcesses, AlsoOfThisProcess };

    /// Finds the spare keycodes and undoes the listed changes of processes that are gone
    /// (and of this one too when it is about to end).
    explicit X11SpareKeys(_XDisplay *display, Leftovers leftovers = Leftovers::OfEndedProcesses);
    /// Restores every keycode it bound.
    ~X11SpareKeys();

    X11SpareKeys(const X11SpareKeys &) = delete;
    X11SpareKeys &operator=(const X11SpareKeys &) = delete;

    /// How many keysyms can be bound at the same time.
    int capacity() const { return int(m_slots.size()); }

    /// Binds the required keysyms, waiting out a grace period if it must, and as many
    /// of the wanted ones as are free at once, in one keymap change. False when the
    /// required ones cannot all be bound.
    bool bind(const std::vector<quint32> &required, const std::vector<quint32> &wanted);

    /// The keycode a keysym is bound to.
    std::optional<quint8> keyCodeFor(quint32 keysym) const;

    /// Whether the keycode is one of the spare ones, bound or not.
    bool owns(quint8 keyCode) const;

    /// When a bound keycode was last pressed.
    Clock::time_point lastUse() const;

    /// Notes that the keycode of a keysym has just been pressed.
    void markUsed(quint32 keysym);

    /// Someone else changed the keymap: check the bound keycodes before the next use.
    void invalidate() { m_stale = true; }

    /// Whether the bindings must be checked before they are used.
    bool isStale() const { return m_stale; }

    /// Gives every bound keycode back its empty state.
    void restore();

private:
    struct Slot {
        quint8 keyCode = 0;
        quint32 keysym = 0;
        Clock::time_point lastUsed{};
    };
    struct Edit {
        quint8 keyCode;
        quint32 keysym;
    };

    void rescan();
    void apply(const std::vector<Edit> &edits);
    void applyTo(unsigned deviceSpec, const std::vector<Edit> &edits);
    void findXTestDevice();
    void cleanLeftovers(Leftovers leftovers);
    void writeJournal();

    _XDisplay *m_display;
    std::vector<Slot> m_slots;
    QHash<quint32, int> m_slotOfKeysym;
    int m_groups = 1;
    bool m_stale = false;
    std::optional<unsigned> m_xtestDevice;
};
