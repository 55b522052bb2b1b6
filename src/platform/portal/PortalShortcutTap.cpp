#include "PortalShortcutTap.h"

#include "PortalRequest.h"
#include "platform/KeyCodes.h"
#include "platform/xkb/XkbKeyNames.h"

#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include <xkbcommon/xkbcommon.h>

#include <cstdio>

namespace {

const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

const char *const descriptions[] = {
    "Type the clipboard or the current snippet",
    "Step back to the previous snippet",
};
static_assert(std::size(descriptions) == std::size(PortalShortcutTap::shortcutIds));

void report(const QString &line)
{
    std::printf("[Keyloom] %s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

QString responseError(uint response)
{
    return response == 1 ? QStringLiteral("the request was cancelled")
                         : QStringLiteral("the desktop answered with error %1").arg(response);
}

std::shared_ptr<xkb_keymap> usKeymap()
{
    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (!context)
        return {};
    const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
    xkb_keymap *keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);
    return std::shared_ptr<xkb_keymap>(keymap, [](xkb_keymap *k) { xkb_keymap_unref(k); });
}

} // namespace

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcutTap::Shortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument,
                                PortalShortcutTap::Shortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

PortalShortcutTap::PortalShortcutTap(QDBusConnection bus)
    : m_bus(std::move(bus)), m_keymap(usKeymap()),
      m_keyCodes(std::make_unique<XkbKeyCodes>(m_keymap.get()))
{
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
}

PortalShortcutTap::~PortalShortcutTap()
{
    remove();
}

void PortalShortcutTap::probe(QObject *context, std::function<void(bool)> answer,
                              QDBusConnection bus)
{
    portal::readUInt(bus, shortcutsInterface, QStringLiteral("version"), context,
                     [answer = std::move(answer)](std::optional<uint> version) {
                         answer(version.value_or(0) >= 1);
                     });
}

QString PortalShortcutTap::trigger(const KeyCombo &combo) const
{
    const std::optional<XkbKeyCodes::Keycode> key = m_keyCodes->xkbKeyCode(combo.keyCode);
    const xkb_keysym_t *syms = nullptr;
    char name[64];
    if (!key || xkb_keymap_key_get_syms_by_level(m_keymap.get(), *key, 0, 0, &syms) < 1 ||
        xkb_keysym_get_name(syms[0], name, sizeof name) < 1)
        return {};
    QStringList parts;
    const std::pair<quint64, const char *> modifiers[] = {{ModifierFlag::Control, "CTRL"},
                                                          {ModifierFlag::Option, "ALT"},
                                                          {ModifierFlag::Shift, "SHIFT"},
                                                          {ModifierFlag::Command, "LOGO"}};
    for (const auto &[flag, word] : modifiers) {
        if (combo.modifiers & flag)
            parts << QString::fromLatin1(word);
    }
    parts << QString::fromLatin1(name);
    return parts.join(u'+');
}

bool PortalShortcutTap::install(Handler handler)
{
    remove();
    // Only the bus daemon is asked here, never the portal: it may be slow to start.
    QDBusConnectionInterface *daemon = m_bus.isConnected() ? m_bus.interface() : nullptr;
    if (!daemon || (!daemon->isServiceRegistered(portal::service).value() &&
                    !daemon->activatableServiceNames().value().contains(portal::service)))
        return false;
    m_handler = std::move(handler);
    m_installed = true;
    listenToShortcuts(true);
    // KDE Plasma 5.27 takes the shortcuts only with the session: it waits for them.
    if (!m_combos.isEmpty())
        startSession();
    return true;
}

void PortalShortcutTap::remove()
{
    if (!m_installed)
        return;
    m_installed = false;
    m_handler = nullptr;
    listenToShortcuts(false);
    closeSession();
    m_down.clear();
}

QList<KeyCombo> PortalShortcutTap::watch(const QList<KeyCombo> &combos, bool)
{
    const QList<KeyCombo> wanted = combos.mid(0, qsizetype(std::size(shortcutIds)));
    // Runs switch Esc on and off, which changes nothing here.
    if (wanted == m_combos)
        return {};
    m_combos = wanted;
    // A session being created binds the latest combinations once it exists.
    if (!m_installed || !m_createRequest.isEmpty())
        return {};
    if (m_session.isEmpty()) {
        if (!m_combos.isEmpty())
            startSession();
    } else if (m_desktopKeeps) {
        m_bound = m_combos; // the keys are the desktop's to change
    } else if (!m_bound) {
        bind();
    } else {
        // A session binds once: new keys need a new session.
        closeSession();
        startSession();
    }
    return {};
}

std::optional<quint16> PortalShortcutTap::keyCodeForScanCode(quint32 nativeScanCode) const
{
    // Qt's native scan code is the evdev code plus 8 under X11 and Wayland alike: the keycode of
    // an evdev keymap, whose key names do not depend on the layout.
    return m_keyCodes->keyCode(nativeScanCode);
}

QString PortalShortcutTap::request(const QString &method, QVariantList arguments,
                                   QVariantMap options)
{
    // The portal names the request object after our unique name and the token; listening
    // before the call leaves no gap in which the answer could be missed.
    const QString token = portal::newToken();
    const QString path = portal::requestPath(m_bus, token);
    options.insert(QStringLiteral("handle_token"), token);
    listen(path, true);
    QDBusMessage call =
        QDBusMessage::createMethodCall(portal::service, portal::path, shortcutsInterface, method);
    call.setArguments(arguments << options);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, path, method](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> reply = *w;
                QString *slot = path == m_createRequest ? &m_createRequest
                                : path == m_bindRequest ? &m_bindRequest
                                                        : nullptr;
                if (reply.isError()) {
                    listen(path, false);
                    m_abandoned.remove(path);
                    if (slot) {
                        slot->clear();
                        setProblem(tr("The desktop refused Keyloom's shortcuts (%1).")
                                       .arg(reply.error().message()));
                    }
                    return;
                }
                // Portals older than the tokens choose the path themselves.
                const QString actual = reply.value().path();
                if (actual == path || actual.isEmpty())
                    return;
                listen(path, false);
                listen(actual, true);
                if (m_abandoned.remove(path))
                    m_abandoned.insert(actual);
                if (slot)
                    *slot = actual;
            });
    return path;
}

void PortalShortcutTap::listen(const QString &requestPath, bool on)
{
    const char *slot = SLOT(onResponse(uint, QVariantMap, QDBusMessage));
    if (on)
        m_bus.connect(portal::service, requestPath, portal::requestInterface, QStringLiteral("Response"),
                      this, slot);
    else
        m_bus.disconnect(portal::service, requestPath, portal::requestInterface, QStringLiteral("Response"),
                         this, slot);
}

void PortalShortcutTap::listenToShortcuts(bool on)
{
    for (const char *name : {"Activated", "Deactivated"}) {
        if (on)
            m_bus.connect(portal::service, portal::path, shortcutsInterface, QLatin1String(name), this,
                          SLOT(onShortcut(QDBusMessage)));
        else
            m_bus.disconnect(portal::service, portal::path, shortcutsInterface, QLatin1String(name),
                             this, SLOT(onShortcut(QDBusMessage)));
    }
}

QList<PortalShortcutTap::Shortcut> PortalShortcutTap::shortcuts() const
{
    QList<Shortcut> shortcuts;
    for (qsizetype i = 0; i < m_combos.size(); ++i) {
        QVariantMap properties{{QStringLiteral("description"), QString::fromUtf8(descriptions[i])}};
        if (const QString preferred = trigger(m_combos[i]); !preferred.isEmpty())
            properties.insert(QStringLiteral("preferred_trigger"), preferred);
        shortcuts.append({QString::fromLatin1(shortcutIds[i]), properties});
    }
    return shortcuts;
}

void PortalShortcutTap::startSession()
{
    // KDE Plasma 5.27 takes the shortcuts here, not in BindShortcuts, and keeps them under the
    // session's token: one name across starts, or each start would add shortcuts of its own
    // whose keys the earlier ones already hold.
    QVariantMap options{{QStringLiteral("session_handle_token"),
                         m_sessions++ == 0 ? QStringLiteral("Keyloom") : portal::newToken()}};
    if (!m_combos.isEmpty())
        options.insert(QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts()));
    m_created = m_combos;
    m_createRequest = request(QStringLiteral("CreateSession"), {}, options);
}

void PortalShortcutTap::closeSession()
{
    if (!m_createRequest.isEmpty())
        m_abandoned.insert(std::exchange(m_createRequest, {}));
    if (!m_bindRequest.isEmpty())
        listen(std::exchange(m_bindRequest, {}), false);
    m_bound.reset();
    m_desktopKeeps = false;
    if (m_session.isEmpty())
        return;
    const QString session = std::exchange(m_session, {});
    m_bus.disconnect(portal::service, session, portal::sessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed(QDBusMessage)));
    m_bus.asyncCall(QDBusMessage::createMethodCall(portal::service, session, portal::sessionInterface,
                                                   QStringLiteral("Close")));
}

void PortalShortcutTap::bind()
{
    m_bound = m_combos;
    m_bindRequest = request(QStringLiteral("BindShortcuts"),
                            {QVariant::fromValue(QDBusObjectPath(m_session)),
                             QVariant::fromValue(shortcuts()), QString()},
                            {});
}

void PortalShortcutTap::onResponse(uint response, const QVariantMap &results,
                                   const QDBusMessage &message)
{
    const QString path = message.path();
    listen(path, false);
    if (m_abandoned.remove(path)) {
        if (const QString session = portal::sessionHandle(results); response == 0 && !session.isEmpty())
            m_bus.asyncCall(QDBusMessage::createMethodCall(portal::service, session, portal::sessionInterface,
                                                           QStringLiteral("Close")));
        return;
    }
    if (path == m_createRequest) {
        m_createRequest.clear();
        m_session = response == 0 ? portal::sessionHandle(results) : QString();
        if (m_session.isEmpty()) {
            setProblem(tr("The desktop gave Keyloom no shortcuts (%1).")
                           .arg(response == 0 ? QStringLiteral("no handle") : responseError(response)));
            return;
        }
        m_bus.connect(portal::service, m_session, portal::sessionInterface, QStringLiteral("Closed"), this,
                      SLOT(onSessionClosed(QDBusMessage)));
        // A desktop that took every shortcut with the session (KDE Plasma 5.27) keeps their
        // keys in its own settings; its BindShortcuts would only open them.
        QSet<QString> taken;
        for (const Shortcut &shortcut :
             qdbus_cast<QList<Shortcut>>(results.value(QStringLiteral("shortcuts")).value<QDBusArgument>()))
            taken.insert(shortcut.id);
        m_desktopKeeps = !m_created.isEmpty() && taken.size() >= m_created.size();
        if (m_desktopKeeps) {
            m_bound = m_combos;
            setProblem({});
        } else if (!m_combos.isEmpty()) {
            bind();
        }
    } else if (path == m_bindRequest) {
        m_bindRequest.clear();
        setProblem(response == 0 ? QString()
                                 : tr("The desktop did not bind Keyloom's shortcuts (%1).")
                                       .arg(responseError(response)));
    }
}

void PortalShortcutTap::onShortcut(const QDBusMessage &message)
{
    const QVariantList arguments = message.arguments();
    if (!m_installed || !m_bound || arguments.size() < 2 ||
        arguments[0].value<QDBusObjectPath>().path() != m_session)
        return;
    const QString id = arguments[1].toString();
    if (message.member() == QLatin1String("Deactivated")) {
        if (const auto released = m_down.take(id))
            released->store(true);
        return;
    }
    qsizetype index = 0;
    while (index < m_bound->size() && id != QLatin1String(shortcutIds[index]))
        ++index;
    if (index == m_bound->size())
        return;
    const KeyCombo combo = m_bound->at(index);
    auto released = std::make_shared<std::atomic<bool>>(false);
    // A press whose release never came is over now.
    if (const auto earlier = m_down.value(id))
        earlier->store(true);
    m_down.insert(id, released);
    m_currentRelease = released;
    // The handler may remove this tap; the copy keeps it alive for the call.
    const Handler handler = m_handler;
    handler(combo.keyCode, combo.modifiers);
    m_currentRelease.reset();
}

void PortalShortcutTap::onSessionClosed(const QDBusMessage &message)
{
    if (message.path() != m_session)
        return;
    m_bus.disconnect(portal::service, m_session, portal::sessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed(QDBusMessage)));
    m_session.clear();
    m_bound.reset();
    setProblem(tr("The desktop ended Keyloom's shortcuts."));
}

void PortalShortcutTap::setProblem(const QString &problem)
{
    // What to do is the same whatever went wrong.
    const QString line =
        problem.isEmpty()
            ? QString()
            : problem + QLatin1Char(' ') +
                  tr("Change a shortcut or restart Keyloom to ask again, or bind \"keyloom "
                     "--toggle\" in the desktop's keyboard settings.");
    if (line == m_problem)
        return;
    m_problem = line;
    if (!line.isEmpty())
        report(line);
    if (problemChanged)
        problemChanged();
}
