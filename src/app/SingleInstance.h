#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class QLocalServer;

// Keeps one Keyloom per user and display: the first one holds a lock file and
// listens on a local socket beside it in the user's runtime directory; a later
// one asks it to open its settings window instead of running itself.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    /// The per-user, per-display path both the lock and the socket derive from.
    static QString defaultBasePath();

    explicit SingleInstance(const QString &basePath = defaultBasePath(), QObject *parent = nullptr);
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

    QString m_basePath;
    QLockFile m_lock;
    std::unique_ptr<QLocalServer> m_server;
};
