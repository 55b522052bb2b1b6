#pragma once

#include "X11KeyCodes.h"
#include "platform/KeyInjector.h"

#include <QByteArray>
#include <QSet>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

struct _XDisplay;
struct xkb_context;
class KeyPlanner;
class X11SpareKeys;

// One typing run's keyboard on an X connection of its own, used only by the
// thread that opened it. A character that a key of the active group types goes
// out on that key, with the real Shift and AltGr keys held around it as a person
// would, so that viewers which forward key codes receive it too; only the
// characters the layout lacks use spare keycodes bound to them.
class X11KeySession final : public KeySession {
public:
    /// Connects to the display (or adopts the previous run's connection and spare keys);
    /// null when it cannot be reached or lacks XTEST or XKB.
    static std::unique_ptr<X11KeySession> open(const QByteArray &displayName);
    ~X11KeySession() override;

    bool isKeyDown(quint16 keyCode) override;
    bool anyKeyDown() override;
    void prepare(QStringView upcoming) override;
    void postKey(quint16 keyCode, bool down, QStringView text) override;
    void watchStop(std::stop_token stop) override { m_stop = std::move(stop); }
    std::chrono::nanoseconds takeTimeSpent() override;

private:
    X11KeySession(_XDisplay *display, QByteArray displayName, int xkbEventBase,
                  std::unique_ptr<X11SpareKeys> adopted);

    struct Step {
        quint8 keyCode = 0;
        unsigned shifts = 0;
        quint32 spareKeysym = 0; // set when the key is a spare one
    };

    /// Reads pending events; true when the layout changed and was loaded again.
    bool drainEvents();
    void loadKeymap();
    void readState();
    void fakeKey(quint8 xKeyCode, bool down);
    void holdShifts(unsigned shifts);
    void typeKeysyms(const std::vector<quint32> &keysyms);
    std::optional<Step> plan(quint32 keysym);
    std::vector<quint32> upcomingKeysyms(unsigned levels) const;

    _XDisplay *m_display;
    QByteArray m_displayName;
    int m_xkbEventBase = 0;
    std::stop_token m_stop;
    X11KeyCodes m_keyCodes;
    std::unique_ptr<X11SpareKeys> m_spareKeys;
    xkb_context *m_xkbContext = nullptr;
    std::int32_t m_xkbDevice = -1;
    std::unique_ptr<KeyPlanner> m_planner;
    unsigned m_heldMods = 0; // modifiers of keys someone else holds
    unsigned m_lockedMods = 0;
    unsigned m_levels = 1;      // spare levels reachable in the current state
    QSet<quint8> m_down;        // keys this session holds
    quint8 m_shiftDown[3] = {}; // the key held for each shift bit, or 0
    std::vector<quint32> m_upcoming;
    size_t m_upcomingPos = 0;
    std::chrono::steady_clock::duration m_spent{};
};
