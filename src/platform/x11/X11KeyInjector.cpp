#include "X11KeyInjector.h"

#include "X11ExitGuard.h"
#include "X11KeySession.h"

#include <utility>

X11KeyInjector::X11KeyInjector() : X11KeyInjector(qgetenv("DISPLAY")) {}

X11KeyInjector::X11KeyInjector(QByteArray displayName) : m_displayName(std::move(displayName))
{
    X11ExitGuard::arm(m_displayName);
}

std::unique_ptr<KeySession> X11KeyInjector::openSession()
{
    return X11KeySession::open(m_displayName);
}
