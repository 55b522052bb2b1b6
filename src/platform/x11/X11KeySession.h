#pragma once

#include "X11KeyCodes.h"
#include "platform/KeyInjector.h"

#include <QByteArray>
#include <QHash>
#include <QSet>

#include <array>
#include <memory>
#include <optional>
#include <vector>

struct _XDisplay;
class X11SpareKeys;

// One typing run's keyboard on an X connection of its own, used only by the
// thread that opened it. A character that the active group produces on a key
// whose level no current modifier or lock changes goes out on that key; every
// other one on a spare keycode bound to its keysym. Return and Tab use the real keys.
class X11KeySession final : public KeySession {
public:
    /// Connects to the display; null when it cannot be reached or lacks XTEST or XKB.
    static std::unique_ptr<X11KeySession> open(const QByteArray &displayName);
    ~X11KeySession() override;

    bool isKeyDown(quint16 keyCode) override;
    void prepare(QStringView upcoming) override;
    void postKey(quint16 keyCode, bool down, QStringView text) override;

private:
    X11KeySession(_XDisplay *display, int xkbEventBase);

    void drainEvents();
    void fakeKey(quint8 xKeyCode, bool down);
    void typeKeysyms(const std::vector<quint32> &keysyms);
    std::vector<quint32> upcomingKeysyms() const;
    void refreshOwnKeys();
    void readState();
    std::optional<quint8> ownKey(quint32 keysym) const;

    struct OwnKey {
        quint8 keyCode;
        unsigned typeModifiers; // modifiers that would change the key's level
    };

    _XDisplay *m_display;
    int m_xkbEventBase = 0;
    X11KeyCodes m_keyCodes;
    std::unique_ptr<X11SpareKeys> m_spareKeys;
    std::array<QHash<quint32, OwnKey>, 4> m_ownKeys; // per group
    unsigned m_stateModifiers = 0;
    int m_stateGroup = 0;
    QSet<quint8> m_down;
    std::vector<quint32> m_upcoming;
    size_t m_upcomingPos = 0;
};
