#include "X11SpareKeys.h"

#include "X11ErrorTrap.h"

#include <QSet>

#include <algorithm>
#include <cstring>
#include <mutex>

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

int X11SpareKeys::levels() const
{
    if (!m_shift)
        return 1;
    return m_fourLevels ? 4 : 2;
}

bool X11SpareKeys::ownsAll(unsigned first, unsigned count) const
{
    for (unsigned kc = first; kc < first + count; ++kc) {
        if (std::find(m_keyCodes.begin(), m_keyCodes.end(), kc) == m_keyCodes.end())
            return false;
    }
    return true;
}

X11SpareKeys::Keysyms X11SpareKeys::levelsOf(quint8 keyCode,
                                             const std::vector<ExtraKeyPool::Edit> &edits) const
{
    Keysyms syms{};
    for (int level = 0; level < maxLevels; ++level)
        syms[size_t(level)] = m_pool.at(keyCode, level);
    for (const ExtraKeyPool::Edit &e : edits) {
        if (e.keycode == keyCode && e.level < maxLevels)
            syms[size_t(e.level)] = e.keysym;
    }
    // Level 1 is never empty on a bound keycode: it is what the record and holds() go by. No
    // plan presses it there, so it may change at any time.
    if (!syms[0]) {
        for (quint32 sym : syms) {
            if (sym) {
                syms[0] = sym;
                break;
            }
        }
    }
    return syms;
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

    std::vector<ExtraKeyPool::Slot> found;
    std::vector<quint8> keyCodes;
    QSet<long> lost;
    for (int kc = std::max(8, int(xkb->min_key_code)); kc <= xkb->max_key_code && kc < 256; ++kc) {
        const auto written = m_written.constFind(quint8(kc));
        const bool ours = written != m_written.constEnd() && holds(xkb, kc, *written);
        if (!ours && written != m_written.constEnd()) {
            // A new keymap took our binding away, or someone else's symbols replaced it.
            m_written.remove(quint8(kc));
            lost.insert(kc);
        }
        if (!ours && !holds(xkb, kc, {}))
            continue;
        keyCodes.push_back(quint8(kc));
        // What the pool put there: a level-1 filler is no binding of its own.
        for (int level = 0; level < levels(); ++level)
            found.push_back({unsigned(kc), level, ours ? m_pool.at(kc, level) : 0, {}, false});
    }
    XkbFreeKeyboard(xkb, 0, True);
    m_keyCodes = std::move(keyCodes);
    m_pool.reconcile(found);
    if (!lost.isEmpty() && m_owner) {
        X11ErrorTrap trap(m_display);
        XGrabServer(m_display);
        record(lost);
        XUngrabServer(m_display);
        trap.sync();
    }
}

bool X11SpareKeys::apply(const std::vector<ExtraKeyPool::Edit> &edits)
{
    if (m_stale)
        rescan();
    QList<quint8> keys;
    for (const ExtraKeyPool::Edit &e : edits) {
        if (!keys.contains(quint8(e.keycode)))
            keys.push_back(quint8(e.keycode));
    }
    const bool binds =
        std::any_of(edits.begin(), edits.end(), [](const auto &e) { return e.keysym != 0; });
    // The server hands the core keyboard the keymap of whichever device sent the
    // last event; for our keys that is the XTEST device, which may keep a keymap
    // of its own. Both must hold the same, or the focused client sees our keys
    // empty again after the first synthetic press.
    X11ErrorTrap trap(m_display);
    XGrabServer(m_display);
    if (binds)
        claimOwner(); // before the maps are read: it may give back a dead instance's keys
    XkbDescPtr core = fetchMap(m_display, XkbUseCoreKbd);
    XkbDescPtr xtest = m_xtestDevice ? fetchMap(m_display, *m_xtestDevice) : nullptr;
    std::vector<KeyEdit> coreEdits, xtestEdits;
    QHash<quint8, std::pair<Keysyms, Keysyms>> written; // before and after
    QSet<long> touched;
    bool all = core != nullptr;
    for (quint8 kc : std::as_const(keys)) {
        touched.insert(kc);
        const Keysyms before = m_written.value(kc, Keysyms{});
        const Keysyms after = levelsOf(kc, edits);
        // A keycode is ours to change only while it holds what we put there.
        const bool coreOurs = core && holds(core, kc, before);
        const bool xtestOurs = xtest && holds(xtest, kc, before);
        if (after[0] && (!coreOurs || (xtest && !xtestOurs))) {
            all = false;
            m_written.remove(kc);
            continue;
        }
        if (coreOurs)
            coreEdits.push_back({kc, after});
        if (xtestOurs)
            xtestEdits.push_back({kc, after});
        if (!coreOurs) {
            all = false;
            m_written.remove(kc);
            continue;
        }
        written.insert(kc, {before, after});
        if (after[0])
            m_written.insert(kc, after);
        else
            m_written.remove(kc);
    }
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
    // The change is in force before anything else this connection sends. One the server
    // refused may have taken in part: each keycode is read again, and counts as changed only
    // where it holds the new keysyms.
    const bool failed = trap.sync() != 0;
    XkbDescPtr check = failed ? fetchMap(m_display, XkbUseCoreKbd) : nullptr;
    std::vector<ExtraKeyPool::Edit> took;
    for (auto it = written.cbegin(); it != written.cend(); ++it) {
        const auto &[before, after] = it.value();
        if (failed && !holds(check, it.key(), after)) {
            all = false;
            if (before[0] && holds(check, it.key(), before))
                m_written.insert(it.key(), before);
            else
                m_written.remove(it.key());
            continue;
        }
        for (const ExtraKeyPool::Edit &e : edits) {
            if (e.keycode == it.key())
                took.push_back(e);
        }
    }
    if (check)
        XkbFreeKeyboard(check, 0, True);
    m_pool.apply(took);
    if (!all)
        rescan();
    return all;
}

void X11SpareKeys::releaseUnused()
{
    if (m_stale)
        rescan();
    const std::vector<ExtraKeyPool::Edit> edits = m_pool.unusedEdits();
    if (!edits.empty())
        apply(edits);
}

void X11SpareKeys::restore()
{
    if (m_stale)
        rescan();
    // Every level, also those the pool no longer lists (a layout with fewer levels).
    std::vector<ExtraKeyPool::Edit> edits;
    for (auto it = m_written.cbegin(); it != m_written.cend(); ++it) {
        for (int level = 0; level < maxLevels; ++level)
            edits.push_back({it.key(), level, 0});
    }
    if (!edits.empty())
        apply(edits);
}

void X11SpareKeys::record(const QSet<long> &keyCodes)
{
    // Our entries for these keycodes are rewritten as the keycodes now are; the caller holds
    // the server.
    if (!m_owner)
        return;
    std::vector<JournalEntry> entries = readJournal(m_display);
    std::erase_if(entries, [&](const JournalEntry &e) {
        return e.owner == long(m_owner) && keyCodes.contains(e.keyCode);
    });
    for (auto it = m_written.cbegin(); it != m_written.cend(); ++it) {
        if (keyCodes.contains(it.key()))
            entries.push_back({long(m_owner), it.key(), it.value()});
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
