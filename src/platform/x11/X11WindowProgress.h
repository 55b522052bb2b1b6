#pragma once

#include "platform/xkb/WindowProgress.h"

#include <QByteArray>

#include <memory>

struct _XDisplay;
class X11WindowPing;

// The X window with the focus on an X server the keys reach through a compositor (Xwayland),
// asked by ping how far it has got, on a connection of its own.
class X11WindowProgress final : public WindowProgress {
public:
    /// Null where no X window has the focus or it does not answer pings.
    static std::unique_ptr<WindowProgress> forFocusedWindow(const QByteArray &displayName = {});
    ~X11WindowProgress() override;

    void pressed() override;
    void ask(ExtraKeyPool &pool) override;

private:
    X11WindowProgress(_XDisplay *display, std::unique_ptr<X11WindowPing> ping);

    _XDisplay *m_display;
    std::unique_ptr<X11WindowPing> m_ping;
};
