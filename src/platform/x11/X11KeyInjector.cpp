#include "X11KeyInjector.h"

#include "X11ExitGuard.h"
#include "X11KeySession.h"
#include "X11SpareKeys.h"

#include <mutex>
#include <utility>

#include "X11Display.h"
#include "X11Headers.h"

X11KeyInjector::X11KeyInjector() : X11KeyInjector(qgetenv("DISPLAY")) {}

namespace {

// Key presses and keymap changes stop once the program is ending, so that the signal path
// finds nothing of ours pressed or bound after it has cleaned up.
class GuardedSession final : public KeySession {
public:
    explicit GuardedSession(std::unique_ptr<KeySession> session) : m_session(std::move(session)) {}
    bool isKeyDown(quint16 keyCode) override { return m_session->isKeyDown(keyCode); }
    bool anyKeyDown() override { return m_session->anyKeyDown(); }
    bool lost() const override { return m_session->lost(); }
    void prepare(QStringView upcoming) override
    {
        X11ExitGuard::unlessEnding([&] { m_session->prepare(upcoming); });
    }
    void postKey(quint16 keyCode, bool down, QStringView text) override
    {
        X11ExitGuard::unlessEnding([&] { m_session->postKey(keyCode, down, text); });
    }
    void watchStop(std::stop_token stop) override { m_session->watchStop(std::move(stop)); }
    std::chrono::nanoseconds takeTimeSpent() override { return m_session->takeTimeSpent(); }

private:
    std::unique_ptr<KeySession> m_session;
};

} // namespace

X11KeyInjector::X11KeyInjector(QByteArray displayName) : m_displayName(std::move(displayName))
{
    X11ExitGuard::arm(m_displayName);
    Display *display = openX11Display(m_displayName);
    if (!display)
        return;
    static std::once_flag once;
    // A crash in the middle of a shifted word must not leave Shift down for the next session.
    std::call_once(once, [display] { X11ExitGuard::releaseXTestKeys(display); });
    // What a killed instance left bound is undone now, not when the first run begins.
    X11SpareKeys::cleanLeftovers(display, X11SpareKeys::Leftovers::OfEndedProcesses);
    XCloseDisplay(display);
}

std::unique_ptr<KeySession> X11KeyInjector::openSession()
{
    std::unique_ptr<KeySession> session = X11KeySession::open(m_displayName);
    if (!session)
        return nullptr;
    return std::make_unique<GuardedSession>(std::move(session));
}
