#include "X11SpareKeys.h"

#include "X11ErrorTrap.h"

#include <QSet>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <mutex>
#include <unistd.h>

#include "X11Headers.h"

namespace {

constexpr char journalName[] = "_KEYLOOM_SPARE_KEYS";

struct JournalEntry {
    long pid;
    long keyCode;
    long keysym;
};

bool processAlive(long pid)
{
    return pid > 0 && (kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

std::vector<JournalEntry> readJournal(Display *display)
{
    std::vector<JournalEntry> entries;
    const Atom atom = XInternAtom(display, journalName, False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(display, DefaultRootWindow(display), atom, 0, 3 * 4096, False,
                           XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
        data && format == 32) {
        const long *values = reinterpret_cast<const long *>(data);
        for (unsigned long i = 0; i + 2 < count; i += 3)
            entries.push_back({values[i], values[i + 1], values[i + 2]});
    }
    if (data)
        XFree(data);
    return entries;
}

void storeJournal(Display *display, const std::vector<JournalEntry> &entries)
{
    const Atom atom = XInternAtom(display, journalName, False);
    if (entries.empty()) {
        XDeleteProperty(display, DefaultRootWindow(display), atom);
        return;
    }
    std::vector<long> values;
    for (const JournalEntry &e : entries)
        values.insert(values.end(), {e.pid, e.keyCode, e.keysym});
    XChangeProperty(display, DefaultRootWindow(display), atom, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(values.data()), int(values.size()));
}

XkbDescPtr fetchMap(Display *display, unsigned deviceSpec)
{
    return XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, deviceSpec);
}

// Waits until the deadline or the stop, whichever comes first; false on the stop.
bool sleepUntil(X11SpareKeys::Clock::time_point deadline, std::stop_token stop)
{
    std::mutex mutex;
    std::condition_variable_any cv;
    std::unique_lock lock(mutex);
    return !cv.wait_until(lock, stop, deadline, [] { return false; }) && !stop.stop_requested();
}

} // namespace

X11SpareKeys::X11SpareKeys(Display *display, Leftovers leftovers) : m_display(display)
{
    findXTestDevice();
    cleanLeftovers(leftovers);
    rescan();
}

X11SpareKeys::~X11SpareKeys()
{
    restore();
}

void X11SpareKeys::setModifiers(unsigned shift, unsigned level3)
{
    if (shift == m_shift && level3 == m_level3)
        return;
    m_shift = shift;
    m_level3 = level3;
    rescan(); // which key type there is for them
}

int X11SpareKeys::levelCount() const
{
    if (!m_shift)
        return 1;
    return m_fourLevels ? 4 : 2;
}

int X11SpareKeys::levelOf(unsigned pressed, unsigned heldMods, unsigned lockedMods) const
{
    // In the alphabetic types Shift and CapsLock each flip between the first two levels of a
    // pair, and the level-3 shift picks the second pair.
    if (levelCount() < 4 && (pressed & 2))
        return -1;
    const unsigned mods = heldMods | (pressed & 1 ? m_shift : 0) | (pressed & 2 ? m_level3 : 0);
    const int level = (bool(mods & m_shift) != bool(lockedMods & LockMask) ? 1 : 0) +
                      (levelCount() == 4 && (mods & m_level3) ? 2 : 0);
    return level < levelCount() ? level : -1;
}

unsigned X11SpareKeys::reachableLevels(unsigned heldMods, unsigned lockedMods) const
{
    unsigned levels = 0;
    for (unsigned pressed = 0; pressed < 4; ++pressed) {
        if (const int level = levelOf(pressed, heldMods, lockedMods); level >= 0)
            levels |= 1u << level;
    }
    return levels;
}

std::optional<unsigned> X11SpareKeys::shiftsFor(int level, unsigned heldMods,
                                                unsigned lockedMods) const
{
    for (unsigned pressed = 0; pressed < 4; ++pressed) {
        if (levelOf(pressed, heldMods, lockedMods) == level)
            return pressed;
    }
    return std::nullopt;
}

bool X11SpareKeys::ownsAll(unsigned first, unsigned count) const
{
    for (unsigned kc = first; kc < first + count; ++kc) {
        if (std::none_of(m_slots.begin(), m_slots.end(),
                         [kc](const Slot &s) { return s.keyCode == kc; }))
            return false;
    }
    return true;
}

int X11SpareKeys::capacity(unsigned levels) const
{
    return int(m_slots.size()) * std::popcount(levels & ((1u << levelCount()) - 1));
}

void X11SpareKeys::findXTestDevice()
{
    int opcode = 0, event = 0, error = 0;
    if (!XQueryExtension(m_display, "XInputExtension", &opcode, &event, &error))
        return;
    int major = 2, minor = 0;
    if (XIQueryVersion(m_display, &major, &minor) != Success)
        return;
    int count = 0;
    XIDeviceInfo *devices = XIQueryDevice(m_display, XIAllDevices, &count);
    for (int i = 0; i < count; ++i) {
        if (devices[i].use == XISlaveKeyboard && std::strstr(devices[i].name, "XTEST"))
            m_xtestDevice = unsigned(devices[i].deviceid);
    }
    XIFreeDeviceInfo(devices);
}

void X11SpareKeys::cleanLeftovers(Leftovers leftovers)
{
    std::vector<JournalEntry> entries = readJournal(m_display);
    if (entries.empty())
        return;
    XkbDescPtr xkb = fetchMap(m_display, XkbUseCoreKbd);
    if (!xkb)
        return;
    std::vector<Edit> edits;
    std::vector<JournalEntry> kept;
    for (const JournalEntry &e : entries) {
        const bool own = e.pid == long(getpid());
        if (own ? leftovers == Leftovers::OfEndedProcesses : processAlive(e.pid)) {
            kept.push_back(e);
            continue;
        }
        // Only a keycode that still holds exactly what was bound is ours to clear.
        const int kc = int(e.keyCode);
        if (kc >= xkb->min_key_code && kc <= xkb->max_key_code && XkbKeyNumGroups(xkb, kc) > 0 &&
            XkbKeySymEntry(xkb, kc, 0, 0) == KeySym(e.keysym))
            edits.push_back({quint8(kc), {}});
    }
    XkbFreeKeyboard(xkb, 0, True);
    if (!edits.empty()) {
        if (m_xtestDevice)
            applyTo(*m_xtestDevice, edits);
        applyTo(XkbUseCoreKbd, edits);
    }
    storeJournal(m_display, kept);
    XSync(m_display, False);
}

void X11SpareKeys::rescan()
{
    m_stale = false;
    XkbDescPtr xkb = fetchMap(m_display, XkbUseCoreKbd);
    if (!xkb)
        return;
    int groups = 1;
    for (int kc = xkb->min_key_code; kc <= xkb->max_key_code; ++kc)
        groups = std::max(groups, int(XkbKeyNumGroups(xkb, kc)));
    m_groups = groups;
    m_fourLevels = findType(xkb) != XkbAlphabeticIndex;

    std::vector<Slot> found;
    QSet<int> known;
    for (Slot &slot : m_slots) {
        const int kc = slot.keyCode;
        known.insert(kc);
        const bool empty = XkbKeyNumGroups(xkb, kc) == 0;
        if (slot.bound() && !empty && XkbKeySymEntry(xkb, kc, 0, 0) == slot.keysyms[0]) {
            found.push_back(slot);
        } else if (empty && !xkb->map->modmap[kc]) {
            // A new keymap took our binding away, or it is still free.
            slot.keysyms = {};
            slot.pressed = false;
            found.push_back(slot);
        }
        // Otherwise the keycode now carries someone else's symbols: not ours any more.
    }
    for (int kc = std::max(8, int(xkb->min_key_code)); kc <= xkb->max_key_code && kc < 256; ++kc) {
        if (!known.contains(kc) && XkbKeyNumGroups(xkb, kc) == 0 && !xkb->map->modmap[kc])
            found.push_back({quint8(kc), {}, {}, false});
    }
    XkbFreeKeyboard(xkb, 0, True);
    m_slots = std::move(found);
    writeJournal();
}

bool X11SpareKeys::bind(const std::vector<quint32> &required, const std::vector<quint32> &wanted,
                        unsigned levels, std::stop_token stop)
{
    if (m_stale)
        rescan();
    levels &= (1u << levelCount()) - 1;
    if (!levels)
        return required.empty();
    const QSet<quint32> keepRequired(required.begin(), required.end());
    QSet<quint32> keepAll = keepRequired;
    keepAll.unite(QSet<quint32>(wanted.begin(), wanted.end()));

    // The keymap as it will be after this change; bound is what it is now.
    std::vector<std::array<quint32, maxLevels>> planned;
    for (const Slot &slot : m_slots)
        planned.push_back(slot.keysyms);
    std::vector<bool> changed(m_slots.size(), false);
    const auto placed = [&](quint32 keysym) {
        for (const auto &syms : planned) {
            for (int level = 0; level < maxLevels; ++level) {
                if (syms[size_t(level)] == keysym && (levels & (1u << level)))
                    return true;
            }
        }
        return false;
    };
    // A free reachable level of a bound keycode costs no grace: nobody pressed it there.
    const auto freeLevel = [&](size_t i) -> int {
        if (!planned[i][0])
            return -1;
        for (int level = 1; level < levelCount(); ++level) {
            if ((levels & (1u << level)) && !planned[i][size_t(level)])
                return level;
        }
        return -1;
    };
    // An empty keycode, or the least recently used one past its grace period that holds
    // nothing still to be typed.
    const auto freeSlot = [&](const QSet<quint32> &keep, Clock::time_point *earliest) -> int {
        const Clock::time_point now = Clock::now();
        int best = -1;
        for (size_t i = 0; i < m_slots.size(); ++i) {
            if (changed[i])
                continue;
            if (!planned[i][0])
                return int(i);
            if (std::any_of(planned[i].begin(), planned[i].end(),
                            [&](quint32 s) { return s && keep.contains(s); }))
                continue;
            if (now - m_slots[i].lastUsed < gracePeriod) {
                if (earliest &&
                    (*earliest == Clock::time_point{} || m_slots[i].lastUsed < *earliest))
                    *earliest = m_slots[i].lastUsed;
                continue;
            }
            if (best < 0 || m_slots[i].lastUsed < m_slots[size_t(best)].lastUsed)
                best = int(i);
        }
        return best;
    };
    const auto place = [&](quint32 keysym, const QSet<quint32> &keep, Clock::time_point *earliest) {
        for (size_t i = 0; i < planned.size(); ++i) {
            const int level = freeLevel(i);
            if (level >= 0) {
                planned[i][size_t(level)] = keysym;
                changed[i] = true;
                return true;
            }
        }
        const int slot = freeSlot(keep, earliest);
        if (slot < 0)
            return false;
        const int level = std::countr_zero(levels);
        auto &syms = planned[size_t(slot)];
        syms = {};
        syms[size_t(level)] = keysym;
        // Level 1 is never empty on a bound keycode: it is what the journal records.
        syms[0] = keysym;
        changed[size_t(slot)] = true;
        return true;
    };

    for (quint32 keysym : required) {
        while (!placed(keysym)) {
            Clock::time_point earliest{};
            if (place(keysym, keepAll, nullptr) || place(keysym, keepRequired, &earliest))
                break;
            if (earliest == Clock::time_point{})
                return false;
            if (!sleepUntil(earliest + gracePeriod, stop))
                return false;
        }
    }
    for (quint32 keysym : wanted) {
        if (!placed(keysym) && !place(keysym, keepAll, nullptr))
            break;
    }
    std::vector<Edit> edits;
    for (size_t i = 0; i < m_slots.size(); ++i) {
        if (changed[i])
            edits.push_back({m_slots[i].keyCode, planned[i]});
    }
    if (!edits.empty())
        apply(edits);
    return true;
}

std::optional<X11SpareKeys::Binding> X11SpareKeys::bindingFor(quint32 keysym, unsigned levels) const
{
    for (const Slot &slot : m_slots) {
        for (int level = 0; level < levelCount(); ++level) {
            if ((levels & (1u << level)) && slot.keysyms[size_t(level)] == keysym)
                return Binding{slot.keyCode, level};
        }
    }
    return std::nullopt;
}

std::vector<quint8> X11SpareKeys::keyCodes() const
{
    std::vector<quint8> codes;
    for (const Slot &slot : m_slots)
        codes.push_back(slot.keyCode);
    return codes;
}

X11SpareKeys::Clock::time_point X11SpareKeys::lastUse() const
{
    Clock::time_point last{};
    for (const Slot &slot : m_slots)
        last = std::max(last, slot.lastUsed);
    return last;
}

void X11SpareKeys::markUsed(quint8 keyCode)
{
    for (Slot &slot : m_slots) {
        if (slot.keyCode == keyCode) {
            slot.lastUsed = Clock::now();
            slot.pressed = true;
        }
    }
}

void X11SpareKeys::releaseUnused()
{
    if (m_stale)
        rescan();
    std::vector<Edit> edits;
    for (const Slot &slot : m_slots) {
        if (slot.bound() && !slot.pressed)
            edits.push_back({slot.keyCode, {}});
    }
    if (!edits.empty())
        apply(edits);
}

void X11SpareKeys::restore()
{
    if (m_stale)
        rescan();
    std::vector<Edit> edits;
    for (const Slot &slot : m_slots) {
        if (slot.bound())
            edits.push_back({slot.keyCode, {}});
    }
    if (!edits.empty())
        apply(edits);
}

void X11SpareKeys::apply(const std::vector<Edit> &edits)
{
    // The server hands the core keyboard the keymap of whichever device sent the
    // last event; for our keys that is the XTEST device, which may keep a keymap
    // of its own. Both must hold the same, or the focused client sees our keys
    // empty again after the first synthetic press.
    if (m_xtestDevice)
        applyTo(*m_xtestDevice, edits);
    applyTo(XkbUseCoreKbd, edits);

    for (const Edit &e : edits) {
        for (Slot &slot : m_slots) {
            if (slot.keyCode != e.keyCode)
                continue;
            if (slot.keysyms[0] != e.keysyms[0] || !e.keysyms[0])
                slot.pressed = false;
            slot.keysyms = e.keysyms;
        }
    }
    writeJournal();
    // The change is in force before anything else this connection sends.
    XSync(m_display, False);
}

int X11SpareKeys::findType(XkbDescPtr xkb) const
{
    // A stock type that consumes Lock, so CapsLock never capitalises a spare letter; it only
    // swaps the Shift levels, which the plan of each press accounts for. NumLock is not part
    // of it and changes nothing. (A type of our own would be cleaner, but Xlib clients that
    // loaded the keymap before it existed never learn of a new type.)
    // Type names are not part of the map: they come with the names.
    if (m_shift && m_level3 && XkbGetNames(m_display, XkbKeyTypeNamesMask, xkb) == Success) {
        const Atom name = XInternAtom(m_display, "FOUR_LEVEL_ALPHABETIC", True);
        for (int i = 0; name != None && i < xkb->map->num_types; ++i) {
            const XkbKeyTypeRec &t = xkb->map->types[i];
            if (t.name == name && t.num_levels == 4 &&
                t.mods.mask == (m_shift | LockMask | m_level3))
                return i;
        }
    }
    return XkbAlphabeticIndex;
}

void X11SpareKeys::applyTo(unsigned deviceSpec, const std::vector<Edit> &edits)
{
    X11ErrorTrap trap(m_display);
    XkbDescPtr xkb = fetchMap(m_display, deviceSpec);
    if (!xkb)
        return;
    const int type = findType(xkb);
    const int width = xkb->map->types[type].num_levels;
    std::vector<Edit> sorted = edits;
    std::sort(sorted.begin(), sorted.end(),
              [](const Edit &a, const Edit &b) { return a.keyCode < b.keyCode; });
    // One change per run of adjacent keycodes, so no keycode in between is rewritten.
    for (size_t first = 0; first < sorted.size();) {
        size_t end = first + 1;
        while (end < sorted.size() && sorted[end].keyCode == sorted[end - 1].keyCode + 1)
            ++end;
        XkbMapChangesRec changes;
        std::memset(&changes, 0, sizeof changes);
        for (size_t i = first; i < end; ++i) {
            const Edit &e = sorted[i];
            if (e.keysyms[0]) {
                // The same levels in every group: a group switch changes nothing either.
                int types[XkbNumKbdGroups];
                std::fill(std::begin(types), std::end(types), type);
                XkbChangeTypesOfKey(xkb, e.keyCode, m_groups, (1u << m_groups) - 1, types,
                                    &changes);
                KeySym *syms = XkbKeySymsPtr(xkb, e.keyCode);
                for (int g = 0; g < m_groups; ++g) {
                    for (int level = 0; level < width; ++level)
                        syms[g * width + level] = KeySym(e.keysyms[size_t(level)]);
                }
            } else {
                XkbChangeTypesOfKey(xkb, e.keyCode, 0, XkbAllGroupsMask, nullptr, &changes);
            }
        }
        changes.changed = XkbKeySymsMask;
        changes.first_key_sym = XKeyCode(sorted[first].keyCode);
        changes.num_key_syms = quint8(end - first);
        XkbChangeMap(m_display, xkb, &changes);
        first = end;
    }
    XkbFreeKeyboard(xkb, 0, True);
    trap.sync();
}

void X11SpareKeys::writeJournal()
{
    // Other sessions of this process may list keycodes of their own; replace only ours.
    const long pid = long(getpid());
    QSet<long> mine;
    for (const Slot &slot : m_slots)
        mine.insert(slot.keyCode);
    std::vector<JournalEntry> entries = readJournal(m_display);
    std::erase_if(entries,
                  [&](const JournalEntry &e) { return e.pid == pid && mine.contains(e.keyCode); });
    for (const Slot &slot : m_slots) {
        if (slot.bound())
            entries.push_back({pid, slot.keyCode, long(slot.keysyms[0])});
    }
    storeJournal(m_display, entries);
}
