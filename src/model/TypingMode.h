#pragma once

#include <QObject>
#include <QString>

#include "platform/KeyInjector.h"

#include <optional>

namespace TypingModes {
Q_NAMESPACE
// Enumerators are capitalised because QML only sees enum values that start upper case;
// the stored raw values are "clipboard" and "playlist".
enum class TypingMode { Clipboard, Playlist };
Q_ENUM_NS(TypingMode)
} // namespace TypingModes

using TypingModes::TypingMode;

/// The stored raw value of a mode.
QString rawValue(TypingMode mode);

/// The mode whose raw value is exactly this text (case-sensitive), or nothing.
std::optional<TypingMode> typingModeFromRaw(const QString &raw);

/// The stored raw values "automatic", "always" and "never".
QString rawValue(KeyForwarding forwarding);
std::optional<KeyForwarding> keyForwardingFromRaw(const QString &raw);
