#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class DisplayOwnership;
class QLocalServer;

// Keeps one Keyloom per user and display: the first one holds a lock file and
// listens on a local socket beside it in the user's runtime directory; a later
// one asks it to open its settings window instead of running itself. With a
// display to ask, the display's own record of its instance decides, since one
// display goes by several names.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    /// The per-user, per-display path both the lock and the socket derive from.
    static QString defaultBasePath();

    /// The display, when given, must outlive this object.
    explicit SingleInstance(const QString &basePath = defaultBasePath(),
                            DisplayOwnership *display = nullptr, QObject *parent = nullptr);
    ~SingleInstance() override;

    /// Becomes the running instance and starts listening; false when another one already runs.
    bool claim();

    /// Asks the running instance to open its settings window; true once it has acknowledged.
    bool askRunningToOpenSettings(std::chrono::milliseconds deadline = std::chrono::seconds(10));

    QString socketPath() const { return m_basePath + QStringLiteral(".socket"); }

signals:
    /// Another start of the program asked for the settings window.
    void settingsRequested();

private:
    void acceptConnections();
    QString runningSocketPath();

    QString m_basePath;
    DisplayOwnership *m_display;
    QLockFile m_lock;
    std::unique_ptr<QLocalServer> m_server;
};
