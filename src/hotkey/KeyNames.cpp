#include "KeyNames.h"

#include <array>
#include <utility>

namespace {

constexpr std::pair<quint16, const char *> names[] = {
    {0, "A"},       {1, "S"},      {2, "D"},     {3, "F"},      {4, "H"},      {5, "G"},
    {6, "Z"},       {7, "X"},      {8, "C"},     {9, "V"},      {11, "B"},     {12, "Q"},
    {13, "W"},      {14, "E"},     {15, "R"},    {16, "Y"},     {17, "T"},     {18, "1"},
    {19, "2"},      {20, "3"},     {21, "4"},    {22, "6"},     {23, "5"},     {24, "="},
    {25, "9"},      {26, "7"},     {27, "-"},    {28, "8"},     {29, "0"},     {30, "]"},
    {31, "O"},      {32, "U"},     {33, "["},    {34, "I"},     {35, "P"},     {36, "Return"},
    {37, "L"},      {38, "J"},     {39, "'"},    {40, "K"},     {41, ";"},     {42, "\\"},
    {43, ","},      {44, "/"},     {45, "N"},    {46, "M"},     {47, "."},     {48, "Tab"},
    {49, "Space"},  {50, "`"},     {51, "Delete"}, {53, "Escape"}, {96, "F5"},  {97, "F6"},
    {98, "F7"},     {99, "F3"},    {100, "F8"},  {101, "F9"},   {103, "F11"},  {105, "F13"},
    {109, "F10"},   {111, "F12"},  {118, "F4"},  {120, "F2"},   {122, "F1"},   {123, "Left"},
    {124, "Right"}, {125, "Down"}, {126, "Up"},
};

} // namespace

QString keyName(quint16 keyCode)
{
    for (const auto &[code, name] : names) {
        if (code == keyCode)
            return QString::fromLatin1(name);
    }
    return QStringLiteral("Key") + QString::number(keyCode);
}

namespace {

struct Modifier {
    char16_t symbol;
    const char *word;
};

// In the fixed order of both forms.
QString shortcutText(qint64 keyCode, const std::array<bool, 4> &held, bool spelledOut)
{
    static constexpr Modifier modifiers[] = {
        {0x2303, "Ctrl"}, {0x2325, "Alt"}, {0x21E7, "Shift"}, {0x2318, "Super"}};
    QString text;
    for (std::size_t i = 0; i < held.size(); ++i) {
        if (!held[i])
            continue;
        if (spelledOut)
            text += QLatin1String(modifiers[i].word) + QLatin1Char('+');
        else
            text += QChar(modifiers[i].symbol);
    }
    if (keyCode >= 0 && keyCode <= 0xFFFF)
        text += keyName(quint16(keyCode));
    else
        text += QStringLiteral("Key") + QString::number(keyCode);
    return text;
}

} // namespace

QString shortcutDisplayString(qint64 keyCode, bool control, bool option, bool shift, bool command)
{
    return shortcutText(keyCode, {control, option, shift, command}, false);
}

QString shortcutSpelledOut(qint64 keyCode, bool control, bool option, bool shift, bool command)
{
    return shortcutText(keyCode, {control, option, shift, command}, true);
}
