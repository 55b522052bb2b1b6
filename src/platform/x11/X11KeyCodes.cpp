#include "X11KeyCodes.h"

#include <cstring>
#include <utility>

#include "X11Headers.h"

namespace {

struct Entry {
    quint16 code;
    const char *name;
};

// The one place where canonical codes meet XKB key names.
constexpr Entry table[] = {
    {0, "AC01"},
    {1, "AC02"},
    {2, "AC03"},
    {3, "AC04"},
    {4, "AC06"},
    {5, "AC05"},
    {6, "AB01"},
    {7, "AB02"},
    {8, "AB03"},
    {9, "AB04"},
    {10, "LSGT"},
    {11, "AB05"},
    {12, "AD01"},
    {13, "AD02"},
    {14, "AD03"},
    {15, "AD04"},
    {16, "AD06"},
    {17, "AD05"},
    {18, "AE01"},
    {19, "AE02"},
    {20, "AE03"},
    {21, "AE04"},
    {22, "AE06"},
    {23, "AE05"},
    {24, "AE12"},
    {25, "AE09"},
    {26, "AE07"},
    {27, "AE11"},
    {28, "AE08"},
    {29, "AE10"},
    {30, "AD12"},
    {31, "AD09"},
    {32, "AD07"},
    {33, "AD11"},
    {34, "AD08"},
    {35, "AD10"},
    {36, "RTRN"},
    {37, "AC09"},
    {38, "AC07"},
    {39, "AC11"},
    {40, "AC08"},
    {41, "AC10"},
    {42, "BKSL"},
    {43, "AB08"},
    {44, "AB10"},
    {45, "AB06"},
    {46, "AB07"},
    {47, "AB09"},
    {48, "TAB"},
    {49, "SPCE"},
    {50, "TLDE"},
    {51, "BKSP"},
    {53, "ESC"},
    {54, "RWIN"},
    {55, "LWIN"},
    {56, "LFSH"},
    {57, "CAPS"},
    {58, "LALT"},
    {59, "LCTL"},
    {60, "RTSH"},
    {61, "RALT"},
    {62, "RCTL"},
    {64, "FK17"},
    {65, "KPDL"},
    {67, "KPMU"},
    {69, "KPAD"},
    {71, "NMLK"},
    {75, "KPDV"},
    {76, "KPEN"},
    {78, "KPSU"},
    {79, "FK18"},
    {80, "FK19"},
    {81, "KPEQ"},
    {82, "KP0"},
    {83, "KP1"},
    {84, "KP2"},
    {85, "KP3"},
    {86, "KP4"},
    {87, "KP5"},
    {88, "KP6"},
    {89, "KP7"},
    {90, "FK20"},
    {91, "KP8"},
    {92, "KP9"},
    {96, "FK05"},
    {97, "FK06"},
    {98, "FK07"},
    {99, "FK03"},
    {100, "FK08"},
    {101, "FK09"},
    {103, "FK11"},
    {105, "FK13"},
    {106, "FK16"},
    {107, "FK14"},
    {109, "FK10"},
    {111, "FK12"},
    {113, "FK15"},
    {114, "INS"},
    {115, "HOME"},
    {116, "PGUP"},
    {117, "DELE"},
    {118, "FK04"},
    {119, "END"},
    {120, "FK02"},
    {121, "PGDN"},
    {122, "FK01"},
    {123, "LEFT"},
    {124, "RGHT"},
    {125, "DOWN"},
    {126, "UP"},
    // Codes of our own for keys the canonical numbering lacks.
    {128, "PRSC"},
    {129, "SCLK"},
    {130, "PAUS"},
    {131, "MENU"},
    {132, "AB11"},
    {133, "AE13"},
    {134, "LVL3"},
    {135, "MDSW"},
    {136, "HENK"},
    {137, "MUHE"},
    {138, "HKTG"},
    {139, "KPCO"},
    {140, "FK21"},
    {141, "FK22"},
    {142, "FK23"},
    {143, "FK24"},
};

// Names some keymaps use for the same positions.
constexpr std::pair<const char *, const char *> synonyms[] = {
    {"COMP", "MENU"},
    {"LMTA", "LWIN"},
    {"RMTA", "RWIN"},
    {"ALGR", "RALT"},
};

QByteArray nameOf(const char name[XkbKeyNameLength])
{
    return QByteArray(name, int(strnlen(name, XkbKeyNameLength)));
}

} // namespace

QByteArray X11KeyCodes::keyName(quint16 keyCode)
{
    for (const Entry &e : table) {
        if (e.code == keyCode)
            return e.name;
    }
    return {};
}

std::optional<quint16> X11KeyCodes::keyCodeForName(const QByteArray &name)
{
    QByteArray canonicalName = name;
    for (const auto &[alias, real] : synonyms) {
        if (name == alias)
            canonicalName = real;
    }
    for (const Entry &e : table) {
        if (canonicalName == e.name)
            return e.code;
    }
    return std::nullopt;
}

bool X11KeyCodes::refresh(Display *display)
{
    m_xOfCanonical.clear();
    m_canonicalOfX.fill(std::nullopt);
    XkbDescPtr xkb = XkbGetMap(display, 0, XkbUseCoreKbd);
    if (!xkb)
        return false;
    if (XkbGetNames(display, XkbKeyNamesMask | XkbKeyAliasesMask, xkb) != Success || !xkb->names ||
        !xkb->names->keys) {
        XkbFreeKeyboard(xkb, 0, True);
        return false;
    }
    QHash<QByteArray, quint8> xOfName;
    for (int kc = xkb->min_key_code; kc <= xkb->max_key_code && kc < 256; ++kc) {
        const QByteArray name = nameOf(xkb->names->keys[kc].name);
        if (name.isEmpty())
            continue;
        xOfName.insert(name, quint8(kc));
        const std::optional<quint16> code = keyCodeForName(name);
        const quint16 canonical = code ? *code : quint16(unnamedBase + kc);
        m_canonicalOfX[size_t(kc)] = canonical;
        if (!m_xOfCanonical.contains(canonical))
            m_xOfCanonical.insert(canonical, quint8(kc));
    }
    // Aliases let a canonical name reach a key the keymap calls otherwise.
    for (int i = 0; i < xkb->names->num_key_aliases; ++i) {
        const QByteArray alias = nameOf(xkb->names->key_aliases[i].alias);
        const QByteArray real = nameOf(xkb->names->key_aliases[i].real);
        const std::optional<quint16> code = keyCodeForName(alias);
        if (!code || m_xOfCanonical.contains(*code) || !xOfName.contains(real))
            continue;
        const quint8 kc = xOfName.value(real);
        m_xOfCanonical.insert(*code, kc);
        if (m_canonicalOfX[kc] && *m_canonicalOfX[kc] >= unnamedBase)
            m_canonicalOfX[kc] = *code;
    }
    XkbFreeKeyboard(xkb, 0, True);
    return true;
}

std::optional<quint8> X11KeyCodes::xKeyCode(quint16 keyCode) const
{
    const auto it = m_xOfCanonical.constFind(keyCode);
    if (it == m_xOfCanonical.constEnd())
        return std::nullopt;
    return *it;
}

std::optional<quint16> X11KeyCodes::keyCode(quint32 xKeyCode) const
{
    if (xKeyCode >= m_canonicalOfX.size())
        return std::nullopt;
    return m_canonicalOfX[xKeyCode];
}
