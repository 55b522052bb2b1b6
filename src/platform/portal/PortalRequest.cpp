#include "PortalRequest.h"

#include <QDBusObjectPath>
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
