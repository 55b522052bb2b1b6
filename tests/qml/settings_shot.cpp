// Renders the settings window in its notable states to PNG files. Run on a real
// display (Xvfb):  keyloom_settings_shot [--dark] <output dir>
#include "SettingsFixture.h"

#include <QApplication>
#include <QDir>
#include <QTest>

#include <cstdio>

namespace {

/// Scrolls the form so that the named item's top sits `margin` below the window's top (or to the
/// end).
void scrollTo(const SettingsFixture &f, const QString &name, double margin = 8)
{
    f.window()->contentItem()->polish();
    QCoreApplication::processEvents();
    QQuickItem *flick = f.item(name);
    while (flick && !flick->inherits("QQuickFlickable"))
        flick = flick->parentItem();
    if (!flick)
        return;
    const double y = f.item(name)->mapToItem(flick->childItems().value(0), QPointF()).y() - margin;
    const double maxY =
        std::max(0.0, flick->property("contentHeight").toDouble() - flick->height());
    flick->setProperty("contentY", std::clamp(y, 0.0, maxY));
}

bool save(const SettingsFixture &f, const QString &path)
{
    for (int i = 0; i < 10; ++i)
        QTest::qWait(20);
    const QImage image = f.window()->grabWindow();
    const bool ok = image.save(path);
    std::printf("%s %s (%dx%d)\n", ok ? "wrote" : "FAILED", qPrintable(path), image.width(),
                image.height());
    return ok;
}

void addSnippets(AppState &state, const QStringList &texts)
{
    state.setTypingMode(TypingMode::Playlist);
    for (const QString &text : texts)
        state.addSnippet(text);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // A run under a dark desktop theme (the script selects one) writes only its own picture.
    const bool dark = app.arguments().contains(QStringLiteral("--dark"));
    const QString outDir = app.arguments().value(dark ? 2 : 1);
    if (outDir.isEmpty()) {
        std::fprintf(stderr, "usage: keyloom_settings_shot [--dark] <output dir>\n");
        return 2;
    }
    QDir().mkpath(outDir);
    SettingsFixture f;
    const auto step = [&f](int n) {
        for (int i = 0; i < n && f.clock(); ++i)
            f.clock()->fire();
    };
    const auto out = [&outDir](const char *name) { return outDir + u'/' + QLatin1String(name); };
    const QString greeting = QStringLiteral("Good morning! Thanks for reaching out.");
    const QString regards = QStringLiteral("Kind regards,\nAlex");
    f.fake.clipboard.content = QStringLiteral("Hello from the clipboard!");
    if (dark) {
        addSnippets(*f.state, {greeting, regards});
        f.open();
        step(13);
        return save(f, out("settings-dark.png")) ? 0 : 1;
    }

    // Clipboard mode, the preview part-way through the text; then recording a shortcut.
    f.open();
    step(13);
    bool ok = save(f, out("settings-clipboard-mode.png"));
    f.view()->recorder()->startRecording();
    scrollTo(f, QStringLiteral("typingSpeedSection"));
    ok &= save(f, out("settings-recording.png"));
    f.view()->recorder()->stopRecording();

    // List mode with snippets, the second one current.
    f.fake.clipboard.content.reset();
    f.view()->preview()->refreshClipboard();
    step(20);
    addSnippets(*f.state, {greeting,
                           QStringLiteral("Please find the report attached.\nLet me know if "
                                          "anything is missing."),
                           regards, QStringLiteral("https://example.com/meeting/4711")});
    f.state->setCurrentSnippetIndex(1);
    scrollTo(f, QStringLiteral("snippetsSection"));
    ok &= save(f, out("settings-list-mode.png"));

    // Not trusted: the permission section asks for access.
    f.close();
    f.fake.trust.trusted = false;
    f.state->setTypingMode(TypingMode::Clipboard);
    f.open();
    step(44);
    scrollTo(f, QStringLiteral("permissionsSection"), 10000);
    ok &= save(f, out("settings-not-trusted.png"));
    return ok ? 0 : 1;
}
