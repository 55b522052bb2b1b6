#include "X11TestSupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#define KeyCode XKeyCode
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#undef KeyCode

namespace X11TestSupport {

QByteArray fixtureDisplay(const char *stateVariable)
{
    QFile file(QString::fromLocal8Bit(qgetenv(stateVariable)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readLine().trimmed();
}

FocusClient::~FocusClient()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool FocusClient::start(const QString &program, const QStringList &arguments,
                        const QByteArray &display)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLocal8Bit(display));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("QT_IM_MODULE"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program, arguments);
    if (!m_process.waitForStarted(10000))
        return false;
    const QDeadlineTimer deadline(20000);
    while (!m_ready && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(100);
        poll();
    }
    return m_ready;
}

void FocusClient::poll()
{
    m_pending += m_process.readAllStandardOutput();
    qsizetype end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QByteArray line = m_pending.left(end);
        m_pending.remove(0, end + 1);
        const QList<QByteArray> f = line.split(' ');
        if (f.value(0) == "READY") {
            m_ready = true;
            m_window = f.value(1).toULong();
        } else if (f.value(0) == "SYNC" && f.size() >= 2) {
            m_syncsSeen = f[1].toLong();
        } else if (f.value(0) == "P" && f.size() >= 5) {
            const Press p{f[1].toUInt(), f[2].toUInt(), f[3].toUInt(nullptr, 16),
                          f[4] == "-" ? QString() : QString::fromUtf8(QByteArray::fromHex(f[4]))};
            m_text += p.text;
            m_presses.append(p);
        } else if (f.value(0) == "T") {
            m_text = QString::fromUtf8(QByteArray::fromHex(f.value(1)));
        }
    }
}

bool FocusClient::sync(Display *display, int timeoutMs)
{
    if (!m_window)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = m_window;
    event.xclient.message_type = XInternAtom(display, "KEYLOOM_TEST_SYNC", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = ++m_syncsSent;
    XSendEvent(display, m_window, False, NoEventMask, &event);
    XSync(display, False);
    const QDeadlineTimer deadline(timeoutMs);
    while (m_syncsSeen < m_syncsSent && !deadline.hasExpired() &&
           m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(100);
        poll();
    }
    return m_syncsSeen == m_syncsSent;
}

void FocusClient::clear()
{
    poll();
    m_text.clear();
    m_presses.clear();
}

QByteArray keymapSnapshot(Display *display)
{
    // Types, actions and behaviours too: a keymap write may change them and keep the keysyms.
    QByteArray out;
    constexpr unsigned parts = XkbKeySymsMask | XkbKeyActionsMask | XkbKeyBehaviorsMask |
                               XkbExplicitComponentsMask | XkbVirtualModMapMask |
                               XkbModifierMapMask;
    if (XkbDescPtr xkb = XkbGetMap(display, parts, XkbUseCoreKbd)) {
        for (int kc = xkb->min_key_code; kc <= xkb->max_key_code; ++kc) {
            out += QByteArray::number(XkbKeyNumGroups(xkb, kc)) + ':';
            for (int g = 0; g < XkbKeyNumGroups(xkb, kc); ++g)
                out += QByteArray::number(XkbKeyKeyTypeIndex(xkb, kc, g)) + '.';
            for (int i = 0; i < XkbKeyNumSyms(xkb, kc); ++i)
                out += QByteArray::number(qulonglong(XkbKeySymsPtr(xkb, kc)[i]), 16) + '.';
            if (XkbKeyHasActions(xkb, kc))
                out += QByteArray(reinterpret_cast<const char *>(XkbKeyActionsPtr(xkb, kc)),
                                  int(XkbKeyNumActions(xkb, kc) * sizeof(XkbAction)))
                           .toHex();
            out += QByteArray::number(xkb->server->behaviors[kc].type) + '/' +
                   QByteArray::number(xkb->server->c_explicit[kc]) + '/' +
                   QByteArray::number(xkb->server->vmodmap[kc]) + '/' +
                   QByteArray::number(xkb->map->modmap[kc]) + ',';
        }
        XkbFreeKeyboard(xkb, 0, True);
    }
    return out;
}

QList<unsigned> keysDown(Display *display)
{
    char keys[32] = {};
    XQueryKeymap(display, keys);
    QList<unsigned> down;
    for (unsigned kc = 0; kc < 256; ++kc) {
        if (keys[kc / 8] & (1 << (kc % 8)))
            down.append(kc);
    }
    return down;
}

int spareKeyCount(Display *display)
{
    XkbDescPtr xkb = XkbGetMap(display, XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
    if (!xkb)
        return 0;
    int n = 0;
    for (int kc = std::max(8, int(xkb->min_key_code)); kc <= xkb->max_key_code; ++kc) {
        if (XkbKeyNumGroups(xkb, kc) == 0 && !xkb->map->modmap[kc])
            ++n;
    }
    XkbFreeKeyboard(xkb, 0, True);
    return n;
}

void fakeKey(Display *display, quint32 keysym, bool down)
{
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, keysym), down ? True : False, CurrentTime);
    XSync(display, False);
}

bool capsLockOn(Display *display)
{
    XkbStateRec state;
    XkbGetState(display, XkbUseCoreKbd, &state);
    return state.locked_mods & LockMask;
}

bool setLayout(const QByteArray &display, const QStringList &arguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(QStringLiteral("setxkbmap"),
            QStringList{QStringLiteral("-display"), QString::fromLocal8Bit(display)} + arguments);
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace X11TestSupport
