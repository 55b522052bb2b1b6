#pragma once

#include "X11KeyCodes.h"
#include "platform/KeyInjector.h"
#include "platform/xkb/KeyBackend.h"

#include <QByteArray>

#include "X11SpareKeys.h"
#include "X11WindowPing.h"

#include <memory>

struct _XDisplay;
struct xkb_context;

// One typing run's keyboard on an X connection of its own, used only by the thread that
// opened it: XTEST key events, the server's keymap and key state, and its spare keycodes as
// extra keys.
class X11KeyBackend final : public KeyBackend {
public:
    /// Connects to the display (or adopts the previous run's connection and spare keys);
    /// null when it cannot be reached or lacks XTEST or XKB. The focused window is looked at
    /// now, as the run's keys go to it.
    static std::unique_ptr<X11KeyBackend> open(const QByteArray &displayName,
                                               KeyForwarding forwarding);
    ~X11KeyBackend() override;

    bool refresh() override;
    xkb_keymap *keymap() const override { return m_keymap; }
    std::uint64_t keymapSerial() const override { return m_serial; }
    std::pair<std::uint32_t, std::uint32_t> layoutAndLocks() override;
    std::vector<Keycode> keysDown() override;
    bool seesKeys() const override { return true; }
    bool forwardsKeys() const override { return m_forwardsKeys; }
    std::optional<Keycode> keycodeOf(quint16 canonical) const override;
    ExtraKeyPool &pool() override { return m_spareKeys->pool(); }
    ExtraKeyType extraKeyType() const override { return {m_spareKeys->levels(), true}; }
    void useShiftMasks(unsigned shift, unsigned level3) override
    {
        m_spareKeys->setModifiers(shift, level3);
    }
    bool commit(const std::vector<ExtraKeyPool::Edit> &edits) override;
    void sendKey(Keycode keycode, bool down) override;
    bool flush(bool wait) override;
    void awaitWindow() override;

private:
    X11KeyBackend(_XDisplay *display, QByteArray displayName, int xkbEventBase,
                  std::unique_ptr<X11SpareKeys> adopted);

    /// Reads pending events; true when the layout changed and was loaded again.
    bool drainEvents();
    void loadKeymap();

    _XDisplay *m_display;
    QByteArray m_displayName;
    int m_xkbEventBase = 0;
    X11KeyCodes m_keyCodes;
    std::unique_ptr<X11SpareKeys> m_spareKeys;
    xkb_context *m_xkbContext = nullptr;
    std::int32_t m_xkbDevice = -1;
    xkb_keymap *m_keymap = nullptr;
    std::uint64_t m_serial = 0;
    std::vector<Keycode> m_down; // keys this session holds
    bool m_forwardsKeys = false;
    std::unique_ptr<X11WindowPing> m_ping; // null: the window does not tell
};
