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
    session->prepare(u"äöü€Ж");
    std::printf("BOUND\n");
    std::fflush(stdout);
    for (;;)
        pause();
}
