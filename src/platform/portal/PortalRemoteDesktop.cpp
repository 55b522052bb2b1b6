#include "PortalRemoteDesktop.h"

#include "PortalRequest.h"

#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QThread>

namespace {

const QString remoteInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
constexpr uint keyboardDevice = 1;

QString responseText(uint response)
{
    return response == 1 ? PortalRemoteDesktop::tr("Access to the keyboard was refused.")
                         : PortalRemoteDesktop::tr("The desktop did not give access to the "
                                                   "keyboard (error %1).")
                               .arg(response);
}

} // namespace

PortalRemoteDesktop::PortalRemoteDesktop(QDBusConnection bus) : m_bus(std::move(bus))
{
    portal::readUInt(m_bus, remoteInterface, QStringLiteral("AvailableDeviceTypes"), this,
                     [this](std::optional<uint> types) {
                         setState(types && (*types & keyboardDevice) ? State::Idle
                                                                     : State::NotOffered);
                     });
}

PortalRemoteDesktop::~PortalRemoteDesktop()
{
    changed = nullptr;
    end(State::Ended, {});
}

void PortalRemoteDesktop::ask()
{
    if (thread() != QThread::currentThread()) {
        QMetaObject::invokeMethod(this, &PortalRemoteDesktop::ask, Qt::QueuedConnection);
        return;
    }
    if (m_state != State::Idle && m_state != State::Refused && m_state != State::Ended)
        return;
    setState(State::Asking);
    request(Step::Create, QStringLiteral("CreateSession"), {},
            {{QStringLiteral("session_handle_token"), portal::newToken()}});
}

std::shared_ptr<const PortalRemoteDesktop::Grant> PortalRemoteDesktop::grant() const
{
    const std::lock_guard lock(m_mutex);
    return m_grant;
}

void PortalRemoteDesktop::setState(State state, QString failure)
{
    if (state == m_state && failure == m_failure)
        return;
    m_state = state;
    m_failure = std::move(failure);
    if (changed)
        changed();
}

void PortalRemoteDesktop::request(Step step, const QString &method, QVariantList arguments,
                                  QVariantMap options)
{
    const QString token = portal::newToken();
    m_step = step;
    m_requestPath = portal::requestPath(m_bus, token);
    options.insert(QStringLiteral("handle_token"), token);
    listen(m_requestPath, true);
    QDBusMessage call =
        QDBusMessage::createMethodCall(portal::service, portal::path, remoteInterface, method);
    call.setArguments(arguments << options);
    // Start waits for the person at the consent dialog: no timeout of ours ends that wait.
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, -1), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, path = m_requestPath](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> reply = *w;
                if (path != m_requestPath)
                    return;
                if (reply.isError()) {
                    end(State::Refused, tr("The desktop refused to open a session (%1).")
                                            .arg(reply.error().message()));
                    return;
                }
                // Portals older than the tokens choose the path themselves.
                if (const QString actual = reply.value().path(); !actual.isEmpty() && actual != path) {
                    listen(path, false);
                    m_requestPath = actual;
                    listen(actual, true);
                }
            });
}

void PortalRemoteDesktop::listen(const QString &path, bool on)
{
    const char *slot = SLOT(onResponse(uint, QVariantMap, QDBusMessage));
    if (on)
        m_bus.connect(portal::service, path, portal::requestInterface, QStringLiteral("Response"),
                      this, slot);
    else
        m_bus.disconnect(portal::service, path, portal::requestInterface,
                         QStringLiteral("Response"), this, slot);
}

void PortalRemoteDesktop::onResponse(uint response, const QVariantMap &results,
                                     const QDBusMessage &message)
{
    if (message.path() != m_requestPath)
        return;
    listen(m_requestPath, false);
    m_requestPath.clear();
    const Step step = std::exchange(m_step, Step::None);
    if (response != 0) {
        end(State::Refused, responseText(response));
        return;
    }
    switch (step) {
    case Step::Create:
        m_session = portal::sessionHandle(results);
        if (m_session.isEmpty()) {
            end(State::Refused, tr("The desktop opened no session."));
            return;
        }
        m_bus.connect(portal::service, m_session, portal::sessionInterface,
                      QStringLiteral("Closed"), this, SLOT(onClosed(QDBusMessage)));
        request(Step::Select, QStringLiteral("SelectDevices"),
                {QVariant::fromValue(QDBusObjectPath(m_session))},
                {{QStringLiteral("types"), keyboardDevice}});
        break;
    case Step::Select:
        request(Step::Start, QStringLiteral("Start"),
                {QVariant::fromValue(QDBusObjectPath(m_session)), QString()}, {});
        break;
    case Step::Start:
        if (!(results.value(QStringLiteral("devices")).toUInt() & keyboardDevice)) {
            end(State::Refused, tr("The desktop did not give access to the keyboard."));
            return;
        }
        {
            auto grant = std::make_shared<Grant>(m_bus, m_session);
            const std::lock_guard lock(m_mutex);
            m_grant = std::move(grant);
        }
        setState(State::Granted);
        break;
    case Step::None:
        break;
    }
}

void PortalRemoteDesktop::onClosed(const QDBusMessage &message)
{
    if (message.path() != m_session)
        return;
    m_session.clear(); // closed already: nothing to close
    end(State::Ended, tr("The desktop ended Keyloom's access to the keyboard."));
}

void PortalRemoteDesktop::end(State state, QString failure)
{
    if (!m_requestPath.isEmpty())
        listen(std::exchange(m_requestPath, {}), false);
    m_step = Step::None;
    {
        const std::lock_guard lock(m_mutex);
        if (m_grant)
            m_grant->ended = true;
        m_grant.reset();
    }
    if (!m_session.isEmpty()) {
        const QString session = std::exchange(m_session, {});
        m_bus.disconnect(portal::service, session, portal::sessionInterface,
                         QStringLiteral("Closed"), this, SLOT(onClosed(QDBusMessage)));
        m_bus.asyncCall(QDBusMessage::createMethodCall(portal::service, session,
                                                       portal::sessionInterface,
                                                       QStringLiteral("Close")));
    }
    setState(state, std::move(failure));
}
