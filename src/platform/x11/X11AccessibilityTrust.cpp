#include "X11AccessibilityTrust.h"
#include "X11Display.h"

#include <QTextStream>

#include <utility>

#include "X11Headers.h"

namespace {

enum class State { Trusted, NoDisplay, NoXTest };

State probe(const QByteArray &displayName)
{
    Display *display = openX11Display(displayName);
    if (!display)
        return State::NoDisplay;
    int event = 0, error = 0, major = 0, minor = 0;
    const bool xtest = XTestQueryExtension(display, &event, &error, &major, &minor);
    XCloseDisplay(display);
    return xtest ? State::Trusted : State::NoXTest;
}

bool isWayland()
{
    return qgetenv("XDG_SESSION_TYPE").compare("wayland", Qt::CaseInsensitive) == 0 ||
           !qgetenv("WAYLAND_DISPLAY").isEmpty();
}

} // namespace

X11AccessibilityTrust::X11AccessibilityTrust() : X11AccessibilityTrust(qgetenv("DISPLAY")) {}

X11AccessibilityTrust::X11AccessibilityTrust(QByteArray displayName)
    : m_displayName(std::move(displayName))
{
}

bool X11AccessibilityTrust::isTrusted()
{
    return probe(m_displayName) == State::Trusted;
}

QString X11AccessibilityTrust::missingReason()
{
    const State state = probe(m_displayName);
    const bool wayland = isWayland();
    switch (state) {
    case State::Trusted:
        return {};
    case State::NoDisplay:
        if (wayland)
            return QStringLiteral("This is a Wayland session without XWayland: Keyloom needs an X "
                                  "display (XWayland) for global shortcuts and typing.");
        return QStringLiteral("No X display can be reached (DISPLAY=\"%1\"). Keyloom needs an "
                              "X11 session.")
            .arg(QString::fromLocal8Bit(m_displayName));
    case State::NoXTest:
        if (wayland)
            return QStringLiteral("XWayland does not offer the XTEST extension here, so Keyloom "
                                  "cannot type or see the keyboard. On Wayland it only reaches "
                                  "XWayland windows anyway.");
        return QStringLiteral("The X server does not offer the XTEST extension, which Keyloom "
                              "needs to type and to read the keyboard. Enable it in the X server "
                              "configuration (it is on by default).");
    }
    return {};
}

QString X11AccessibilityTrust::sessionNote()
{
    if (!isWayland())
        return {};
    return QStringLiteral("This is a Wayland session: Keyloom's shortcuts and typing reach only "
                          "windows that run through XWayland, not native Wayland windows.");
}

void X11AccessibilityTrust::request()
{
    // There is no system pane to open on X11; say what is missing instead.
    QString reason = missingReason();
    if (reason.isEmpty())
        reason = sessionNote();
    if (!reason.isEmpty())
        QTextStream(stderr) << "[Keyloom] " << reason << Qt::endl;
}
