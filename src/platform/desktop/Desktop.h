#pragma once

#include "platform/Clipboard.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class AccessibilityTrust;
class DisplayOwnership;
class KeyInjector;
class KeyboardTap;
class Notifier;
class PortalRemoteDesktop;

// The desktop session this process runs in, and the backends chosen for what it offers:
// X11 as it is; on Wayland the compositor's virtual keyboard, else the RemoteDesktop portal
// (GNOME, KDE Plasma), else XWayland, and the portal's shortcuts where offered. Nothing outside this folder knows which backend runs.
class Desktop {
public:
    enum class Session { X11, Wayland };

    /// The session type, from the environment the desktop gave us.
    static Session session();

    /// The display this session's instance belongs to (":0", "wayland-1").
    static QString displayName();

    /// Picks Qt's platform plugin for the session; to be called before the application exists.
    static void choosePlatformPlugin();

    /// The display's own record of its instance, where it keeps one; null elsewhere.
    static std::unique_ptr<DisplayOwnership> ownership();

    Desktop();
    ~Desktop();
    Desktop(const Desktop &) = delete;
    Desktop &operator=(const Desktop &) = delete;

    KeyInjector &injector() { return *m_injector; }
    KeyboardTap &tap() { return *m_tap; }
    AccessibilityTrust &trust() { return *m_trust; }
    Notifier &notifier() { return *m_notifier; }

    /// Reads the clipboard's text off the main thread: each call starts a read, whose handler may
    /// run on any thread. The reads stop, without calling back, once the last copy of the
    /// returned function is gone.
    using ClipboardReader = std::function<void(Clipboard::TextHandler done)>;
    ClipboardReader clipboardReader() const;

    /// Empties the clipboard where only a backend can (a background program on Wayland); false
    /// where the toolkit's own clipboard does it.
    bool clearClipboard() const;

private:
    std::unique_ptr<PortalRemoteDesktop> m_remote; // first, so gone last: the others use it
    std::unique_ptr<KeyInjector> m_injector;
    std::unique_ptr<KeyboardTap> m_tap;
    std::unique_ptr<AccessibilityTrust> m_trust;
    std::unique_ptr<Notifier> m_notifier;
    bool m_dataControl = false; // the compositor shares its clipboard with background programs
};
