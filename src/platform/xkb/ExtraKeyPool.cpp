#include "ExtraKeyPool.h"

#include <algorithm>
#include <bit>
#include <map>
#include <set>

ExtraKeyPool::ExtraKeyPool(bool wholeKeymap, std::function<Clock::time_point()> now,
                           Clock::duration grace)
    : m_wholeKeymap(wholeKeymap), m_now(std::move(now)), m_grace(grace)
{
}

void ExtraKeyPool::reconcile(const std::vector<Slot> &found)
{
    std::vector<Slot> kept;
    for (Slot slot : found) {
        const auto old = std::find_if(m_slots.begin(), m_slots.end(), [&](const Slot &s) {
            return s.keycode == slot.keycode && s.level == slot.level;
        });
        if (old != m_slots.end() && old->keysym == slot.keysym)
            slot = *old;
        else
            slot.lastUsed = {}, slot.pressed = false;
        kept.push_back(slot);
    }
    m_slots = std::move(kept);
}

int ExtraKeyPool::capacity(unsigned levels) const
{
    return int(std::count_if(m_slots.begin(), m_slots.end(), [&](const Slot &s) {
        return s.level < 32 && (levels >> s.level & 1u);
    }));
}

ExtraKeyPool::Keysym ExtraKeyPool::at(Keycode keycode, int level) const
{
    for (const Slot &s : m_slots) {
        if (s.keycode == keycode && s.level == level)
            return s.keysym;
    }
    return 0;
}

const ExtraKeyPool::Slot *ExtraKeyPool::find(Keysym keysym, unsigned levels) const
{
    for (const Slot &s : m_slots) {
        if (s.keysym == keysym && s.level < 32 && (levels >> s.level & 1u))
            return &s;
    }
    return nullptr;
}

ExtraKeyPool::Allocation ExtraKeyPool::allocate(const std::vector<Keysym> &required,
                                                const std::vector<Keysym> &upcoming,
                                                unsigned levels) const
{
    Allocation result;
    if (int(required.size()) > capacity(levels)) {
        result.impossible = true;
        return result;
    }
    const Clock::time_point now = m_now();
    const std::set<Keysym> pinned(required.begin(), required.end());
    const std::set<Keysym> coming(upcoming.begin(), upcoming.end());
    std::vector<Keysym> planned; // each slot's keysym after the change
    for (const Slot &s : m_slots)
        planned.push_back(s.keysym);
    std::vector<bool> changed(m_slots.size(), false);
    std::set<Keycode> touched, bound;
    for (const Slot &s : m_slots) {
        if (s.keysym)
            bound.insert(s.keycode);
    }
    const auto reachable = [&](size_t i) {
        return m_slots[i].level < 32 && (levels >> m_slots[i].level & 1u);
    };
    const auto placed = [&](Keysym keysym) {
        for (size_t i = 0; i < m_slots.size(); ++i) {
            if (planned[i] == keysym && reachable(i))
                return true;
        }
        return false;
    };
    // When each key code's slots (those this character does not need) are all past their grace:
    // a key code given up whole takes the characters coming next on its other levels too.
    std::map<Keycode, Clock::time_point> keycodeFree;
    // A press the window has not handled yet: not before it has, which it tells on its own.
    const auto freeAt = [&](const Slot &s) {
        return handled(s.lastUsed) ? s.lastUsed + m_grace
                                   : std::max(s.lastUsed + m_grace, now + recheck);
    };
    for (const Slot &s : m_slots) {
        if (s.keysym && s.pressed && !pinned.contains(s.keysym))
            keycodeFree[s.keycode] = std::max(keycodeFree[s.keycode], freeAt(s));
    }
    // Lower is cheaper; -1: not to be taken now. A free level of a key code already written or
    // bound comes first, so a change spans as few key codes as it can.
    const auto rank = [&](size_t i, bool rideAlong) -> int {
        const Slot &s = m_slots[i];
        if (changed[i] || !reachable(i))
            return -1;
        const bool sameChange = m_wholeKeymap || touched.contains(s.keycode);
        if (rideAlong && !sameChange)
            return -1;
        if (!s.keysym)
            return sameChange ? 0 : bound.contains(s.keycode) ? 1 : 2;
        if (pinned.contains(s.keysym))
            return -1;
        if (!s.pressed)
            return coming.contains(s.keysym) ? (rideAlong ? -1 : 6) : 3;
        if (now - s.lastUsed < m_grace || !handled(s.lastUsed))
            return -1;
        if (coming.contains(s.keysym))
            return rideAlong ? -1 : 5;
        return keycodeFree[s.keycode] <= now ? 4 : 5;
    };
    const auto take = [&](Keysym keysym, bool rideAlong) {
        int best = -1, bestRank = 0;
        for (size_t i = 0; i < m_slots.size(); ++i) {
            const int r = rank(i, rideAlong);
            if (r < 0)
                continue;
            if (best < 0 || r < bestRank ||
                (r == bestRank && m_slots[i].lastUsed < m_slots[size_t(best)].lastUsed)) {
                best = int(i);
                bestRank = r;
            }
        }
        if (best < 0)
            return false;
        planned[size_t(best)] = keysym;
        changed[size_t(best)] = true;
        touched.insert(m_slots[size_t(best)].keycode);
        return true;
    };
    for (Keysym keysym : required) {
        if (placed(keysym) || take(keysym, false))
            continue;
        // Everything reachable is pinned or within its grace: wait for the first key code to be
        // past it whole.
        std::optional<Clock::time_point> first;
        for (size_t i = 0; i < m_slots.size(); ++i) {
            const Slot &s = m_slots[i];
            if (reachable(i) && !changed[i] && s.keysym && s.pressed &&
                !pinned.contains(s.keysym) && (!first || keycodeFree[s.keycode] < *first))
                first = keycodeFree[s.keycode];
        }
        if (!first)
            result.impossible = true;
        else
            result.waitUntil = *first;
        return result;
    }
    // Characters ahead of their turn are published no sooner than the change makes them.
    for (Keysym keysym : upcoming) {
        if (!placed(keysym) && !take(keysym, true))
            break;
    }
    for (size_t i = 0; i < m_slots.size(); ++i) {
        if (changed[i])
            result.edits.push_back({m_slots[i].keycode, m_slots[i].level, planned[i]});
    }
    return result;
}

void ExtraKeyPool::apply(const std::vector<Edit> &edits)
{
    for (const Edit &e : edits) {
        for (Slot &s : m_slots) {
            if (s.keycode == e.keycode && s.level == e.level && s.keysym != e.keysym)
                s = Slot{s.keycode, s.level, e.keysym, {}, false};
        }
    }
}

void ExtraKeyPool::markUsed(Keycode keycode, int level)
{
    for (Slot &s : m_slots) {
        if (s.keycode == keycode && s.level == level) {
            s.lastUsed = m_now();
            s.pressed = true;
        }
    }
}

std::vector<ExtraKeyPool::Edit> ExtraKeyPool::unusedEdits() const
{
    std::vector<Edit> edits;
    for (const Slot &s : m_slots) {
        if (s.keysym && !s.pressed)
            edits.push_back({s.keycode, s.level, 0});
    }
    return edits;
}

ExtraKeyPool::Clock::time_point ExtraKeyPool::lastUse() const
{
    Clock::time_point last{};
    for (const Slot &s : m_slots)
        last = std::max(last, s.lastUsed);
    return last;
}
