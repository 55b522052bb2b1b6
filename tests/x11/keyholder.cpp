// For the x11 tests: binds spare keycodes for a few characters through the real
// injector, in two overlapping sessions, says "BOUND" and waits to be ended by a signal.
// Usage: x11_keyholder DISPLAY
#include "platform/x11/X11KeyInjector.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    X11KeyInjector injector{QByteArray(argv[1])};
    const auto type = [](KeySession &session, const char16_t *text) {
        session.prepare(text);
        session.typeCluster(text);
    };
    // A stopped run's session may still hold keys while the next one binds its own, of
    // characters no US key has.
    const std::unique_ptr<KeySession> first = injector.openSession(),
                                      second = injector.openSession();
    if (!first || !second)
        return 1;
    type(*first, u"ä");
    type(*second, u"Ж");
    // "€" goes on a free level of the first session's keycode; "ä" after it lets Shift go.
    type(*first, u"€ä");
    std::printf("BOUND\n");
    std::fflush(stdout);
    for (;;)
        pause();
}
