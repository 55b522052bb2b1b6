#pragma once

#include <QStringView>
#include <QtGlobal>

#include <chrono>
#include <memory>
#include <optional>
#include <stop_token>

// Why a character cannot be typed here.
enum class Untypeable {
    NoKey,           // no key of the layout gives it, and no extra key can be had here
    TooManyDistinct, // one character needs more distinct extra keys than there are
    KeymapRefused,   // the desktop refused or failed the keymap change that binds it
    KeysOnly,        // the window forwards key codes, and no key or dead key gives it
};

// Whether the focused window is typed into as one that forwards key codes to a guest.
enum class KeyForwarding {
    Automatic,   // when it is a known VM console or remote-desktop viewer
    EveryWindow, // browser consoles, viewers not known
    NoWindow,
};

// How typing one character (or pressing one key) ended.
struct ClusterEnd {
    enum class Kind { Typed, NotTypeable, Stopped, Lost };
    Kind kind = Kind::Typed;
    Untypeable reason = Untypeable::NoKey; // with NotTypeable
    bool operator==(const ClusterEnd &) const = default;
};

// One typing run's access to the keyboard. Created, used and destroyed on the
// run's worker thread; destroying it releases every key it pressed and undoes
// every change it made to the desktop (keymap entries and the like).
class KeySession {
public:
    virtual ~KeySession() = default;

    /// True while the key with this canonical code is physically held down.
    virtual bool isKeyDown(quint16 keyCode) = 0;

    /// True while any key other than a lock is physically held down (keys the session itself
    /// presses do not count).
    virtual bool anyKeyDown() = 0;

    /// Whether the key state above is the keyboard's; where the desktop hides it (Wayland),
    /// a run learns of a release from its trigger or waits a settle instead.
    virtual bool seesKeys() const { return true; }

    /// Whether the keys join the seat's one keyboard, so that keys the user still holds (a
    /// shortcut's Super) apply to them.
    virtual bool sharesKeyboard() const { return false; }

    /// A quick test over a whole text: true when every character of it can be typed here as
    /// things stand. False only means that untypeable() must be asked character by character.
    virtual bool allTypeable(QStringView text)
    {
        (void)text;
        return true;
    }

    /// Why this one character cannot be typed here, or nothing when it can.
    virtual std::optional<Untypeable> untypeable(QStringView cluster)
    {
        (void)cluster;
        return std::nullopt;
    }

    /// Hint that these characters will be typed soon, so the session can prepare them in one go.
    virtual void prepare(QStringView upcoming) = 0;

    /// Types one user-perceived character whole, its code points back to back; nothing of it
    /// is typed when it ends as not typeable.
    virtual ClusterEnd typeCluster(QStringView cluster) = 0;

    /// Presses and releases a key that is no character (Return, Tab), by canonical code.
    virtual ClusterEnd pressKey(quint16 keyCode) = 0;

    /// The run's stop: waits inside the session end when it is requested, and nothing
    /// more is typed after it.
    virtual void watchStop(std::stop_token stop) { (void)stop; }

    /// Time the key events since the last call took, on purpose (modifier keys settling)
    /// or in transit; it comes out of the pause that follows, so the pace holds.
    virtual std::chrono::nanoseconds takeTimeSpent() { return {}; }
};

// Synthetic keyboard input into whatever window has the focus.
class KeyInjector {
public:
    virtual ~KeyInjector() = default;

    /// Opens a session for one run on the calling thread, for the window focused now; null
    /// when the desktop cannot be reached.
    std::unique_ptr<KeySession> openSession(KeyForwarding forwarding = KeyForwarding::Automatic)
    {
        return open(forwarding);
    }

    /// Whether Automatic can tell a viewer's window from others here.
    virtual bool knowsFocusedWindow() const { return false; }

protected:
    virtual std::unique_ptr<KeySession> open(KeyForwarding forwarding) = 0;
};
