#include "X11AccessibilityTrust.h"
#include "X11Display.h"

#include <QCoreApplication>
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

} // namespace

X11AccessibilityTrust::X11AccessibilityTrust() : X11AccessibilityTrust(qgetenv("DISPLAY")) {}

X11AccessibilityTrust::X11AccessibilityTrust(QByteArray displayName)
    : m_displayName(std::move(displayName))
{
}

bool X11AccessibilityTrust::isTrusted()
{
    return missingReason().isEmpty();
}

QString X11AccessibilityTrust::missingReason()
{
    // Only a new server changes the answer, and the program ends with its server: the menu and
    // the settings window, which ask often, never open a connection for it.
    if (!m_reason)
        m_reason = reasonFor(int(probe(m_displayName)));
    return *m_reason;
}

QString X11AccessibilityTrust::reasonFor(int state) const
{
    switch (State(state)) {
    case State::Trusted:
        return {};
    case State::NoDisplay:
        return QCoreApplication::translate(
                   "X11AccessibilityTrust",
                   "No X display can be reached (DISPLAY=\"%1\"), so Keyloom can neither type "
                   "nor watch the keyboard.")
            .arg(QString::fromLocal8Bit(m_displayName));
    case State::NoXTest:
        return QCoreApplication::translate(
            "X11AccessibilityTrust",
            "The X server does not offer the XTEST extension, which Keyloom needs to type and to "
            "read the keyboard. Enable it in the X server configuration (it is on by default).");
    }
    return {};
}

void X11AccessibilityTrust::request()
{
    // There is no system pane to open on X11; say what is missing instead.
    const QString reason = missingReason();
    if (!reason.isEmpty())
        QTextStream(stderr) << "[Keyloom] " << reason << Qt::endl;
}
