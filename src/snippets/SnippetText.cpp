#include "SnippetText.h"

namespace {

bool isTrimmed(char32_t c)
{
    if (c == 0x09 || (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029)
        return true;
    return QChar::category(c) == QChar::Separator_Space;
}

} // namespace

QString trimSnippetText(const QString &text)
{
    // Every character of the set lies in the BMP, so UTF-16 units can be tested one by one.
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isTrimmed(text.at(begin).unicode()))
        ++begin;
    while (end > begin && isTrimmed(text.at(end - 1).unicode()))
        --end;
    return text.sliced(begin, end - begin);
}
