#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/xkb/ExtraKeyPool.h"

struct xkb_context;
struct xkb_keymap;

// The keymap a virtual keyboard types with: a base layout, plus extra keys that each
// give one character the layout lacks. The extra keys sit on key codes the base
// leaves unused, at most 255 (Xwayland takes no higher ones), under key names of
// their own, so that our keymap is recognised when the compositor hands it back as
// the seat's keymap.
class WaylandKeymap {
public:
    using Keycode = std::uint32_t;
    using Keysym = std::uint32_t;

    /// Whether the keymap text carries extra keys of ours.
    static bool hasExtraKeys(std::string_view text);

    /// The text without our extra keys.
    static std::string stripExtraKeys(std::string_view text);

    /// Compiles the base; null when the text is no keymap. Extra keys of ours are stripped.
    static std::unique_ptr<WaylandKeymap> fromText(xkb_context *context, std::string_view text);
    /// The keymap xkbcommon builds from its defaults ($XKB_DEFAULT_LAYOUT and the like).
    static std::unique_ptr<WaylandKeymap> fromDefaults(xkb_context *context);

    ~WaylandKeymap();
    WaylandKeymap(const WaylandKeymap &) = delete;
    WaylandKeymap &operator=(const WaylandKeymap &) = delete;

    xkb_keymap *base() const { return m_base; }
    /// The base as xkbcommon writes it, without extra keys.
    const std::string &baseText() const { return m_baseText; }
    /// The key codes extra keys may use, in ascending order.
    const std::vector<Keycode> &freeKeycodes() const { return m_free; }

    /// The keymap text with these key codes bound to one keysym each; nothing when the base
    /// could not be given extra keys.
    std::optional<std::string> text(const std::vector<std::pair<Keycode, Keysym>> &bindings) const;

private:
    WaylandKeymap(xkb_keymap *base, std::string baseText);

    xkb_keymap *m_base;
    std::string m_baseText;
    std::string m_named; // the base with the free key codes under our names
    std::vector<Keycode> m_free;
};

// What the sessions of one injector share across runs (each on its worker thread):
// the seat's own keymap, since the compositor may later announce ours in its place,
// and the extra keys last bound, so that a run started soon after another neither
// rebinds a key code an X client may still be translating nor binds a character anew.
class WaylandKeyboardMemory {
public:
    /// The seat's keymap text as last seen without our keys.
    std::optional<std::string> original() const;
    void setOriginal(std::string text);

    std::vector<ExtraKeyPool::Slot> extraKeys() const;
    void setExtraKeys(std::vector<ExtraKeyPool::Slot> keys);

private:
    mutable std::mutex m_mutex;
    std::optional<std::string> m_original;
    std::vector<ExtraKeyPool::Slot> m_extraKeys;
};
