#pragma once

#include <QString>

#include <optional>

// The desktop's clipboard, used from the main thread only.
class Clipboard {
public:
    virtual ~Clipboard() = default;

    /// The current plain text, read afresh; nothing when the clipboard holds no text.
    virtual std::optional<QString> text() = 0;

    /// Empties the clipboard for every application.
    virtual void clear() = 0;
};
