#pragma once

#include "ExtraKeyPool.h"

#include <QtGlobal>

#include <cstdint>
#include <optional>
#include <vector>

struct xkb_keymap;

// What a desktop must do for planned typing: read the keyboard, commit keymap edits,
// send key events. Key codes are XKB's. Everything else (what to press, in which order,
// with which shift keys, when to check for a stop) is the session's, the same everywhere.
class KeyBackend {
public:
    using Keycode = std::uint32_t;

    // How the extra keys' levels are chosen: a one-level key gives its keysym whatever is
    // held; an alphabetic one has Shift (and, with four levels, level 3) select the level and
    // CapsLock flip the first two.
    struct ExtraKeyType {
        int levels = 1;
        bool alphabetic = false;
    };

    virtual ~KeyBackend() = default;

    /// Takes in what the desktop has said since the last call (keymap changes, say); false
    /// once it can no longer be reached.
    virtual bool refresh() = 0;

    /// The layout to plan on, extra keys aside; null when there is none. A new one comes with
    /// a new serial.
    virtual xkb_keymap *keymap() const = 0;
    virtual std::uint64_t keymapSerial() const = 0;

    /// The effective layout and the locked modifiers.
    virtual std::pair<std::uint32_t, std::uint32_t> layoutAndLocks() { return {0, 0}; }

    /// Every key down now, the session's own included; false from seesKeys() where hidden.
    virtual std::vector<Keycode> keysDown() { return {}; }
    virtual bool seesKeys() const { return false; }
    /// Whether the keys join the seat's one keyboard (see KeySession).
    virtual bool sharesKeyboard() const { return false; }

    /// The key code at a canonical key position.
    virtual std::optional<Keycode> keycodeOf(quint16 canonical) const
    {
        (void)canonical;
        return std::nullopt;
    }

    /// Whether the focused window forwards key codes to a guest (a VM console, a remote
    /// desktop): then only keys a PC keyboard has reach it, and no extra key does.
    virtual bool forwardsKeys() const { return false; }

    /// The extra keys, kept in step with the keymap by refresh() and commit().
    virtual ExtraKeyPool &pool() = 0;
    virtual ExtraKeyType extraKeyType() const = 0;

    /// The real modifiers of the layout's Shift and level-3 keys, told after each new keymap.
    virtual void useShiftMasks(unsigned shift, unsigned level3)
    {
        (void)shift;
        (void)level3;
    }

    /// Puts the edits into the keymap in force and into the pool; false when the desktop
    /// refused or failed any of it, the pool then holding only what is sure to be in force.
    virtual bool commit(const std::vector<ExtraKeyPool::Edit> &edits) = 0;

    virtual void sendKey(Keycode keycode, bool down) = 0;

    /// Sends what is buffered; with wait, until the desktop has handled it. False once lost.
    virtual bool flush(bool wait) = 0;

    /// Called again and again while an extra key waits for the window to handle its last
    /// press: asks the window how far it has got, where it can tell (see ExtraKeyPool).
    virtual void awaitWindow() {}

    /// True once the desktop is gone: nothing more can be sent.
    virtual bool lost() const { return false; }
};
