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
// one hands it a command (open the settings window, start or stop a run, step
// back) instead of running itself. With a display to ask, the display's own
// record of its instance decides, since one display goes by several names.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Command { OpenSettings, Toggle, Previous, Stop };
    Q_ENUM(Command)

    /// What a command-line client heard back.
    enum class Answer { Taken, NotRunning, NoAnswer };

    /// The per-user path both the lock and the socket derive from, named after the session's
    /// display (the Wayland one where the session is Wayland).
    static QString defaultBasePath(const QString &displayName);

    /// The display, when given, must outlive this object.
    explicit SingleInstance(const QString &basePath,
                            DisplayOwnership *display = nullptr, QObject *parent = nullptr);
    ~SingleInstance() override;

    /// Becomes the running instance and starts listening; false when another one already runs.
    bool claim();

    /// Asks the running instance to open its settings window; true once it has acknowledged.
    bool askRunningToOpenSettings(std::chrono::milliseconds deadline = std::chrono::seconds(10))
    {
        return send(Command::OpenSettings, deadline) == Answer::Taken;
    }

    /// Hands the running instance a command without becoming one. NotRunning comes at once
    /// when no instance holds the lock; one that is still starting gets until the deadline.
    Answer send(Command command, std::chrono::milliseconds deadline = std::chrono::seconds(5));

    QString socketPath() const { return m_basePath + QStringLiteral(".socket"); }

signals:
    /// Another start of the program asked for the settings window.
    void settingsRequested();
    /// A command line asked the running instance for something.
    void commandReceived(SingleInstance::Command command);

private:
    void acceptConnections();
    QString runningSocketPath();
    bool anyoneRunning();

    QString m_basePath;
    DisplayOwnership *m_display;
    QLockFile m_lock;
    std::unique_ptr<QLocalServer> m_server;
};
