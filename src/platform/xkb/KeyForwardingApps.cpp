#include "KeyForwardingApps.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace {

// A name matches an entry it equals or begins with followed by '-', '.', '_' or a space:
// "qemu" takes "qemu-system-x86_64", "vmware" takes "vmware-view".
constexpr std::string_view knownApps[] = {
    "qemu",
    "virt-manager",
    "org.virt-manager.virt-manager",
    "virt-viewer",
    "remote-viewer",
    "gnome-boxes",
    "org.gnome.boxes",
    "virtualbox machine",
    "virtualboxvm",
    "vmware",
    "vmplayer",
    "remmina",
    "org.remmina.remmina",
    "xfreerdp",
    "wlfreerdp",
    "sdl-freerdp",
    "wfica",
    "citrix workspace",
};

} // namespace

bool isKeyForwardingApp(std::string_view name)
{
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return std::any_of(std::begin(knownApps), std::end(knownApps), [&](std::string_view app) {
        if (!std::string_view(lower).starts_with(app))
            return false;
        if (lower.size() == app.size())
            return true;
        const char next = lower[app.size()];
        return next == '-' || next == '.' || next == '_' || next == ' ';
    });
}
