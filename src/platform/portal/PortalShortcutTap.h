#pragma once

#include "platform/KeyboardTap.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QVariantMap>

#include <functional>
#include <memory>

class XkbKeyCodes;
struct xkb_keymap;

// Global shortcuts through the desktop portal (org.freedesktop.portal.GlobalShortcuts), for
// desktops where no client may grab keys. The desktop binds the shortcuts, may let the user
// change their keys, and tells us when they go down and up; Esc cannot be watched. Every
// portal call is asynchronous: the main thread never waits on the portal, and a failure
// arrives later as one line on stdout.
class PortalShortcutTap final : public QObject, public KeyboardTap {
    Q_OBJECT

public:
    /// One shortcut as BindShortcuts takes it: an id and its properties.
    struct Shortcut {
        QString id;
        QVariantMap properties;
    };

    /// The ids of the shortcuts for the watched combinations, in their order.
    static constexpr const char *shortcutIds[] = {"type", "previous"};

    explicit PortalShortcutTap(QDBusConnection bus = QDBusConnection::sessionBus());
    ~PortalShortcutTap() override;

    PortalShortcutTap(const PortalShortcutTap &) = delete;
    PortalShortcutTap &operator=(const PortalShortcutTap &) = delete;

    /// Asks whether the portal answers on the bus and offers global shortcuts, never waiting
    /// for it (it may have to be started): the answer comes later, on the context's thread, and
    /// not at all once the context is gone.
    static void probe(QObject *context, std::function<void(bool)> answer,
                      QDBusConnection bus = QDBusConnection::sessionBus());

    /// The combination in the XDG shortcut format, e.g. "CTRL+LOGO+semicolon", naming the key
    /// as the us layout does; empty when the key has no name there.
    QString trigger(const KeyCombo &combo) const;

    bool install(Handler handler) override;
    void remove() override;
    /// Binds the combinations; Esc cannot be bound and is ignored. Nothing is known to be taken:
    /// the portal does not say which keys other programs hold.
    QList<KeyCombo> watch(const QList<KeyCombo> &combos, bool escape) override;
    std::optional<quint16> keyCodeForScanCode(quint32 nativeScanCode) const override;
    Binding binding() const override { return Binding::DesktopBound; }
    std::shared_ptr<const std::atomic<bool>> releaseOfCurrentPress() const override
    {
        return m_currentRelease;
    }

    QString problem() const override { return m_problem; }

private slots:
    void onResponse(uint response, const QVariantMap &results, const QDBusMessage &message);
    // Activated and Deactivated: session handle, shortcut id, timestamp, options.
    void onShortcut(const QDBusMessage &message);
    void onSessionClosed(const QDBusMessage &message);

private:
    void setProblem(const QString &problem);
    QString request(const QString &method, QVariantList arguments, QVariantMap options);
    void listen(const QString &requestPath, bool on);
    void listenToShortcuts(bool on);
    void startSession();
    void closeSession();
    void bind();
    QList<Shortcut> shortcuts() const;

    QDBusConnection m_bus;
    std::shared_ptr<xkb_keymap> m_keymap; // us layout, evdev keycodes
    std::unique_ptr<XkbKeyCodes> m_keyCodes;
    Handler m_handler;
    bool m_installed = false;
    QList<KeyCombo> m_combos;
    // The current session: its creation request until the portal answers, then its handle,
    // the request binding the combinations, and the combinations it binds.
    QString m_createRequest;
    QString m_session;
    QString m_problem;
    QString m_bindRequest;
    std::optional<QList<KeyCombo>> m_bound;
    QList<KeyCombo> m_created; // the combinations the session was created with
    bool m_desktopKeeps = false;   // the desktop took them with the session
    int m_sessions = 0;
    // Creation requests of sessions no longer wanted, closed as soon as the portal answers.
    QSet<QString> m_abandoned;
    // The release flag of each shortcut that is down, and of the one being handled.
    QHash<QString, std::shared_ptr<std::atomic<bool>>> m_down;
    std::shared_ptr<std::atomic<bool>> m_currentRelease;
};

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcutTap::Shortcut &shortcut);
const QDBusArgument &operator>>(const QDBusArgument &argument,
                                PortalShortcutTap::Shortcut &shortcut);

Q_DECLARE_METATYPE(PortalShortcutTap::Shortcut)
