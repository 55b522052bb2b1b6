#pragma once

#include <QtGlobal>

// The program's canonical key codes and modifier bits. Key codes name physical
// key positions of a US keyboard; only platform backends translate them.
namespace KeyCode {
inline constexpr quint16 Return = 36;
inline constexpr quint16 Semicolon = 41;
inline constexpr quint16 Tab = 48;
inline constexpr quint16 Space = 49;
inline constexpr quint16 Escape = 53;
inline constexpr quint16 RightCommand = 54;
inline constexpr quint16 Command = 55;
inline constexpr quint16 Shift = 56;
inline constexpr quint16 Option = 58;
inline constexpr quint16 Control = 59;
inline constexpr quint16 RightShift = 60;
inline constexpr quint16 RightOption = 61;
inline constexpr quint16 RightControl = 62;
} // namespace KeyCode

namespace ModifierFlag {
inline constexpr quint64 Shift = 0x20000;
inline constexpr quint64 Control = 0x40000;
inline constexpr quint64 Option = 0x80000;
inline constexpr quint64 Command = 0x100000;
// The only bits that take part in shortcut matching.
inline constexpr quint64 Mask = Shift | Control | Option | Command;
} // namespace ModifierFlag
