#include "Language.h"
#include "MenuBarContent.h"
#include "QtClipboard.h"
#include "SettingsLoader.h"
#include "SingleInstance.h"
#include "TrayIcon.h"

#include "model/AppState.h"
#include "model/PreferenceStore.h"
#include "platform/DisplayOwnership.h"
#include "platform/Platform.h"
#include "platform/desktop/Desktop.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTextStream>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

std::atomic<bool> leavingMain = false;

// Typed texts may be secrets: no core file of them, and no ptrace or /proc reading of our
// memory by the user's other processes. A piped core pattern ignores the limit, not the flag.
// The desktop portal, which Wayland desktops type and bind shortcuts through, tells its
// callers apart by their /proc entry and refuses one it cannot read: there the limit alone.
void keepMemoryPrivate()
{
    if (Desktop::session() == Desktop::Session::X11)
        prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
}

// Shown through the translation, as are the messages below.
const char *const usage =
    QT_TRANSLATE_NOOP("main", R"(Usage: keyloom [--toggle | --previous | --stop | --settings]

Without an option, starts Keyloom in the system tray (or opens the settings window of the
Keyloom already running). The options control the running Keyloom, for a keyboard shortcut
set in the desktop's own settings or for a script:

  --toggle     start typing (the clipboard or the current snippet), or stop a run;
               like Keyloom's own shortcut, after every key is let go
  --previous   step back to the previous snippet (list mode)
  --stop       stop typing
  --settings   open the settings window
  --help       show this help

The exit status is 0 when the running Keyloom took the command, and 1 when none runs.
)");

struct Option {
    const char *name;
    SingleInstance::Command command;
};
constexpr Option options[] = {
    {"--toggle", SingleInstance::Command::Toggle},
    {"--previous", SingleInstance::Command::Previous},
    {"--stop", SingleInstance::Command::Stop},
    {"--settings", SingleInstance::Command::OpenSettings},
};

// Hands a command to the running instance; the process never becomes one itself.
int sendCommand(SingleInstance::Command command)
{
    const std::unique_ptr<DisplayOwnership> display = Desktop::ownership();
    SingleInstance instance(SingleInstance::defaultBasePath(Desktop::displayName()), display.get());
    switch (instance.send(command)) {
    case SingleInstance::Answer::Taken:
        return 0;
    case SingleInstance::Answer::NotRunning:
        QTextStream(stderr) << "keyloom: "
                            << QCoreApplication::translate("main", "No Keyloom is running.")
                            << Qt::endl;
        return 1;
    case SingleInstance::Answer::NoAnswer:
        break;
    }
    QTextStream(stderr) << "keyloom: "
                        << QCoreApplication::translate("main",
                                                       "The running Keyloom did not answer.")
                        << Qt::endl;
    return 1;
}

void handleCommand(SingleInstance::Command command, AppState &state, SettingsLoader &settings)
{
    switch (command) {
    case SingleInstance::Command::Toggle:
        // The keys bound to the command are the desktop's, not ours: wait for all of them.
        state.toggleTyping(ReleaseWait{ReleaseWait::Kind::AllKeys, nullptr});
        break;
    case SingleInstance::Command::Previous:
        state.stepBack();
        break;
    case SingleInstance::Command::Stop:
        state.stopTyping();
        break;
    case SingleInstance::Command::OpenSettings:
        settings.open();
        break;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    keepMemoryPrivate();

    // Our own options come first; the rest are the toolkit's (-platform, -style, ...).
    std::optional<SingleInstance::Command> command;
    const char *unknown = nullptr;
    bool help = false;
    for (int i = 1; i < argc && !help && !unknown; ++i) {
        help = !std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h");
        for (const Option &option : options) {
            if (!std::strcmp(argv[i], option.name))
                command = option.command;
        }
        if (!help && !command && !std::strncmp(argv[i], "--", 2))
            unknown = argv[i];
    }
    if (help || unknown || command) {
        // No display needed: only the translation of what is printed.
        QCoreApplication core(argc, argv);
        Language::install();
        if (help) {
            QTextStream(stdout) << QCoreApplication::translate("main", usage);
            return 0;
        }
        if (unknown) {
            QTextStream(stderr) << "keyloom: "
                                << QCoreApplication::translate(
                                       "main", "unknown option %1 (see keyloom --help)")
                                       .arg(QString::fromLocal8Bit(unknown))
                                << Qt::endl;
            return 2;
        }
        return sendCommand(*command);
    }

    Desktop::choosePlatformPlugin();
    QApplication app(argc, argv);
    Language::install();
    QApplication::setApplicationName(QStringLiteral("keyloom"));
    QApplication::setApplicationDisplayName(QStringLiteral("Keyloom"));
    QApplication::setDesktopFileName(QStringLiteral("keyloom"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/keyloom/icons/keyloom-idle.svg")));
    // Closing the settings window leaves the tray item running.
    QApplication::setQuitOnLastWindowClosed(false);

    // Before any grab or tray item: a second start only wakes the first one.
    const std::unique_ptr<DisplayOwnership> display = Desktop::ownership();
    SingleInstance instance(SingleInstance::defaultBasePath(Desktop::displayName()), display.get());
    if (!instance.claim())
        return instance.askRunningToOpenSettings() ? 0 : 1;

    Desktop desktop;
    QtClipboard clipboard(desktop.clipboardReader(),
                          [&desktop] { return desktop.clearClipboard(); });

    // Loads the settings, registers both shortcuts and installs the tap.
    AppState state(
        Platform{desktop.injector(), desktop.tap(), clipboard, desktop.trust(), desktop.notifier()},
        PreferenceStore::defaultPath());

    SettingsLoader settings(state);
    MenuBarContent menu(state);
    TrayIcon tray(state, menu.menu());

    QObject::connect(&menu, &MenuBarContent::settingsRequested, &settings, &SettingsLoader::open);
    QObject::connect(&menu, &MenuBarContent::quitRequested, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    QObject::connect(&instance, &SingleInstance::commandReceived, &state,
                     [&](SingleInstance::Command c) { handleCommand(c, state, settings); });

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
