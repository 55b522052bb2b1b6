#pragma once

#include "platform/DisplayOwnership.h"

#include <QByteArray>

#include <memory>

class QSocketNotifier;
struct _XDisplay;

// The running instance owns a selection named for the user on a connection of its own, and
// its unmapped owner window carries the local socket path in a property. The server drops the
// selection when that connection closes, so a crashed instance leaves nothing behind.
class X11DisplayOwnership final : public DisplayOwnership {
public:
    /// Connects to the named display (the default one when empty).
    explicit X11DisplayOwnership(const QByteArray &displayName = {});
    ~X11DisplayOwnership() override;

    X11DisplayOwnership(const X11DisplayOwnership &) = delete;
    X11DisplayOwnership &operator=(const X11DisplayOwnership &) = delete;

    bool reachable() const override { return m_display != nullptr; }
    bool claim(const QString &socketPath) override;
    QString ownerSocketPath() override;

private:
    void drainEvents();

    _XDisplay *m_display = nullptr;
    unsigned long m_selection = 0;
    unsigned long m_socketProperty = 0;
    unsigned long m_utf8 = 0;
    unsigned long m_window = 0;
    std::unique_ptr<QSocketNotifier> m_events;
};
