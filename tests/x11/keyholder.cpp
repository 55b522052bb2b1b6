// For the x11 tests: binds spare keycodes for a few characters through the real
// injector, says "BOUND" and waits to be ended by a signal.
// Usage: x11_keyholder DISPLAY
#include "platform/x11/X11KeyInjector.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    X11KeyInjector injector{QByteArray(argv[1])};
    std::unique_ptr<KeySession> session = injector.openSession();
    if (!session)
        return 1;
    // Characters no US key has, so they go on spare keycodes.
    session->prepare(u"äöü€Ж");
    session->postKey(0, true, u"ä");
    session->postKey(0, false, u"ä");
    std::printf("BOUND\n");
    std::fflush(stdout);
    for (;;)
        pause();
}
