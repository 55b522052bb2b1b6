#pragma once

#include <QString>

/// The text with the blanks and line breaks at both ends removed (Unicode Zs, tab,
/// U+000A to U+000D, U+0085, U+2028, U+2029); inner characters stay as they are.
QString trimSnippetText(const QString &text);
