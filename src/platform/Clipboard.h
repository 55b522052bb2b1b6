#pragma once

#include <QString>

#include <functional>
#include <optional>

// The desktop's clipboard, used from the main thread only. Reading never waits: another
// program owns the text and may answer late or never.
class Clipboard {
public:
    /// Gets the plain text; nothing when the clipboard holds no text or its owner did not
    /// answer in time.
    using TextHandler = std::function<void(std::optional<QString> text)>;

    virtual ~Clipboard() = default;

    /// Reads the current plain text afresh. The handler runs once on the main thread, maybe
    /// before this returns, and never after the clipboard is gone.
    virtual void requestText(TextHandler handler) = 0;

    /// Empties the clipboard for every application.
    virtual void clear() = 0;
};
