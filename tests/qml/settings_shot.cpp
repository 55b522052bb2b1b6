// The settings window's notable states as PNG files, on Xvfb:
//   keyloom_settings_shot [--dark | --translation <file.qm>] <dir>
#include "SettingsFixture.h"

#include <QApplication>
#include <QDir>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // A run under a dark desktop theme (the script selects one) writes only its own picture.
    const bool dark = app.arguments().contains(u"--dark"_s);
    // A translated run writes only the first picture, named after the language.
    QTranslator translator;
    const bool translated = app.arguments().value(1) == u"--translation"_s;
    if (translated &&
        !(translator.load(app.arguments().value(2)) && app.installTranslator(&translator)))
        return 1;
    const QString dir = app.arguments().value(translated ? 3 : dark ? 2 : 1);
    SettingsFixture f;
    bool ok = !dir.isEmpty() && QDir().mkpath(dir);
    const auto shoot = [&](const char *name, int steps, const char *scrollTo = "") {
        ok = f.open() && ok;
        while (steps-- > 0)
            f.clock.fire();
        if (QQuickItem *item = f.item(QString::fromLatin1(scrollTo)))
            f.reveal(item);
        QTest::qWait(200);
        const QString path = dir + u'/' + QLatin1String(name);
        ok = f.window()->grabWindow().save(path) && ok;
        qInfo("%s %s", ok ? "wrote" : "FAILED with", qPrintable(path));
    };
    f.fake.clipboard.content = u"Hello from the clipboard!"_s;
    const QStringList snippets{
        u"Good morning! Thanks for reaching out."_s,
        u"Please find the report attached.\nLet me know if anything is missing."_s,
        u"Kind regards,\nAlex"_s, u"https://example.com/meeting/4711"_s};
    for (qsizetype i = 0; i < snippets.size(); i += dark ? 2 : 1) // the dark one shows two
        f.state->addSnippet(snippets[i]);
    f.state->setTypingMode(dark ? TypingMode::Playlist : TypingMode::Clipboard);
    const QByteArray first =
        translated ? "settings-" + translator.language().toLatin1() + ".png"
                   : QByteArray(dark ? "settings-dark.png" : "settings-clipboard-mode.png");
    shoot(first.constData(), 13);
    if (dark || translated)
        return ok ? 0 : 1;
    f.recorder()->startRecording();
    shoot("settings-recording.png", 0, "typingSpeedSection");
    f.recorder()->stopRecording();
    // List mode, the second snippet current, the clipboard empty.
    f.fake.clipboard.content.reset();
    f.preview()->refreshClipboard();
    f.state->setTypingMode(TypingMode::Playlist);
    f.state->setCurrentSnippetIndex(1);
    shoot("settings-list-mode.png", 20, "snippetsSection");
    // Not trusted: read as the window opens, so it is opened anew.
    f.window()->close();
    ok = QTest::qWaitFor([&] { return !f.window(); }) && ok;
    f.fake.trust.trusted = false;
    f.state->setTypingMode(TypingMode::Clipboard);
    shoot("settings-not-trusted.png", 44, "permissionsSection");
    return ok ? 0 : 1;
}
