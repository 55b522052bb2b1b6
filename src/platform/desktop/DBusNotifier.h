#pragma once

#include "platform/Notifier.h"

#include <QDBusConnection>

#include <memory>

// Notifications through the desktop's notification service (org.freedesktop.Notifications on
// the session bus). Calls never block: a service that is missing or slow just shows nothing.
class DBusNotifier final : public Notifier {
public:
    explicit DBusNotifier(QDBusConnection bus = QDBusConnection::sessionBus());
    ~DBusNotifier() override;

    void notify(const QString &summary, const QString &body) override;

private:
    QDBusConnection m_bus;
    std::shared_ptr<uint> m_lastId; // the service's id of our last notification, to replace it
};
