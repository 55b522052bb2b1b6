#pragma once

#include "platform/Clipboard.h"

// The desktop clipboard (the CLIPBOARD selection on X11) through QClipboard.
class QtClipboard final : public Clipboard {
public:
    std::optional<QString> text() override;
    void clear() override;
};
