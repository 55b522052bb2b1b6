#pragma once

#include "platform/KeyboardTap.h"

#include <QDBusConnection>
#include <QObject>

#include <memory>
#include <optional>
#include <utility>

// Starts with the tap the session offers without the portal and moves to the portal's once it
// answers that it binds shortcuts: the start never waits on the portal, which may first have to
// be started itself.
class PortalWhenOffered final : public KeyboardTap {
public:
    explicit PortalWhenOffered(std::unique_ptr<KeyboardTap> first,
                               QDBusConnection bus = QDBusConnection::sessionBus());
    ~PortalWhenOffered() override { m_tap->problemChanged = nullptr; }

    bool install(Handler handler) override
    {
        m_handler = handler;
        return m_tap->install(std::move(handler));
    }
    void remove() override
    {
        m_handler = nullptr;
        m_tap->remove();
    }
    QList<KeyCombo> watch(const QList<KeyCombo> &combos, bool escape) override
    {
        m_watched = {combos, escape};
        return m_tap->watch(combos, escape);
    }
    std::optional<quint16> keyCodeForScanCode(quint32 nativeScanCode) const override
    {
        return m_tap->keyCodeForScanCode(nativeScanCode);
    }
    Binding binding() const override { return m_tap->binding(); }
    bool watchesEscape() const override { return m_tap->watchesEscape(); }
    QString problem() const override { return m_tap->problem(); }
    std::shared_ptr<const std::atomic<bool>> releaseOfCurrentPress() const override
    {
        return m_tap->releaseOfCurrentPress();
    }

private:
    void forwardProblems()
    {
        m_tap->problemChanged = [this] {
            if (problemChanged)
                problemChanged();
        };
    }
    void moveToPortal();

    QDBusConnection m_bus;
    std::unique_ptr<KeyboardTap> m_tap;
    Handler m_handler;
    std::optional<std::pair<QList<KeyCombo>, bool>> m_watched;
    QObject m_context; // last, so gone first: no late answer reaches a tap half destroyed
};
