#include "X11WindowProgress.h"

#include "X11Display.h"
#include "X11FocusedWindow.h"
#include "X11WindowPing.h"

#include "X11Headers.h"

std::unique_ptr<WindowProgress> X11WindowProgress::forFocusedWindow(const QByteArray &displayName)
{
    Display *display = openExpendableX11Display(displayName);
    if (!display)
        return nullptr;
    // Xwayland gives the X focus to none while a Wayland window has the keyboard.
    std::unique_ptr<X11WindowPing> ping =
        X11WindowPing::forWindow(display, X11FocusedWindow::focusedProgram(display).window);
    if (!ping) {
        closeExpendableX11Display(display);
        return nullptr;
    }
    return std::unique_ptr<WindowProgress>(new X11WindowProgress(display, std::move(ping)));
}

X11WindowProgress::X11WindowProgress(Display *display, std::unique_ptr<X11WindowPing> ping)
    : m_display(display), m_ping(std::move(ping))
{
}

X11WindowProgress::~X11WindowProgress()
{
    m_ping.reset();
    closeExpendableX11Display(m_display);
}

void X11WindowProgress::pressed()
{
    m_ping->pressed();
}

void X11WindowProgress::ask(ExtraKeyPool &pool)
{
    // The ping takes its answers itself, so that one just come is looked at before the next
    // ping goes; the root's other events come along too, and nothing else reads them.
    m_ping->ask(m_display, pool);
    while (XPending(m_display)) {
        XEvent event;
        XNextEvent(m_display, &event);
        m_ping->take(event, pool);
    }
}
