#pragma once

#include <QString>

// The desktop's notifications, which reach the user where no tray icon shows. Notification
// services keep a history and may show it on the lock screen: nothing typed goes in here.
class Notifier {
public:
    virtual ~Notifier() = default;

    /// Shows a notification, replacing the one shown before; never waits for the service.
    virtual void notify(const QString &summary, const QString &body) = 0;
};
