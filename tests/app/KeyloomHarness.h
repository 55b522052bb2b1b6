#pragma once

// The real keyloom program on a private X server, driven from outside as a user would:
// XTEST key presses, a clipboard owned by another process, a tray host, and a focused
// client that records what it receives. Shared by the end-to-end and fault suites.
#include "X11TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>

#include <X11/keysym.h>

namespace KeyloomHarness {

constexpr int deadlineMs = 30000;
const QList<quint32> mainChord{XK_Control_L, XK_Super_L, XK_semicolon};
const QList<quint32> prevChord{XK_Control_L, XK_Alt_L, XK_Super_L, XK_semicolon};

QString program(const char *variable);
bool waitFor(const std::function<bool()> &condition, int timeoutMs = deadlineMs);

// Keyloom windows embedded in a tray, viewable top-level windows by title, and what the
// tray item shows.
int trayItems(_XDisplay *display);
int windowsTitled(_XDisplay *display, const QByteArray &prefix);
QByteArray trayItemPixels(_XDisplay *display);

// The keyloom binary with its own config and runtime folders; its output is kept.
class Keyloom {
public:
    Keyloom(const QByteArray &display, const QString &configHome, const QString &runtimeDir);
    ~Keyloom() { stop(); }
    void setEnvironment(const QString &name, const QString &value);
    bool start();
    // Ends it with SIGTERM; true when it went in time by exiting or by that signal, not a crash.
    bool stop();
    QByteArray output();
    QByteArray standardError() { return output(), m_err; }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
    QByteArray m_out;
    QByteArray m_err;
};

// One fixture X server with a tray host, fresh folders and a recording client per test.
class Desktop {
public:
    // Empty when the program, the recorder, xclip and trayer are all there.
    static QString missingTool();
    bool open(const char *stateVariable);
    void close();
    bool init();
    bool cleanup(); // no key left down and the keymap given back

    QString configDir() const { return config->filePath(QStringLiteral("keyloom")); }
    QString configPath() const { return config->filePath(QStringLiteral("keyloom/keyloom.conf")); }
    std::unique_ptr<Keyloom> keyloom(const QByteArray &display = {}) const;
    bool startKeyloom(Keyloom &keyloom); // and wait for its tray item: the grabs are in place
    bool restartClient();                // a new client takes the focus back

    void chord(const QList<quint32> &keys, _XDisplay *on = nullptr);
    QString typed(X11TestSupport::FocusClient *from = nullptr); // without the Esc probes
    int escapes();
    bool waitForTyped(const QString &expected);
    bool waitUntilIdle(); // an Esc reaches the client: the program takes it only during a run
    bool chooseFromMenu(int upPresses); // from the bottom: 1 is Quit
    bool quitFromMenu(Keyloom &keyloom);

    void writeSettings(const QList<std::pair<QString, QVariant>> &values);
    void writePlaylist(const QStringList &texts, qint64 index, double speedMs = 5);
    QVariant stored(const QString &key) const;
    bool waitForStoredIndex(qint64 index) const;

    bool setClipboard(const QByteArray &bytes, const QByteArray &display = {});
    void stopClipboardOwner();
    std::optional<QByteArray> readClipboard(const QByteArray &display = {});

    QByteArray name;
    _XDisplay *display = nullptr;
    std::unique_ptr<QTemporaryDir> config;
    std::unique_ptr<QTemporaryDir> runtime;
    std::unique_ptr<X11TestSupport::FocusClient> client;
    std::unique_ptr<QProcess> clipboardOwner;

private:
    QByteArray m_keymap;
    QProcess m_trayHost;
};

// The focused client sees Return for a line feed and reports a carriage return.
inline QString withReturns(QString text)
{
    return text.replace(QLatin1Char('\n'), QLatin1Char('\r'));
}

} // namespace KeyloomHarness
