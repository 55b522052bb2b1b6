#include "WaylandTrust.h"

#include "platform/x11/X11AccessibilityTrust.h"

#include <QTextStream>

WaylandTrust::WaylandTrust(bool virtualKeyboard) : m_reason(reasonFor(virtualKeyboard)) {}

bool WaylandTrust::isTrusted()
{
    return m_reason.isEmpty();
}

QString WaylandTrust::missingReason()
{
    return m_reason;
}

QString WaylandTrust::reasonFor(bool virtualKeyboard)
{
    if (virtualKeyboard)
        return {};
    if (!qEnvironmentVariableIsEmpty("DISPLAY") && X11AccessibilityTrust().isTrusted())
        return QStringLiteral(
            "This Wayland desktop does not let programs type through a virtual keyboard, so "
            "Keyloom types only into windows that run through XWayland. Native Wayland windows "
            "can be reached on sway, Hyprland, river, labwc and Wayfire.");
    return QStringLiteral(
        "This Wayland desktop offers neither a virtual keyboard nor XWayland with the XTEST "
        "extension, so Keyloom cannot type here. Enable XWayland, or use a desktop that offers "
        "the virtual keyboard (sway, Hyprland, river, labwc, Wayfire).");
}

void WaylandTrust::request()
{
    // No desktop has a permission pane for this: say what is missing instead.
    const QString reason = missingReason();
    if (!reason.isEmpty())
        QTextStream(stderr) << "[Keyloom] " << reason << Qt::endl;
}
