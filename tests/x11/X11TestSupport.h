#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

struct _XDisplay;

// Helpers shared by the x11 tests: the fixture's display, a focused client in
// a process of its own, and snapshots of the server's keyboard state.
namespace X11TestSupport {

/// The display of the Xvfb fixture whose state file the named variable points to.
QByteArray fixtureDisplay(const char *stateVariable = "KEYLOOM_XVFB_STATE");

struct Press {
    unsigned keyCode = 0;
    unsigned state = 0;
    quint32 keysym = 0;
    QString text;
};

// A focus-owning client (x11_recorder or x11_qtfield) and what it received.
class FocusClient {
public:
    ~FocusClient();
    /// Starts the program and waits until it reports the focus; false on failure or deadline.
    bool start(const QString &program, const QStringList &arguments, const QByteArray &display);
    /// Reads what arrived so far; call in a polling loop.
    void poll();
    /// The recorder only: waits until it has read every key event the server generated
    /// before this call (a client message queued behind them); false on deadline.
    bool sync(_XDisplay *display, int timeoutMs);
    /// The text received: key presses for the recorder, the field's content for the Qt field.
    QString text() const { return m_text; }
    QList<Press> presses() const { return m_presses; }
    void clear();

private:
    QProcess m_process;
    QByteArray m_pending;
    QString m_text;
    QList<Press> m_presses;
    bool m_ready = false;
    unsigned long m_window = 0;
    long m_syncsSent = 0;
    long m_syncsSeen = 0;
};

/// The keyboard map as XKB holds it (symbols, types, actions, modifiers), to compare.
QByteArray keymapSnapshot(_XDisplay *display);

/// The keycodes currently down.
QList<unsigned> keysDown(_XDisplay *display);

/// Number of keycodes without any symbol and outside the modifier map.
int spareKeyCount(_XDisplay *display);

/// Presses (true) or releases a key through XTEST, addressed by keysym.
void fakeKey(_XDisplay *display, quint32 keysym, bool down);

/// Whether CapsLock is locked on.
bool capsLockOn(_XDisplay *display);

/// Runs setxkbmap with the arguments on the display; true on success.
bool setLayout(const QByteArray &display, const QStringList &arguments);

} // namespace X11TestSupport
