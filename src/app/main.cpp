#include "MenuBarContent.h"
#include "QtClipboard.h"
#include "SingleInstance.h"
#include "TrayIcon.h"

#include "model/AppState.h"
#include "model/PreferenceStore.h"
#include "platform/Platform.h"
#include "platform/x11/X11AccessibilityTrust.h"
#include "platform/x11/X11ClipboardReader.h"
#include "platform/x11/X11DisplayOwnership.h"
#include "platform/x11/X11KeyInjector.h"
#include "platform/x11/X11KeyboardTap.h"
#include "settings/SettingsWindow.h"

#include <QApplication>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

std::atomic<bool> leavingMain = false;

// Typed texts may be secrets: no core file of them, and no ptrace or /proc reading of our
// memory by the user's other processes. A piped core pattern ignores the limit, not the flag.
void keepMemoryPrivate()
{
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
}

} // namespace

int main(int argc, char *argv[])
{
    keepMemoryPrivate();

    // The keyboard backends speak X11, so the clipboard and windows must too,
    // also inside a Wayland session (through XWayland).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("keyloom"));
    QApplication::setApplicationDisplayName(QStringLiteral("Keyloom"));
    QApplication::setDesktopFileName(QStringLiteral("keyloom"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/keyloom/icons/keyloom-idle.svg")));
    // Closing the settings window leaves the tray item running.
    QApplication::setQuitOnLastWindowClosed(false);

    // Before any grab or tray item: a second start only wakes the first one.
    X11DisplayOwnership display;
    SingleInstance instance(SingleInstance::defaultBasePath(), &display);
    if (!instance.claim())
        return instance.askRunningToOpenSettings() ? 0 : 1;

    X11KeyInjector injector;
    X11KeyboardTap tap;
    QtClipboard clipboard([reader = std::make_shared<X11ClipboardReader>(qgetenv("DISPLAY"))](
                              auto done) { reader->read(std::move(done)); });
    X11AccessibilityTrust trust;

    // Loads the settings, registers both shortcuts and installs the tap.
    AppState state(Platform{injector, tap, clipboard, trust}, PreferenceStore::defaultPath());

    SettingsWindow settings(state);
    MenuBarContent menu(state);
    TrayIcon tray(state, menu.menu());

    QObject::connect(&menu, &MenuBarContent::settingsRequested, &settings, &SettingsWindow::open);
    QObject::connect(&menu, &MenuBarContent::quitRequested, &app, &QApplication::quit, Qt::QueuedConnection);
    QObject::connect(&instance, &SingleInstance::settingsRequested, &settings, &SettingsWindow::open);

    // Without a tray the program would run invisibly: show the settings window instead.
    if (!tray.show())
        settings.open();

    // Qt calls exit(1) when its X connection breaks. Static destructors must not run
    // under the typing thread then: leave at once, as a lost server leaves nothing to undo.
    std::atexit([] {
        if (!leavingMain)
            _exit(1);
    });
    const int status = app.exec();
    leavingMain = true;
    return status;
}
