#pragma once

#include <QList>
#include <QtGlobal>

#include <functional>
#include <optional>

// A key combination in canonical values: key code plus modifier bits.
struct KeyCombo {
    quint16 keyCode = 0;
    quint64 modifiers = 0;
    friend bool operator==(const KeyCombo &, const KeyCombo &) = default;
};

// A system-wide watcher of key presses. Lives and calls back on the main thread.
class KeyboardTap {
public:
    /// Gets each watched key-down (canonical key code, canonical modifier flags); true swallows it.
    using Handler = std::function<bool(quint16 keyCode, quint64 flags)>;

    virtual ~KeyboardTap() = default;

    /// Starts delivering watched key-downs to the handler; false when the keyboard cannot be watched at all.
    virtual bool install(Handler handler) = 0;

    /// Stops watching and forgets the handler; does nothing when not installed.
    virtual void remove() = 0;

    /// Sets what to watch: these combinations, and Esc with any modifiers when escape is true.
    /// Answers the combinations that another program holds, which therefore cannot be watched.
    virtual QList<KeyCombo> watch(const QList<KeyCombo> &combos, bool escape) = 0;

    /// The canonical key code of a native scan code from a key event of our own windows.
    virtual std::optional<quint16> keyCodeForScanCode(quint32 nativeScanCode) const = 0;
};
