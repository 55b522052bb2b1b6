#pragma once

#include <atomic>
#include <memory>

// What a run waits on before it types: the keys that started it going up, so that none of
// them is held over the first characters.
struct ReleaseWait {
    enum class Kind {
        ShortcutKeys, // the shortcut's key and both keys of each of its modifiers
        AllKeys,      // every key but the locks: a command bound to keys we do not know
        Signalled,    // the flag below, set by whoever sees the trigger's keys go up
    };
    Kind kind = Kind::ShortcutKeys;
    std::shared_ptr<const std::atomic<bool>> released;
};
