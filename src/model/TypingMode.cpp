#include "TypingMode.h"

QString rawValue(TypingMode mode)
{
    return mode == TypingMode::Playlist ? QStringLiteral("playlist") : QStringLiteral("clipboard");
}

std::optional<TypingMode> typingModeFromRaw(const QString &raw)
{
    if (raw == QLatin1String("clipboard"))
        return TypingMode::Clipboard;
    if (raw == QLatin1String("playlist"))
        return TypingMode::Playlist;
    return std::nullopt;
}
