#pragma once

#include "X11KeyCodes.h"
#include "X11Modifiers.h"
#include "platform/KeyboardTap.h"

#include <QByteArray>

#include <memory>
#include <vector>

struct _XDisplay;
class QSocketNotifier;

// Global shortcuts on X11: passive grabs on the root window, on an X connection
// of the tap's own that the Qt event loop watches. Each grab is synchronous, so
// the handler's answer decides per press whether the key is swallowed or
// replayed to the focused window; the frozen keyboard is released at once.
class X11KeyboardTap final : public KeyboardTap {
public:
    /// Connects to the display named by $DISPLAY.
    X11KeyboardTap();
    /// Connects to the named display, e.g. ":1".
    explicit X11KeyboardTap(const QByteArray &displayName);
    ~X11KeyboardTap() override;

    X11KeyboardTap(const X11KeyboardTap &) = delete;
    X11KeyboardTap &operator=(const X11KeyboardTap &) = delete;

    bool install(Handler handler) override;
    void remove() override;
    QList<KeyCombo> watch(const QList<KeyCombo> &combos, bool escape) override;
    std::optional<quint16> keyCodeForScanCode(quint32 nativeScanCode) const override;

private:
    struct Grab {
        quint8 keyCode;
        unsigned modifiers; // AnyModifier for Esc
        friend bool operator==(const Grab &, const Grab &) = default;
    };

    std::vector<Grab> wantedGrabs() const;
    void regrab();
    void ungrabAll();
    void processEvents();
    void scheduleProcessing();

    _XDisplay *m_display = nullptr;
    bool m_hasXTest = false;
    int m_xkbEventBase = -1;
    X11KeyCodes m_keyCodes;
    X11Modifiers m_modifiers;
    std::unique_ptr<QSocketNotifier> m_notifier;
    Handler m_handler;
    QList<KeyCombo> m_combos;
    bool m_escape = false;
    std::vector<Grab> m_grabs; // as asked for, before the lock variants
    QList<KeyCombo> m_taken;
};
