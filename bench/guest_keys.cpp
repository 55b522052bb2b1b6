// How many of a layout's characters reach a window that forwards key codes to a guest
// (a VM console, a remote desktop): on the layout's own PC keys alone, and with its dead
// keys as well. Prints its numbers; it asserts nothing.

#include "platform/xkb/KeyPlanner.h"

#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv)
{
    // Compose sequences follow the locale; a table without the dead keys would count none.
    if (!std::getenv("LC_ALL") && !std::getenv("LC_CTYPE") && !std::getenv("LANG"))
        setenv("LC_CTYPE", "en_US.UTF-8", 1);
    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const char *layouts[] = {"us", "us(intl)", "gb", "de", "fr", "es", "pt", "it", "ch", "se"};
    std::printf("%-10s %8s %8s %8s\n", "layout", "keys", "+dead", "spare");
    for (int i = 0; i < (argc > 1 ? argc - 1 : int(std::size(layouts))); ++i) {
        const char *layout = argc > 1 ? argv[i + 1] : layouts[i];
        char name[64];
        const char *variant = "";
        std::snprintf(name, sizeof name, "%s", layout);
        if (char *open = std::strchr(name, '(')) {
            *open = 0;
            variant = open + 1;
            *std::strchr(const_cast<char *>(variant), ')') = 0;
        }
        const xkb_rule_names names = {"evdev", "pc105", name, variant, ""};
        xkb_keymap *keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (!keymap) {
            std::printf("%-10s no keymap\n", layout);
            continue;
        }
        KeyPlanner guest(keymap, {}, true);
        KeyPlanner host(keymap);
        guest.setState(0, 0, {});
        host.setState(0, 0, {});
        int direct = 0, dead = 0, spare = 0;
        // Latin, Greek, Cyrillic and the common symbols: what layouts of this kind give.
        for (char32_t cp = 0x21; cp < 0x2200; ++cp) {
            if (cp >= 0x7f && cp < 0xa0)
                continue;
            const xkb_keysym_t keysym = xkb_utf32_to_keysym(cp);
            if (guest.plan(keysym))
                ++direct;
            else if (!guest.deadKeyPlan(keysym).empty())
                ++dead;
            else if (host.plan(keysym))
                ++spare; // only on a key a PC keyboard lacks
        }
        std::printf("%-10s %8d %8d %8d\n", layout, direct, direct + dead, spare);
        xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
}
