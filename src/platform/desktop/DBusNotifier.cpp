#include "DBusNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

DBusNotifier::DBusNotifier(QDBusConnection bus)
    : m_bus(std::move(bus)), m_lastId(std::make_shared<uint>(0))
{
}

DBusNotifier::~DBusNotifier() = default;

void DBusNotifier::notify(const QString &summary, const QString &body)
{
    if (!m_bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("keyloom")},
                            {QStringLiteral("urgency"), QVariant::fromValue(uchar(1))}};
    call << QStringLiteral("Keyloom") << *m_lastId << QStringLiteral("keyloom") << summary << body
         << QStringList() << hints << -1;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [id = std::weak_ptr<uint>(m_lastId)](QDBusPendingCallWatcher *w) {
                         const QDBusPendingReply<uint> reply = *w;
                         if (const std::shared_ptr<uint> last = id.lock(); last && reply.isValid())
                             *last = reply.value();
                         w->deleteLater();
                     });
}
