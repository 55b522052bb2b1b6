#pragma once

#include "platform/xkb/ExtraKeyPool.h"

#include <QSet>
#include <QtGlobal>

#include <array>
#include <optional>
#include <vector>

struct _XDisplay;

// The keycodes that carry no symbols in the current keymap, lent out as extra keys to the
// characters no key of the layout types. Each keycode carries up to four keysyms, on the
// levels that Shift and the level-3 shift select, under an alphabetic key type that consumes
// CapsLock (so nothing is capitalised) and ignores NumLock; one keymap change binds many
// characters at once. Which character goes where is the pool's choice.
//
// Every change is a read-modify-write under a server grab: a keycode is changed only while
// it still holds what this object last put there, so another client's change always wins.
// Every keycode bound is listed on the root window with an owner, a selection that this
// object's connection holds while it has keys bound; an entry whose owner is gone is a
// dead instance's, and the next start undoes it.
class X11SpareKeys {
public:
    static constexpr int maxLevels = 4;
    using Keysyms = std::array<quint32, maxLevels>;

    /// Whose keymap changes listed on the root window a new instance undoes.
    enum class Leftovers { OfEndedProcesses, AlsoOfThisProcess };

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

    /// Levels per keycode: 1, 2 or 4.
    int levels() const;

    /// Whether every keycode of the range is a spare one.
    bool ownsAll(unsigned first, unsigned count) const;

    ExtraKeyPool &pool() { return m_pool; }

    /// Someone changed the keymap: check the keycodes before the next use.
    void invalidate() { m_stale = true; }
    bool isStale() const { return m_stale; }
    /// Reads which keycodes are spare and which still hold our keysyms, into the pool.
    void rescan();

    /// Writes the edits; false when any of them did not take (a keycode taken by someone else,
    /// an error), the pool then holding what is in force.
    bool apply(const std::vector<ExtraKeyPool::Edit> &edits);

    /// Gives back at once the keycodes bound but never pressed: no client has used them.
    void releaseUnused();

    /// Gives every bound keycode back its empty state.
    void restore();

private:
    Keysyms levelsOf(quint8 keyCode, const std::vector<ExtraKeyPool::Edit> &edits = {}) const;
    void record(const QSet<long> &keyCodes);
    void claimOwner();

    _XDisplay *m_display;
    ExtraKeyPool m_pool;
    std::vector<quint8> m_keyCodes;
    QHash<quint8, Keysyms> m_written; // what each bound keycode holds as we wrote it
    int m_groups = 1;
    bool m_stale = false;
    std::optional<unsigned> m_xtestDevice;
    unsigned long m_owner = 0;       // the selection naming this object in the record
    unsigned long m_ownerWindow = 0; // its owner window
    unsigned m_shift = 0;
    unsigned m_level3 = 0;
    bool m_fourLevels = false;
};
