// Renders the settings window in its notable states to PNG files, and reports the
// process's resident memory around the window's life. Run on a real display (Xvfb):
//   keyloom_settings_shot [--dark] <output dir>
//   keyloom_settings_shot --memory [open/close cycles]

#include "FakePlatform.h"
#include "ManualPreviewClock.h"
#include "model/AppState.h"
#include "settings/SettingsView.h"
#include "settings/SettingsWindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

/// A field of /proc/self/status in kB, e.g. "VmRSS", "RssAnon", "RssFile".
long statusKb(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

void report(const char *when)
{
    std::printf("%-28s VmRSS %6ld kB (anonymous %6ld kB, files %6ld kB)\n", when, statusKb("VmRSS"),
                statusKb("RssAnon"), statusKb("RssFile"));
}

QQuickItem *findItem(QQuickItem *item, const QString &name)
{
    if (item->objectName() == name)
        return item;
    for (QQuickItem *child : item->childItems()) {
        if (QQuickItem *found = findItem(child, name))
            return found;
    }
    return nullptr;
}

QQuickItem *flickableOf(QQuickItem *item)
{
    for (QQuickItem *p = item; p; p = p->parentItem()) {
        if (p->inherits("QQuickFlickable"))
            return p;
    }
    return nullptr;
}

/// Scrolls the form so that the named item's top sits `margin` below the window's top (or to the end).
void scrollTo(QQuickWindow *window, const QString &name, double margin = 8)
{
    window->contentItem()->polish();
    QCoreApplication::processEvents();
    QQuickItem *target = findItem(window->contentItem(), name);
    QQuickItem *flick = target ? flickableOf(target->parentItem()) : nullptr;
    if (!flick)
        return;
    const double y = target->mapToItem(flick->childItems().value(0), QPointF(0, 0)).y() - margin;
    const double maxY = std::max(0.0, flick->property("contentHeight").toDouble() - flick->height());
    flick->setProperty("contentY", std::clamp(y, 0.0, maxY));
}

void settle()
{
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(20);
    }
}

bool save(QQuickWindow *window, const QString &path)
{
    settle();
    const QImage image = window->grabWindow();
    const bool ok = image.save(path);
    std::printf("%s %s (%dx%d)\n", ok ? "wrote" : "FAILED", qPrintable(path), image.width(), image.height());
    return ok;
}

int memory(SettingsWindow &settings, int cycles)
{
    settle();
    report("idle, before first open");
    settings.open();
    (void)QTest::qWaitForWindowExposed(settings.window());
    QTest::qWait(1500);
    report("window open");
    settings.window()->close();
    QTest::qWait(500);
    report("after close");
    for (int i = 0; i < cycles; ++i) {
        settings.open();
        (void)QTest::qWaitForWindowExposed(settings.window());
        QTest::qWait(300);
        settings.window()->close();
        QTest::qWait(300);
    }
    std::printf("after %d more open/close:\n", cycles);
    report("");
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList args = app.arguments();
    // A run under a dark desktop theme (the script selects one) writes only its own picture.
    const bool dark = args.contains(QStringLiteral("--dark"));
    const bool memoryOnly = args.contains(QStringLiteral("--memory"));
    const QString outDir = args.value(dark ? 2 : 1);
    if (!memoryOnly && outDir.isEmpty()) {
        std::fprintf(stderr, "usage: keyloom_settings_shot [--dark] <output dir> | --memory\n");
        return 2;
    }

    QTemporaryDir dir;
    FakePlatform fake;
    AppState state(fake.platform(), dir.filePath(QStringLiteral("k.conf")), fake.pauser);
    SettingsWindow settings(state);
    if (memoryOnly)
        return memory(settings, args.value(args.indexOf(QStringLiteral("--memory")) + 1).toInt() > 0
                                    ? args.value(args.indexOf(QStringLiteral("--memory")) + 1).toInt()
                                    : 5);

    auto handle = std::make_shared<ManualPreviewClock::Handle>();
    settings.setPreviewClockFactory([handle] { return std::make_unique<ManualPreviewClock>(handle); });
    QDir().mkpath(outDir);
    const auto step = [&](int n) {
        for (int i = 0; i < n && handle->clock; ++i)
            handle->clock->fire();
    };
    bool ok = true;

    if (dark) {
        state.setTypingMode(TypingMode::Playlist);
        for (const QString &text : {QStringLiteral("Good morning! Thanks for reaching out."),
                                    QStringLiteral("Kind regards,\nAlex")})
            state.addSnippet(text);
        fake.clipboard.content = QStringLiteral("Hello from the clipboard!");
        settings.open();
        (void)QTest::qWaitForWindowExposed(settings.window());
        step(13);
        ok &= save(settings.window(), outDir + QStringLiteral("/settings-dark.png"));
        settings.window()->close();
        QTest::qWait(100);
        return ok ? 0 : 1;
    }

    // Clipboard mode: text on the clipboard, the preview part-way through it.
    fake.clipboard.content = QStringLiteral("Hello from the clipboard!");
    settings.open();
    (void)QTest::qWaitForWindowExposed(settings.window());
    step(13);
    ok &= save(settings.window(), outDir + QStringLiteral("/settings-clipboard-mode.png"));

    // Recording the main shortcut.
    settings.view()->recorder()->startRecording();
    scrollTo(settings.window(), QStringLiteral("typingSpeedSection"));
    ok &= save(settings.window(), outDir + QStringLiteral("/settings-recording.png"));
    settings.view()->recorder()->stopRecording();

    // List mode with snippets, the second one current.
    fake.clipboard.content.reset();
    settings.view()->preview()->refreshClipboard();
    step(20);
    state.setTypingMode(TypingMode::Playlist);
    for (const QString &text : {QStringLiteral("Good morning! Thanks for reaching out."),
                                QStringLiteral("Please find the report attached.\nLet me know if anything is missing."),
                                QStringLiteral("Kind regards,\nAlex"),
                                QStringLiteral("https://example.com/meeting/4711")})
        state.addSnippet(text);
    state.setCurrentSnippetIndex(1);
    settle();
    scrollTo(settings.window(), QStringLiteral("snippetsSection"));
    ok &= save(settings.window(), outDir + QStringLiteral("/settings-list-mode.png"));

    // Not trusted: the permission section asks for access.
    settings.window()->close();
    QTest::qWait(100);
    fake.trust.trusted = false;
    state.setTypingMode(TypingMode::Clipboard);
    settings.open();
    (void)QTest::qWaitForWindowExposed(settings.window());
    step(44);
    settle();
    settle();
    scrollTo(settings.window(), QStringLiteral("permissionsSection"), 10000);
    ok &= save(settings.window(), outDir + QStringLiteral("/settings-not-trusted.png"));
    settings.window()->close();
    QTest::qWait(100);

    return ok ? 0 : 1;
}
