#include "SingleInstance.h"

#include "platform/DisplayOwnership.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>

#include <cerrno>

#include <signal.h>

namespace {

constexpr char acknowledgement[] = "ok\n";

struct Request {
    SingleInstance::Command command;
    QByteArray line;
};
// The first line is what older builds send to open the settings window.
const Request requests[] = {
    {SingleInstance::Command::OpenSettings, "open-settings\n"},
    {SingleInstance::Command::Toggle, "toggle\n"},
    {SingleInstance::Command::Previous, "previous\n"},
    {SingleInstance::Command::Stop, "stop\n"},
};

} // namespace

QString SingleInstance::defaultBasePath(const QString &displayName)
{
    // Shortcut grabs and keystrokes belong to one display, so another display gets its own
    // instance.
    QString display = displayName;
    display.remove(QRegularExpression(QStringLiteral("\\.\\d+$")));
    display.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")), QStringLiteral("_"));
    if (display.isEmpty())
        display = QStringLiteral("none");
    // The runtime directory is private to the user (Qt creates a 0700 one when none is set).
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return dir + QStringLiteral("/keyloom-") + display;
}

SingleInstance::SingleInstance(const QString &basePath, DisplayOwnership *display, QObject *parent)
    : QObject(parent), m_basePath(basePath), m_display(display),
      m_lock(basePath + QStringLiteral(".lock"))
{
    // Only a lock whose process is gone counts as stale, however old it is.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim()
{
    if (!m_lock.tryLock(0) && m_lock.error() == QLockFile::LockFailedError)
        return false;
    // The lock only covers this name of the display; its other names meet here.
    if (m_display && m_display->reachable() && !m_display->claim(socketPath())) {
        if (m_lock.isLocked())
            m_lock.unlock();
        return false;
    }
    // With the lock held (or no lock possible at all, where starting beats refusing),
    // any socket file left here is from a process that died.
    QLocalServer::removeServer(socketPath());
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server.get(), &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    m_server->listen(socketPath());
    return true;
}

SingleInstance::Answer SingleInstance::send(Command command, std::chrono::milliseconds deadline)
{
    if (!anyoneRunning())
        return Answer::NotRunning;
    QByteArray line;
    for (const Request &r : requests) {
        if (r.command == command)
            line = r.line;
    }
    const QDeadlineTimer timer(deadline);
    // The running instance may still be starting and not listen yet: retry until the deadline.
    while (!timer.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(runningSocketPath());
        if (socket.waitForConnected(int(std::max<qint64>(timer.remainingTime(), 1)))) {
            socket.write(line);
            socket.flush();
            while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState
                   && socket.waitForReadyRead(int(std::max<qint64>(timer.remainingTime(), 1)))) {
            }
            if (socket.canReadLine() && socket.readLine() == acknowledgement)
                return Answer::Taken;
        }
        QThread::msleep(50);
    }
    return Answer::NoAnswer;
}

bool SingleInstance::anyoneRunning()
{
    if (m_display && m_display->reachable() && !m_display->ownerSocketPath().isEmpty())
        return true;
    if (m_lock.isLocked())
        return false; // it is ours: this process is the instance
    // Read, never taken: an instance starting this very moment would find the lock held by a
    // mere command and give up.
    qint64 pid = 0;
    QString host, app;
    if (!m_lock.getLockInfo(&pid, &host, &app) || pid <= 0)
        return false;
    if (!host.isEmpty() && host != QSysInfo::machineHostName())
        return true; // not ours to judge
    return kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

QString SingleInstance::runningSocketPath()
{
    // No owner yet: the running one holds our lock and has not claimed the display so far.
    const QString owner =
        m_display && m_display->reachable() ? m_display->ownerSocketPath() : QString();
    return owner.isEmpty() ? socketPath() : owner;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine())
                return;
            const QByteArray line = socket->readLine();
            for (const Request &r : requests) {
                if (line != r.line)
                    continue;
                // Answered first: what the command starts may take a while, the client need not.
                socket->write(acknowledgement);
                socket->flush();
                if (r.command == Command::OpenSettings)
                    emit settingsRequested();
                emit commandReceived(r.command);
            }
            socket->disconnectFromServer();
        });
    }
}
