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

QString rawValue(KeyForwarding forwarding)
{
    switch (forwarding) {
    case KeyForwarding::EveryWindow:
        return QStringLiteral("always");
    case KeyForwarding::NoWindow:
        return QStringLiteral("never");
    case KeyForwarding::Automatic:
        break;
    }
    return QStringLiteral("automatic");
}

std::optional<KeyForwarding> keyForwardingFromRaw(const QString &raw)
{
    for (const KeyForwarding f :
         {KeyForwarding::Automatic, KeyForwarding::EveryWindow, KeyForwarding::NoWindow}) {
        if (raw == rawValue(f))
            return f;
    }
    return std::nullopt;
}
