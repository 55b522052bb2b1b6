#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

// The desktop's consent to send keys through its RemoteDesktop portal, held as one portal
// session with the keyboard granted. The session lasts as long as the process, so the desktop
// asks once and shows its remote-control indicator meanwhile. Lives on the main thread; every
// portal call is asynchronous, since the consent waits for a person.
class PortalRemoteDesktop final : public QObject {
    Q_OBJECT

public:
    enum class State {
        Probing,    // the portal has not answered yet
        NotOffered, // no portal, or none that sends keys
        Idle,       // offered, not asked yet
        Asking,     // the desktop is asking the user
        Granted,
        Refused,    // the user or the desktop said no
        Ended,      // the desktop closed the session (revoked, portal restarted)
    };

    // What a run's thread needs to send keys; ended turns true when the session is gone.
    struct Grant {
        Grant(QDBusConnection bus, QString session) : bus(std::move(bus)), session(std::move(session)) {}
        QDBusConnection bus;
        QString session;
        std::atomic<bool> ended = false;
    };

    explicit PortalRemoteDesktop(QDBusConnection bus = QDBusConnection::sessionBus());
    ~PortalRemoteDesktop() override;

    /// Called on the main thread whenever state() changes.
    std::function<void()> changed;

    State state() const { return m_state; }
    /// Why the last ask failed, for the user; empty otherwise.
    QString failure() const { return m_failure; }

    /// Opens a session, which has the desktop ask for consent; nothing while asking or granted.
    /// Safe to call from any thread.
    void ask();

    /// The granted session, or null; safe to call from any thread.
    std::shared_ptr<const Grant> grant() const;

private slots:
    void onResponse(uint response, const QVariantMap &results, const QDBusMessage &message);
    void onClosed(const QDBusMessage &message);

private:
    enum class Step { None, Create, Select, Start };
    void setState(State state, QString failure = {});
    void request(Step step, const QString &method, QVariantList arguments, QVariantMap options);
    void listen(const QString &path, bool on);
    void end(State state, QString failure);

    QDBusConnection m_bus;
    State m_state = State::Probing;
    QString m_failure;
    Step m_step = Step::None;
    QString m_requestPath;
    QString m_session;
    mutable std::mutex m_mutex;
    std::shared_ptr<Grant> m_grant;
};
