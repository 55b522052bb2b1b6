#include "X11KeyCodes.h"

#include <cstring>
#include <utility>

#include "X11Headers.h"
#include "platform/xkb/XkbKeyNames.h"

static_assert(X11KeyCodes::unnamedBase == XkbKeyNames::unnamedBase);

namespace {

QByteArray nameOf(const char name[XkbKeyNameLength])
{
    return QByteArray(name, int(strnlen(name, XkbKeyNameLength)));
}

} // namespace

QByteArray X11KeyCodes::keyName(quint16 keyCode)
{
    return XkbKeyNames::keyName(keyCode);
}

std::optional<quint16> X11KeyCodes::keyCodeForName(const QByteArray &name)
{
    return XkbKeyNames::keyCodeForName(std::string_view(name.constData(), size_t(name.size())));
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
