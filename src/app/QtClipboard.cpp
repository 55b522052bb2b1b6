#include "QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QScreen>
#include <qpa/qplatformnativeinterface.h>

namespace {

// On X11 a selection can only be taken with a timestamp no older than the current
// owner's. Qt stamps with the time of the last event it saw, which predates a copy
// made in another program since (a menu item chosen through a D-Bus tray brings no
// X event at all), and the X server then silently refuses. Asking the server for
// its current time first makes the clear take effect. Elsewhere this does nothing.
void refreshServerTime()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!native || !screen)
        return;
    const auto now = quint32(reinterpret_cast<quintptr>(native->nativeResourceForScreen("gettimestamp", screen)));
    using SetAppTime = void (*)(QScreen *, quint32);
    // The plugin hands out every function under one generic type; this one takes the time.
    const auto setAppTime = reinterpret_cast<SetAppTime>(
        reinterpret_cast<void (*)()>(native->nativeResourceFunctionForScreen("setapptime")));
    if (now != 0 && setAppTime)
        setAppTime(screen, now);
}

} // namespace

QtClipboard::QtClipboard(Reader reader, Clearer clearer)
    : m_reader(std::move(reader)), m_clearer(std::move(clearer))
{
}

QtClipboard::~QtClipboard()
{
    // Answers still under way end here, while the object they are posted to still exists.
    m_reader = nullptr;
}

void QtClipboard::requestText(TextHandler handler)
{
    m_reader([this, handler = std::move(handler)](std::optional<QString> text) {
        QMetaObject::invokeMethod(
            this, [handler, text = std::move(text)] { handler(text); }, Qt::QueuedConnection);
    });
}

void QtClipboard::clear()
{
    // A Wayland compositor gives the selection only to a focused window, which a tray menu
    // never is.
    if (m_clearer && m_clearer())
        return;
    refreshServerTime();
    // Owning the selection with data of no format answers every other
    // application's request with "nothing", so it reads as empty everywhere.
    QGuiApplication::clipboard()->setMimeData(new QMimeData, QClipboard::Clipboard);
}
