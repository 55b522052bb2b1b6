#pragma once

// The real keyloom program on a private X server, driven from outside as a user would:
// XTEST key presses, a clipboard owned by another process, a tray host, and a focused
// client that records what it receives.
#include "X11TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QVariant>

#include <functional>
#include <list>
#include <memory>
#include <optional>

#include <X11/keysym.h>

namespace KeyloomHarness {

constexpr int deadlineMs = 30000;
const QList<quint32> mainChord{XK_Control_L, XK_Super_L, XK_semicolon};
const QList<quint32> prevChord{XK_Control_L, XK_Alt_L, XK_Super_L, XK_semicolon};

bool waitFor(const std::function<bool()> &condition, int timeoutMs = deadlineMs);
// What a program wrote, when it ended well in time; DISPLAY set when one is given.
std::optional<QByteArray> run(const QString &program, const QStringList &arguments,
                              const QByteArray &display = {});
// Window ids that `xdotool search` finds on the display.
QStringList search(const QByteArray &display, const QStringList &arguments);
const QStringList settingsWindow{"--onlyvisible", "--maxdepth", "1", "--name", "^Keyloom Settings"};
QString trayItem(const QByteArray &display); // empty unless exactly one

// Tests on the fixture X server with a tray host; fresh folders and a recording client per
// test. After each: no key down, the keymap given back, no typed text in the program's output.
class DesktopTest : public QObject {
    Q_OBJECT
public:
    QString configPath() const { return config->filePath("keyloom/keyloom.conf"); }
    // The stored list position as the file holds it now, -1 for none. Read afresh: QSettings
    // takes a file of unchanged size and time for unchanged, and file times have the coarse
    // grain of the kernel's clock, so a quick rewrite of the same size would go unseen.
    int storedIndex() const;
    // The program with this test's folders, ended with the test.
    QProcess &keyloom(const QByteArray &display = {});
    bool startKeyloom(QProcess &keyloom); // and wait for its tray item: the grabs are in place
    int command(const QString &option);   // `keyloom <option>`'s exit status
    QByteArray output();                  // what the test's programs wrote so far
    bool restartClient();                 // a new client takes the focus back
    void chord(const QList<quint32> &keys, _XDisplay *on = nullptr);
    QString typed(X11TestSupport::FocusClient *from = nullptr); // without the Esc probes
    bool waitForTyped(const QString &expected);
    bool waitUntilIdle(); // an Esc reaches the client: the program takes it only during a run
    bool chooseFromMenu(int upPresses); // from the bottom: 1 is Quit
    QByteArray icon();                  // the tray item's pixels
    QByteArray settledIcon();           // once it stays the same
    void writeSettings(const QList<std::pair<QString, QVariant>> &values);
    void writePlaylist(const QStringList &texts);
    bool setClipboard(const QByteArray &bytes, const QByteArray &display = {});

    QByteArray name;
    _XDisplay *display = nullptr;
    std::unique_ptr<QTemporaryDir> config, runtime;
    std::unique_ptr<X11TestSupport::FocusClient> client;
    QProcess clipboardOwner;

private slots:
    void initTestCase();
    void init();
    void cleanup();

private:
    std::list<QProcess> m_keylooms;
    QByteArray m_output, m_keymap;
    QProcess m_trayHost;
};

} // namespace KeyloomHarness
