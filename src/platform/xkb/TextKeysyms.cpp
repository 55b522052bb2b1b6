#include "TextKeysyms.h"

#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

namespace TextKeysyms {

std::vector<quint32> forText(QStringView text)
{
    std::vector<quint32> keysyms;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t cp = text[i].unicode();
        if (QChar::isHighSurrogate(cp) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        } else if (QChar::isSurrogate(cp)) {
            cp = 0xFFFD;
        }
        if (cp == '\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            keysyms.push_back(XKB_KEY_Return);
        } else if (cp == '\n') {
            keysyms.push_back(XKB_KEY_Return);
        } else if (cp == '\t') {
            keysyms.push_back(XKB_KEY_Tab);
        } else if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
            continue;
        } else {
            // Non-characters and the like still get a Unicode keysym; only NoSymbol is dropped.
            const xkb_keysym_t sym = xkb_utf32_to_keysym(cp);
            if (sym != XKB_KEY_NoSymbol)
                keysyms.push_back(sym);
        }
    }
    return keysyms;
}

} // namespace TextKeysyms
