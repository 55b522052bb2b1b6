#include "PortalKeyInjector.h"

#include "GnomeInputSources.h"
#include "PortalRemoteDesktop.h"
#include "PortalRequest.h"
#include "platform/wayland/WaylandSeatKeymap.h"
#include "platform/xkb/KeyBackend.h"
#include "platform/xkb/PlannedKeySession.h"

#include <QDBusReply>

#include <xkbcommon/xkbcommon.h>

#include <set>

namespace {

const QString remoteInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
// A portal that has not handled a key for this long is taken as gone.
constexpr int answerTimeoutMs = 5000;

// The layout group in force. The compositor tells it only to the focused window; KDE tells
// it on the bus (where more than one layout is set up, else it is the first), GNOME through
// its input-sources settings.
std::uint32_t activeLayout(const QDBusConnection &bus)
{
    // Asked of the session's own desktop only: others may keep GNOME's settings installed, with
    // sources that do not apply.
    const QStringList desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':');
    if (desktops.contains(QLatin1String("GNOME"), Qt::CaseInsensitive))
        return gnome::activeLayoutGroup().value_or(0);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.keyboard"), QStringLiteral("/Layouts"),
        QStringLiteral("org.kde.KeyboardLayouts"), QStringLiteral("getLayout"));
    const QDBusReply<uint> reply = bus.call(call, QDBus::Block, 1000);
    return reply.isValid() ? reply.value() : 0;
}

// The locked modifiers in force. Only KWin tells them to a program without the focus; elsewhere
// they are taken as off.
std::uint32_t lockedModifiers(xkb_keymap *keymap, const std::optional<wayland::LockStates> &states)
{
    if (!states)
        return 0;
    const auto mask = [keymap](const char *name) {
        const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, name);
        return index == XKB_MOD_INVALID ? 0u : 1u << index;
    };
    return (states->capsLock ? mask(XKB_MOD_NAME_CAPS) : 0) | (states->numLock ? mask(XKB_MOD_NAME_NUM) : 0);
}

class PortalKeyBackend final : public KeyBackend {
public:
    PortalKeyBackend(std::shared_ptr<const PortalRemoteDesktop::Grant> grant, xkb_keymap *keymap,
                     std::uint32_t layout, std::uint32_t locks)
        : m_grant(std::move(grant)), m_keymap(keymap), m_layout(layout), m_locks(locks)
    {
    }
    ~PortalKeyBackend() override
    {
        // Never leave a key of ours down on the seat.
        for (Keycode keycode : std::set(m_down))
            sendKey(keycode, false);
        xkb_keymap_unref(m_keymap);
    }

    bool refresh() override { return !lost(); }
    bool sharesKeyboard() const override { return true; }
    xkb_keymap *keymap() const override { return m_keymap; }
    std::uint64_t keymapSerial() const override { return 1; }
    std::pair<std::uint32_t, std::uint32_t> layoutAndLocks() override { return {m_layout, m_locks}; }
    ExtraKeyPool &pool() override { return m_pool; }
    ExtraKeyType extraKeyType() const override { return {1, false}; }
    bool commit(const std::vector<ExtraKeyPool::Edit> &edits) override { return edits.empty(); }

    void sendKey(Keycode keycode, bool down) override
    {
        if (keycode < 8 || lost())
            return;
        // The portal takes evdev codes, XKB's less 8.
        QDBusMessage call = QDBusMessage::createMethodCall(
            portal::service, portal::path, remoteInterface,
            QStringLiteral("NotifyKeyboardKeycode"));
        call << QVariant::fromValue(QDBusObjectPath(m_grant->session)) << QVariantMap()
             << int(keycode - 8) << uint(down ? 1 : 0);
        // The portal hands each call to a thread of its own, so calls sent back to back reach
        // the desktop in any order (a key's release before its press): one at a time.
        const QDBusMessage reply = m_grant->bus.call(call, QDBus::Block, answerTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage)
            m_lost = true;
        if (down)
            m_down.insert(keycode);
        else
            m_down.erase(keycode);
    }

    bool flush(bool) override { return !lost(); }

    bool lost() const override { return m_lost || m_grant->ended; }

private:
    std::shared_ptr<const PortalRemoteDesktop::Grant> m_grant;
    xkb_keymap *m_keymap;
    std::uint32_t m_layout;
    std::uint32_t m_locks;
    ExtraKeyPool m_pool; // never holds a key: the compositor's keymap is not ours to change
    std::set<Keycode> m_down;
    bool m_lost = false;
};

} // namespace

PortalKeyInjector::PortalKeyInjector(PortalRemoteDesktop &remote, QByteArray displayName)
    : m_remote(remote), m_displayName(std::move(displayName))
{
}

std::unique_ptr<KeySession> PortalKeyInjector::open(KeyForwarding)
{
    std::shared_ptr<const PortalRemoteDesktop::Grant> grant = m_remote.grant();
    if (!grant) {
        m_remote.ask();
        return nullptr;
    }
    const wayland::SeatState seat = wayland::seatState(m_displayName);
    const std::optional<std::string> &text = seat.keymap;
    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    xkb_keymap *keymap = text && context ? xkb_keymap_new_from_string(context, text->c_str(),
                                                                      XKB_KEYMAP_FORMAT_TEXT_V1,
                                                                      XKB_KEYMAP_COMPILE_NO_FLAGS)
                                         : nullptr;
    xkb_context_unref(context);
    if (!keymap)
        return nullptr;
    const std::uint32_t layout = activeLayout(grant->bus) % xkb_keymap_num_layouts(keymap);
    return std::make_unique<PlannedKeySession>(std::make_unique<PortalKeyBackend>(
        std::move(grant), keymap, layout, lockedModifiers(keymap, seat.locks)));
}
