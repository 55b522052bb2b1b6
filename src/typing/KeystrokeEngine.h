#pragma once

#include "ReleaseWait.h"
#include "platform/KeyInjector.h"

#include <QList>
#include <QString>

#include <chrono>
#include <stop_token>

class Pauser;

// The characters of a text that cannot be typed here.
struct Untyped {
    int count = 0;      // characters, each occurrence counted
    QString characters; // each distinct one once, in order, space-separated
    Untypeable reason = Untypeable::NoKey; // why the first cannot
};

// How typing a text ended: typed whole, stopped, the desktop lost, or at a character that
// cannot be typed here (then nothing after it is typed either, so the text has no hole).
struct TypingEnd {
    ClusterEnd end;
    Untyped untyped;           // with NotTypeable: what was not typed
    bool nothingTyped = false; // with NotTypeable: found before the first character
};

namespace KeystrokeEngine {

inline constexpr std::chrono::nanoseconds pollInterval = std::chrono::milliseconds(5);
inline constexpr std::chrono::nanoseconds settlePause = std::chrono::milliseconds(20);
// Where the key state is hidden and nobody reports the release: a command's keys may still be
// coming up. On sway another keyboard's held modifiers never reach a virtual keyboard's keys
// (measured clean with no wait at all); this leaves the compositor time to switch keymaps
// as they come up.
inline constexpr std::chrono::nanoseconds blindSettle = std::chrono::milliseconds(50);
// The same where the keys join the seat's one keyboard, so a Super still held would turn the
// first letter into a desktop shortcut: time for a person to let go of a shortcut they pressed.
inline constexpr std::chrono::nanoseconds sharedSettle = std::chrono::milliseconds(500);
// A release that is reported but never comes does not hold a run for longer than this.
inline constexpr std::chrono::nanoseconds releaseDeadline = std::chrono::seconds(1);

/// The keys a run waits on: the shortcut's key, then both keys of each modifier it uses.
QList<quint16> keysToWatch(quint16 keyCode, quint64 modifiers);

/// The pause after one character: delay × 1,000,000 ns, truncated; 0 for a delay that is not a sane
/// number.
std::chrono::nanoseconds pauseAfterCharacter(double delayMs);

/// Returns once the keys the wait names are up and the settle pause is over, or on a stop request.
void waitForKeyRelease(KeySession &session, Pauser &pauser, std::stop_token stop, quint16 keyCode,
                       quint64 modifiers, const ReleaseWait &wait = {});

/// What of the text cannot be typed here; nothing counted once a stop is requested.
Untyped untypeable(KeySession &session, const QString &text, std::stop_token stop);

/// Types the text one key press per user-perceived character, pausing after each; stops on
/// request. A character that cannot be typed ends it, or with leaveOut is passed over.
TypingEnd typeText(KeySession &session, Pauser &pauser, std::stop_token stop, QString text,
                   double delayMs, bool leaveOut = false);

} // namespace KeystrokeEngine
