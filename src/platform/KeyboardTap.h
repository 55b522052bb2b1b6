#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>
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

    /// How the shortcuts reach the handler: keys grabbed by us, shortcuts the desktop binds
    /// for us (where the user may change their keys), or none at all, where the user binds
    /// `keyloom --toggle` in the desktop's own settings.
    enum class Binding { Grabbed, DesktopBound, Unbound };
    virtual Binding binding() const { return Binding::Grabbed; }

    /// Whether watch() can see Esc; where it cannot, a run stops only through the shortcut and the
    /// tray menu.
    virtual bool watchesEscape() const { return binding() == Binding::Grabbed; }

    /// What keeps the shortcuts from working, and what the user can do, in one line; empty
    /// while they work.
    virtual QString problem() const { return {}; }

    /// Called on the main thread whenever problem() changes.
    std::function<void()> problemChanged;

    /// During a handler call: a flag the tap sets once the keys of that press are up, where it
    /// learns of releases itself; null where the run asks the key state instead.
    virtual std::shared_ptr<const std::atomic<bool>> releaseOfCurrentPress() const
    {
        return nullptr;
    }
};
