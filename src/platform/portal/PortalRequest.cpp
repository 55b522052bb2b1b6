#include "PortalRequest.h"

#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QVariantMap>

#include <atomic>

QString portal::newToken()
{
    // Tokens name request and session objects, so they must differ across everything that asks
    // on a connection.
    static std::atomic<int> counter = 0;
    return QStringLiteral("keyloom%1").arg(++counter);
}

QString portal::requestPath(const QDBusConnection &bus, const QString &token)
{
    return path + QStringLiteral("/request/") + bus.baseService().mid(1).replace(u'.', u'_') +
           u'/' + token;
}

QString portal::sessionHandle(const QVariantMap &results)
{
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    return handle.metaType() == QMetaType::fromType<QDBusObjectPath>()
               ? handle.value<QDBusObjectPath>().path()
               : handle.toString();
}

void portal::readUInt(const QDBusConnection &bus, const QString &interface, const QString &property,
                      QObject *context, std::function<void(std::optional<uint>)> answer)
{
    if (!bus.isConnected()) {
        QMetaObject::invokeMethod(context, [answer] { answer(std::nullopt); }, Qt::QueuedConnection);
        return;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interface << property;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(get, 25000), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [answer = std::move(answer)](QDBusPendingCallWatcher *w) {
                         w->deleteLater();
                         const QDBusPendingReply<QDBusVariant> reply = *w;
                         answer(reply.isError() ? std::nullopt
                                                : std::optional(reply.value().variant().toUInt()));
                     });
}
