#include "X11Modifiers.h"

#include "platform/KeyCodes.h"

#include "X11Headers.h"

void X11Modifiers::refresh(Display *display)
{
    m_option = m_command = m_numLock = m_scrollLock = 0;
    XModifierKeymap *map = XGetModifierMapping(display);
    if (!map)
        return;
    unsigned meta = 0, hyper = 0;
    // Index 0..2 are Shift, Lock and Control; only Mod1..Mod5 vary between keymaps.
    for (int mod = 3; mod < 8; ++mod) {
        for (int k = 0; k < map->max_keypermod; ++k) {
            const XKeyCode kc = map->modifiermap[mod * map->max_keypermod + k];
            if (!kc)
                continue;
            for (int level = 0; level < 4; ++level) {
                const KeySym sym = XkbKeycodeToKeysym(display, kc, 0, level);
                const unsigned mask = 1u << mod;
                switch (sym) {
                case XK_Alt_L:
                case XK_Alt_R:
                    m_option |= mask;
                    break;
                case XK_Meta_L:
                case XK_Meta_R:
                    meta |= mask;
                    break;
                case XK_Super_L:
                case XK_Super_R:
                    m_command |= mask;
                    break;
                case XK_Hyper_L:
                case XK_Hyper_R:
                    hyper |= mask;
                    break;
                case XK_Num_Lock:
                    m_numLock |= mask;
                    break;
                case XK_Scroll_Lock:
                    m_scrollLock |= mask;
                    break;
                default:
                    break;
                }
            }
        }
    }
    XFreeModifiermap(map);
    if (!m_option)
        m_option = meta;
    if (!m_command)
        m_command = hyper;
    // A lock key that shares a modifier with a matching key would make that modifier
    // both required and ignored; keep it out of the lock set.
    m_numLock &= ~matchingMask();
    m_scrollLock &= ~matchingMask();
}

std::optional<unsigned> X11Modifiers::toX(quint64 flags) const
{
    unsigned mask = 0;
    const std::pair<quint64, unsigned> pairs[] = {{ModifierFlag::Shift, m_shift},
                                                  {ModifierFlag::Control, m_control},
                                                  {ModifierFlag::Option, m_option},
                                                  {ModifierFlag::Command, m_command}};
    for (const auto &[flag, x] : pairs) {
        if (!(flags & flag))
            continue;
        if (!x)
            return std::nullopt;
        mask |= x;
    }
    return mask;
}

quint64 X11Modifiers::fromX(unsigned state) const
{
    quint64 flags = 0;
    if (state & m_shift)
        flags |= ModifierFlag::Shift;
    if (state & m_control)
        flags |= ModifierFlag::Control;
    if (m_option && (state & m_option))
        flags |= ModifierFlag::Option;
    if (m_command && (state & m_command))
        flags |= ModifierFlag::Command;
    return flags;
}

QList<unsigned> X11Modifiers::lockCombinations() const
{
    QList<unsigned> combos{0};
    for (unsigned lock : {m_capsLock, m_numLock, m_scrollLock}) {
        if (!lock)
            continue;
        const qsizetype n = combos.size();
        for (qsizetype i = 0; i < n; ++i) {
            if (!combos.contains(combos[i] | lock))
                combos.append(combos[i] | lock);
        }
    }
    return combos;
}
