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

// Per entry: owner (a selection atom), keycode, then the keysyms of its four levels.
constexpr char journalName[] = "_KEYLOOM_BOUND_KEYS";
constexpr char ownerPrefix[] = "_KEYLOOM_SPARE_KEYS_OWNER_";
constexpr int ownerNames = 256;

using Keysyms = std::array<quint32, X11SpareKeys::maxLevels>;

struct JournalEntry {
    long owner;
    long keyCode;
    Keysyms keysyms;
};

// The owners that belong to this process, for the cleanup at its end.
std::mutex ownOwnersMutex;
QSet<long> ownOwners;

std::vector<JournalEntry> readJournal(Display *display)
{
    std::vector<JournalEntry> entries;
    const Atom atom = XInternAtom(display, journalName, False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(display, DefaultRootWindow(display), atom, 0, 6 * 4096, False,
                           XA_CARDINAL, &type, &format, &count, &after, &data) == Success &&
        data && format == 32) {
        const long *values = reinterpret_cast<const long *>(data);
        for (unsigned long i = 0; i + 5 < count; i += 6) {
            JournalEntry e{values[i], values[i + 1], {}};
            for (size_t level = 0; level < e.keysyms.size(); ++level)
                e.keysyms[level] = quint32(values[i + 2 + level]);
            entries.push_back(e);
        }
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
    for (const JournalEntry &e : entries) {
        values.insert(values.end(), {e.owner, e.keyCode});
        values.insert(values.end(), e.keysyms.begin(), e.keysyms.end());
    }
    XChangeProperty(display, DefaultRootWindow(display), atom, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(values.data()), int(values.size()));
}

XkbDescPtr fetchMap(Display *display, unsigned deviceSpec)
{
    return XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, deviceSpec);
}

std::optional<unsigned> findXTestDevice(Display *display)
{
    int opcode = 0, event = 0, error = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error))
        return std::nullopt;
    int major = 2, minor = 0;
    if (XIQueryVersion(display, &major, &minor) != Success)
        return std::nullopt;
    std::optional<unsigned> found;
    int count = 0;
    XIDeviceInfo *devices = XIQueryDevice(display, XIAllDevices, &count);
    for (int i = 0; i < count; ++i) {
        if (devices[i].use == XISlaveKeyboard && std::strstr(devices[i].name, "XTEST"))
            found = unsigned(devices[i].deviceid);
    }
    XIFreeDeviceInfo(devices);
    return found;
}

// Whether a keycode holds exactly these keysyms (all zero: nothing, and no modifier).
bool holds(XkbDescPtr xkb, int kc, const Keysyms &keysyms)
{
    if (!xkb || kc < xkb->min_key_code || kc > xkb->max_key_code)
        return false;
    if (!keysyms[0])
        return XkbKeyNumGroups(xkb, kc) == 0 && !xkb->map->modmap[kc];
    if (XkbKeyNumGroups(xkb, kc) == 0)
        return false;
    const int width = XkbKeyGroupWidth(xkb, kc, 0);
    for (int level = 0; level < X11SpareKeys::maxLevels; ++level) {
        const KeySym have = level < width ? XkbKeySymEntry(xkb, kc, level, 0) : NoSymbol;
        if (have != KeySym(keysyms[size_t(level)]))
            return false;
    }
    return true;
}

int findType(Display *display, XkbDescPtr xkb, unsigned shift, unsigned level3)
{
    // A stock type that consumes Lock, so CapsLock never capitalises a spare letter; it only
    // swaps the Shift levels, which the plan of each press accounts for. NumLock is not part
    // of it and changes nothing. (A type of our own would be cleaner, but Xlib clients that
    // loaded the keymap before it existed never learn of a new type.)
    // Type names are not part of the map: they come with the names.
    if (shift && level3 && XkbGetNames(display, XkbKeyTypeNamesMask, xkb) == Success) {
        const Atom name = XInternAtom(display, "FOUR_LEVEL_ALPHABETIC", True);
        for (int i = 0; name != None && i < xkb->map->num_types; ++i) {
            const XkbKeyTypeRec &t = xkb->map->types[i];
            if (t.name == name && t.num_levels == 4 && t.mods.mask == (shift | LockMask | level3))
                return i;
        }
    }
    return XkbAlphabeticIndex;
}

struct KeyEdit {
    quint8 keyCode;
    Keysyms keysyms; // all zero: back to empty
};

// Writes the keycodes in one change that spans them all, so every client reloads its keymap
// once, not once per keycode. The keycodes in between are written back as they are: the
// caller holds the server, and the map was read under that grab.
void writeKeys(Display *display, XkbDescPtr xkb, const std::vector<KeyEdit> &edits, int groups,
               unsigned shift, unsigned level3)
{
    if (edits.empty())
        return;
    const bool binds =
        std::any_of(edits.begin(), edits.end(), [](const KeyEdit &e) { return e.keysyms[0] != 0; });
    const int type = binds ? findType(display, xkb, shift, level3) : XkbAlphabeticIndex;
    const int width = xkb->map->types[type].num_levels;
    XkbMapChangesRec changes;
    std::memset(&changes, 0, sizeof changes);
    int first = 255, last = 0;
    for (const KeyEdit &e : edits) {
        first = std::min(first, int(e.keyCode));
        last = std::max(last, int(e.keyCode));
        if (e.keysyms[0]) {
            // The same levels in every group: a group switch changes nothing either.
            int types[XkbNumKbdGroups];
            std::fill(std::begin(types), std::end(types), type);
            XkbChangeTypesOfKey(xkb, e.keyCode, groups, (1u << groups) - 1, types, &changes);
            KeySym *syms = XkbKeySymsPtr(xkb, e.keyCode);
            for (int g = 0; g < groups; ++g) {
                for (int level = 0; level < width; ++level)
                    syms[g * width + level] =
                        level < X11SpareKeys::maxLevels ? KeySym(e.keysyms[size_t(level)]) : 0;
            }
        } else {
            XkbChangeTypesOfKey(xkb, e.keyCode, 0, XkbAllGroupsMask, nullptr, &changes);
        }
    }
    changes.changed = XkbKeySymsMask;
    changes.first_key_sym = XKeyCode(first);
    changes.num_key_syms = quint8(last - first + 1);
    XkbChangeMap(display, xkb, &changes);
}

// Gives back the keycodes of entries whose owner is gone, where they still hold what was
// bound, and drops the entries. The caller holds the server.
void dropDeadEntries(Display *display, X11SpareKeys::Leftovers leftovers)
{
    const std::vector<JournalEntry> entries = readJournal(display);
    QHash<long, bool> alive;
    {
        const std::lock_guard lock(ownOwnersMutex);
        for (const JournalEntry &e : entries) {
            if (alive.contains(e.owner))
                continue;
            const bool ours = ownOwners.contains(e.owner);
            alive[e.owner] =
                ours ? leftovers == X11SpareKeys::Leftovers::OfEndedProcesses
                     : e.owner > 0 && XGetSelectionOwner(display, Atom(e.owner)) != None;
        }
    }
    std::vector<KeyEdit> dead;
    std::vector<JournalEntry> kept;
    for (const JournalEntry &e : entries) {
        if (alive.value(e.owner))
            kept.push_back(e);
        else if (e.keyCode >= 8 && e.keyCode < 256 && e.keysyms[0])
            dead.push_back({quint8(e.keyCode), e.keysyms});
    }
    if (kept.size() == entries.size())
        return;
    storeJournal(display, kept);
    std::vector<unsigned> devices{XkbUseCoreKbd};
    if (const std::optional<unsigned> xtest = findXTestDevice(display))
        devices.push_back(*xtest);
    for (unsigned device : devices) {
        XkbDescPtr xkb = fetchMap(display, device);
        if (!xkb)
            continue;
        std::vector<KeyEdit> restores;
        for (const KeyEdit &e : dead) {
            if (holds(xkb, e.keyCode, e.keysyms))
                restores.push_back({e.keyCode, {}});
        }
        writeKeys(display, xkb, restores, 1, 0, 0);
        XkbFreeKeyboard(xkb, 0, True);
    }
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

X11SpareKeys::X11SpareKeys(Display *display) : m_display(display)
{
    m_xtestDevice = findXTestDevice(m_display);
    rescan();
}

X11SpareKeys::~X11SpareKeys()
{
    restore();
    if (m_owner) {
        XSetSelectionOwner(m_display, Atom(m_owner), None, CurrentTime);
        XDestroyWindow(m_display, Window(m_ownerWindow));
        XSync(m_display, False);
        const std::lock_guard lock(ownOwnersMutex);
        ownOwners.remove(long(m_owner));
    }
}

void X11SpareKeys::cleanLeftovers(Display *display, Leftovers leftovers)
{
    X11ErrorTrap trap(display);
    XGrabServer(display);
    dropDeadEntries(display, leftovers);
    XUngrabServer(display);
    trap.sync();
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
    m_fourLevels = findType(m_display, xkb, m_shift, m_level3) != XkbAlphabeticIndex;

    std::vector<Slot> found;
    QSet<int> known;
    QSet<long> lost;
    for (Slot &slot : m_slots) {
        const int kc = slot.keyCode;
        known.insert(kc);
        if (slot.bound() && holds(xkb, kc, slot.keysyms)) {
            found.push_back(slot);
            continue;
        }
        if (slot.bound())
            lost.insert(kc);
        if (holds(xkb, kc, {})) {
            // A new keymap took our binding away, or it is still free.
            slot.keysyms = {};
            slot.pressed = false;
            found.push_back(slot);
        }
        // Otherwise the keycode now carries someone else's symbols: not ours any more.
    }
    for (int kc = std::max(8, int(xkb->min_key_code)); kc <= xkb->max_key_code && kc < 256; ++kc) {
        if (!known.contains(kc) && holds(xkb, kc, {}))
            found.push_back({quint8(kc), {}, {}, false});
    }
    XkbFreeKeyboard(xkb, 0, True);
    m_slots = std::move(found);
    if (!lost.isEmpty() && m_owner) {
        X11ErrorTrap trap(m_display);
        XGrabServer(m_display);
        record(lost);
        XUngrabServer(m_display);
        trap.sync();
    }
}

bool X11SpareKeys::bind(const std::vector<quint32> &required, const std::vector<quint32> &wanted,
                        unsigned levels, std::stop_token stop)
{
    // Another client may take a keycode between the plan and the change: plan again without it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!bindOnce(required, wanted, levels, stop))
            return false;
        if (std::all_of(required.begin(), required.end(),
                        [&](quint32 keysym) { return bindingFor(keysym, levels).has_value(); }))
            return true;
        rescan();
    }
    return false;
}

bool X11SpareKeys::bindOnce(const std::vector<quint32> &required,
                            const std::vector<quint32> &wanted, unsigned levels,
                            std::stop_token stop)
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
    // Characters ahead of their turn go only onto free levels of keycodes this change writes
    // anyway: any client can read the keymap, so nothing is published sooner than that.
    for (quint32 keysym : wanted) {
        if (placed(keysym))
            continue;
        bool put = false;
        for (size_t i = 0; i < planned.size() && !put; ++i) {
            const int level = changed[i] ? freeLevel(i) : -1;
            if (level >= 0) {
                planned[i][size_t(level)] = keysym;
                put = true;
            }
        }
        if (!put)
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
    X11ErrorTrap trap(m_display);
    XGrabServer(m_display);
    if (std::any_of(edits.begin(), edits.end(), [](const Edit &e) { return e.keysyms[0] != 0; }))
        claimOwner();
    XkbDescPtr core = fetchMap(m_display, XkbUseCoreKbd);
    XkbDescPtr xtest = m_xtestDevice ? fetchMap(m_display, *m_xtestDevice) : nullptr;
    std::vector<KeyEdit> coreEdits, xtestEdits;
    QSet<long> touched, gone;
    for (const Edit &e : edits) {
        const auto slot = std::find_if(m_slots.begin(), m_slots.end(),
                                       [&](const Slot &s) { return s.keyCode == e.keyCode; });
        if (slot == m_slots.end())
            continue;
        touched.insert(e.keyCode);
        // A keycode is ours to change only while it holds what we put there.
        const bool coreOurs = holds(core, e.keyCode, slot->keysyms);
        const bool xtestOurs = xtest && holds(xtest, e.keyCode, slot->keysyms);
        const bool binding = e.keysyms[0] != 0;
        if (binding && (!coreOurs || (xtest && !xtestOurs))) {
            gone.insert(e.keyCode);
            continue;
        }
        if (coreOurs)
            coreEdits.push_back({e.keyCode, e.keysyms});
        if (xtestOurs)
            xtestEdits.push_back({e.keyCode, e.keysyms});
        if (!binding && !coreOurs) {
            gone.insert(e.keyCode);
            continue;
        }
        if (slot->keysyms[0] != e.keysyms[0] || !binding)
            slot->pressed = false;
        slot->keysyms = e.keysyms;
    }
    std::erase_if(m_slots, [&](const Slot &s) { return gone.contains(s.keyCode); });
    if (xtest) {
        writeKeys(m_display, xtest, xtestEdits, m_groups, m_shift, m_level3);
        XkbFreeKeyboard(xtest, 0, True);
    }
    if (core) {
        writeKeys(m_display, core, coreEdits, m_groups, m_shift, m_level3);
        XkbFreeKeyboard(core, 0, True);
    }
    record(touched);
    XUngrabServer(m_display);
    // The change is in force before anything else this connection sends.
    trap.sync();
}

void X11SpareKeys::record(const QSet<long> &keyCodes)
{
    // Our entries for these keycodes are rewritten as the slots now are; the caller holds the
    // server.
    if (!m_owner)
        return;
    std::vector<JournalEntry> entries = readJournal(m_display);
    std::erase_if(entries, [&](const JournalEntry &e) {
        return e.owner == long(m_owner) && keyCodes.contains(e.keyCode);
    });
    for (const Slot &slot : m_slots) {
        if (slot.bound() && keyCodes.contains(slot.keyCode))
            entries.push_back({long(m_owner), slot.keyCode, slot.keysyms});
    }
    storeJournal(m_display, entries);
}

void X11SpareKeys::claimOwner()
{
    if (m_owner)
        return;
    // Entries under a free name are a dead instance's: undo them before the name is taken,
    // or they would look alive. The caller holds the server.
    dropDeadEntries(m_display, Leftovers::OfEndedProcesses);
    const Window window =
        XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), -1, -1, 1, 1, 0, 0, 0);
    for (int i = 0; i < ownerNames; ++i) {
        const QByteArray name = ownerPrefix + QByteArray::number(i);
        const Atom atom = XInternAtom(m_display, name.constData(), False);
        if (XGetSelectionOwner(m_display, atom) != None)
            continue;
        XSetSelectionOwner(m_display, atom, window, CurrentTime);
        m_owner = atom;
        m_ownerWindow = window;
        const std::lock_guard lock(ownOwnersMutex);
        ownOwners.insert(long(atom));
        return;
    }
    XDestroyWindow(m_display, window);
}
