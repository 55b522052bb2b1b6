#include "KeystrokeEngine.h"

#include "GraphemeWalker.h"
#include "Pauser.h"
#include "platform/KeyCodes.h"
#include "platform/KeyInjector.h"

#include <QSet>

#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>

namespace KeystrokeEngine {

namespace {

struct ModifierKeys {
    quint64 flag;
    quint16 left;
    quint16 right;
};

// The order in which a run waits on the modifiers' keys.
constexpr ModifierKeys modifierKeys[] = {
    {ModifierFlag::Control, KeyCode::Control, KeyCode::RightControl},
    {ModifierFlag::Command, KeyCode::Command, KeyCode::RightCommand},
    {ModifierFlag::Option, KeyCode::Option, KeyCode::RightOption},
    {ModifierFlag::Shift, KeyCode::Shift, KeyCode::RightShift},
};

// Returns the key that types this cluster by itself, or nothing when it travels as text.
// CR LF counts as one Return so that Windows line ends do not type blank lines.
std::optional<quint16> ownKey(QStringView cluster)
{
    if (cluster == u"\n" || cluster == u"\r" || cluster == u"\r\n")
        return KeyCode::Return;
    if (cluster == u"\t")
        return KeyCode::Tab;
    return std::nullopt;
}

bool anyKeyDown(KeySession &session, const QList<quint16> &keys)
{
    for (quint16 key : keys) {
        if (session.isKeyDown(key))
            return true;
    }
    return false;
}

} // namespace

QList<quint16> keysToWatch(quint16 keyCode, quint64 modifiers)
{
    QList<quint16> keys{keyCode};
    for (const ModifierKeys &m : modifierKeys) {
        if (modifiers & m.flag)
            keys << m.left << m.right;
    }
    return keys;
}

std::chrono::nanoseconds pauseAfterCharacter(double delayMs)
{
    const double ns = delayMs * 1e6;
    // 2^63: the first value that no longer fits; NaN fails the first test too.
    constexpr double limit = 9223372036854775808.0;
    if (!(ns >= 0.0) || ns >= limit)
        return std::chrono::nanoseconds::zero();
    return std::chrono::nanoseconds(static_cast<std::int64_t>(ns));
}

void waitForKeyRelease(KeySession &session, Pauser &pauser, std::stop_token stop, quint16 keyCode,
                       quint64 modifiers, const ReleaseWait &wait)
{
    const QList<quint16> keys = keysToWatch(keyCode, modifiers);
    std::chrono::nanoseconds settle = settlePause;
    std::function<bool()> held;
    if (wait.kind == ReleaseWait::Kind::Signalled && wait.released) {
        // Counted in polls, so a late pause cannot cut the wait short.
        held = [&wait, polls = releaseDeadline / pollInterval]() mutable {
            return !wait.released->load() && polls-- > 0;
        };
    } else if (!session.seesKeys()) {
        // Nothing to poll: a command's keys are still coming up, a menu click has none.
        if (wait.kind == ReleaseWait::Kind::AllKeys)
            settle = session.sharesKeyboard() ? sharedSettle : blindSettle;
    } else if (wait.kind == ReleaseWait::Kind::AllKeys) {
        held = [&] { return session.anyKeyDown(); };
    } else {
        held = [&] { return anyKeyDown(session, keys); };
    }
    // An early end of a pause is ignored here: the stop test after the next poll returns.
    while (held && held()) {
        if (stop.stop_requested())
            return;
        pauser.pause(pollInterval, stop);
    }
    if (stop.stop_requested())
        return;
    pauser.pause(settle, stop);
}

Untyped untypeable(KeySession &session, const QString &text, std::stop_token stop)
{
    Untyped untyped;
    if (session.allTypeable(text))
        return untyped;
    // The menu shows the first of them; a few dozen say enough.
    constexpr qsizetype shown = 40;
    QSet<QStringView> seen;
    GraphemeWalker walker(text);
    for (int n = 0; const std::optional<QStringView> cluster = walker.next(); ++n) {
        if (n % 4096 == 0 && stop.stop_requested())
            return {};
        const std::optional<Untypeable> reason = ownKey(*cluster) ? std::nullopt
                                                                   : session.untypeable(*cluster);
        if (!reason)
            continue;
        if (untyped.count++ == 0)
            untyped.reason = *reason;
        if (seen.size() < shown && !seen.contains(*cluster)) {
            seen.insert(*cluster);
            untyped.characters += (untyped.characters.isEmpty() ? QString() : QStringLiteral(" ")) +
                                  cluster->toString();
        }
    }
    return untyped;
}

TypingEnd typeText(KeySession &session, Pauser &pauser, std::stop_token stop, QString text,
                   double delayMs, bool leaveOut)
{
    const TypingEnd stopped{{ClusterEnd::Kind::Stopped}, {}, false};
    const std::chrono::nanoseconds pause = pauseAfterCharacter(delayMs);
    const QStringView all(text);
    GraphemeWalker walker(text);
    qsizetype prepared = 0;
    for (;;) {
        if (stop.stop_requested())
            return stopped;
        const std::optional<QStringView> cluster = walker.next();
        if (!cluster)
            return {};
        // Hand the session each newly scanned window before its first character is typed.
        if (walker.position() > prepared) {
            const qsizetype start = walker.position() - cluster->size();
            prepared = walker.scannedEnd();
            session.prepare(all.sliced(start, prepared - start));
        }
        const std::optional<quint16> key = ownKey(*cluster);
        const ClusterEnd end = key ? session.pressKey(*key) : session.typeCluster(*cluster);
        if (end.kind == ClusterEnd::Kind::NotTypeable && leaveOut)
            continue; // the user chose to have these left out
        if (end.kind == ClusterEnd::Kind::NotTypeable)
            return {end, {1, cluster->toString(), end.reason}, false};
        if (end.kind != ClusterEnd::Kind::Typed)
            return {end, {}, false};
        const std::chrono::nanoseconds spent = session.takeTimeSpent();
        if (!pauser.pause(spent < pause ? pause - spent : std::chrono::nanoseconds::zero(), stop))
            return stopped;
    }
}

} // namespace KeystrokeEngine
