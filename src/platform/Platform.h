#pragma once

class AccessibilityTrust;
class Clipboard;
class KeyInjector;
class KeyboardTap;
class Notifier;

// The desktop services the core needs, owned by whoever creates the AppState
// and outliving it.
struct Platform {
    KeyInjector &injector;
    KeyboardTap &tap;
    Clipboard &clipboard;
    AccessibilityTrust &trust;
    Notifier &notifier;
};
