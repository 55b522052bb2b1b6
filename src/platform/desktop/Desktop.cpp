#include "Desktop.h"

#include "DBusNotifier.h"
#include "PortalTyping.h"
#include "PortalWhenOffered.h"
#include "WaylandTrust.h"
#include "platform/KeyboardTap.h"
#include "platform/portal/PortalKeyInjector.h"
#include "platform/portal/PortalRemoteDesktop.h"
#include "platform/portal/PortalShortcutTap.h"
#include "platform/signals/SignalWatch.h"
#include "platform/wayland/WaylandClipboardReader.h"
#include "platform/wayland/WaylandKeyInjector.h"
#include "platform/x11/X11AccessibilityTrust.h"
#include "platform/x11/X11ClipboardReader.h"
#include "platform/x11/X11DisplayOwnership.h"
#include "platform/x11/X11KeyInjector.h"
#include "platform/x11/X11KeyboardTap.h"
#include "platform/x11/X11WindowProgress.h"
#include "platform/xkb/XkbKeyNames.h"

#include <QCoreApplication>

#include <xkbcommon/xkbcommon.h>

namespace {

// Where nothing watches the keyboard for us: the user binds `keyloom --toggle` in the
// desktop's own settings, and the command reaches the instance through its socket.
class UnboundTap final : public KeyboardTap {
public:
    bool install(Handler) override { return true; }
    void remove() override {}
    QList<KeyCombo> watch(const QList<KeyCombo> &, bool) override { return {}; }
    std::optional<quint16> keyCodeForScanCode(quint32 nativeScanCode) const override
    {
        return m_keyCodes.keyCode(nativeScanCode);
    }
    Binding binding() const override { return Binding::Unbound; }

private:
    // Our own windows' scan codes are evdev keycodes plus 8, whose names a default keymap knows.
    static XkbKeyCodes evdevKeyCodes()
    {
        xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        xkb_keymap *keymap =
            context ? xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS)
                    : nullptr;
        XkbKeyCodes codes(keymap);
        xkb_keymap_unref(keymap);
        xkb_context_unref(context);
        return codes;
    }

    XkbKeyCodes m_keyCodes = evdevKeyCodes();
};

bool hasXDisplay()
{
    return !qgetenv("DISPLAY").isEmpty();
}

} // namespace

Desktop::Session Desktop::session()
{
    // WAYLAND_DISPLAY alone can be inherited into an X session from a nested compositor; the
    // session type, where set, says what the user logged in to.
    const QByteArray type = qgetenv("XDG_SESSION_TYPE").toLower();
    if (type == "x11")
        return Session::X11;
    return qgetenv("WAYLAND_DISPLAY").isEmpty() ? Session::X11 : Session::Wayland;
}

QString Desktop::displayName()
{
    return session() == Session::Wayland ? qEnvironmentVariable("WAYLAND_DISPLAY")
                                         : qEnvironmentVariable("DISPLAY");
}

void Desktop::choosePlatformPlugin()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    // Under Wayland, Qt's own order applies (Wayland first, then XWayland); an X session
    // must not pick up a stray WAYLAND_DISPLAY.
    if (session() == Session::X11)
        qputenv("QT_QPA_PLATFORM", "xcb");
}

std::unique_ptr<DisplayOwnership> Desktop::ownership()
{
    if (session() != Session::X11)
        return nullptr;
    return std::make_unique<X11DisplayOwnership>();
}

Desktop::Desktop() : m_notifier(std::make_unique<DBusNotifier>())
{
    if (session() == Session::X11) {
        m_injector = std::make_unique<X11KeyInjector>();
        m_tap = std::make_unique<X11KeyboardTap>();
        m_trust = std::make_unique<X11AccessibilityTrust>();
        return;
    }

    // A virtual keyboard destroyed with a key down leaves clients believing it held, and a key
    // the portal pressed stays down on the seat: a signal ends the program through its
    // destructors, which stop the runs and let go.
    SignalWatch::arm([](int) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                  Qt::QueuedConnection);
    });
    const bool virtualKeyboard = WaylandKeyInjector::available();
    if (virtualKeyboard) {
        // An X window's keys pass through Xwayland, which tells how far the window has got.
        WaylandKeyInjector::WindowWatch watch;
        if (hasXDisplay())
            watch = [] { return X11WindowProgress::forFocusedWindow(); };
        m_injector = std::make_unique<WaylandKeyInjector>(QByteArray(), std::move(watch));
        m_trust = std::make_unique<WaylandTrust>(true);
    } else {
        // GNOME and KDE offer no virtual keyboard to programs, but send keys through their
        // portal with the user's consent; XWayland windows only where the portal does not.
        m_remote = std::make_unique<PortalRemoteDesktop>();
        auto injector = std::make_unique<InjectorWhenOffered>(
            std::make_unique<X11KeyInjector>(), std::make_unique<PortalKeyInjector>(*m_remote));
        m_remote->changed = [this, injector = injector.get()] {
            using State = PortalRemoteDesktop::State;
            const State state = m_remote->state();
            injector->usePortal(state != State::NotOffered && state != State::Probing);
        };
        m_injector = std::move(injector);
        m_trust = std::make_unique<PortalTrust>(*m_remote, std::make_unique<WaylandTrust>(false));
    }

    std::unique_ptr<KeyboardTap> withoutPortal;
    if (virtualKeyboard || !hasXDisplay())
        withoutPortal = std::make_unique<UnboundTap>();
    else
        withoutPortal = std::make_unique<X11KeyboardTap>(); // seen while an XWayland window has the focus
    m_tap = std::make_unique<PortalWhenOffered>(std::move(withoutPortal));

    // Otherwise XWayland's selection bridge carries the Wayland clipboard to X clients.
    m_dataControl = WaylandClipboardReader::available();
}

Desktop::~Desktop() = default;

Desktop::ClipboardReader Desktop::clipboardReader() const
{
    if (m_dataControl) {
        return [reader = std::make_shared<WaylandClipboardReader>()](auto done) {
            reader->read(std::move(done));
        };
    }
    if (session() == Session::X11 || hasXDisplay()) {
        return [reader = std::make_shared<X11ClipboardReader>(qgetenv("DISPLAY"))](auto done) {
            reader->read(std::move(done));
        };
    }
    return [](auto done) { done(std::nullopt); };
}

bool Desktop::clearClipboard() const
{
    return m_dataControl && WaylandClipboardReader::clear();
}
