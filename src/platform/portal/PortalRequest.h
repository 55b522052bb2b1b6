#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// The portal's request objects: each call names one by a token, and its answer comes as that
// object's Response signal, listened to before the call so it cannot be missed.
namespace portal {

inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
inline const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
inline const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");

/// A token no other request or session of this process has used.
QString newToken();

/// The path the portal gives the request made with the token on this connection.
QString requestPath(const QDBusConnection &bus, const QString &token);

/// The session handle in a CreateSession answer, sent as a string or as an object path
/// depending on the portal's version.
QString sessionHandle(const QVariantMap &results);

/// Reads an unsigned property of a portal interface without waiting for it (the portal may
/// have to be started first): the answer, nothing on an error, comes on the context's thread,
/// and not at all once the context is gone.
void readUInt(const QDBusConnection &bus, const QString &interface, const QString &property,
              QObject *context, std::function<void(std::optional<uint>)> answer);

} // namespace portal
