#include "X11SpareKeys.h"

#include "X11ErrorTrap.h"

#include <QSet>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>
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
            edits.push_back({quint8(kc), 0});
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

    std::vector<Slot> found;
    QSet<int> known;
    for (Slot &slot : m_slots) {
        const int kc = slot.keyCode;
        known.insert(kc);
        const bool empty = XkbKeyNumGroups(xkb, kc) == 0;
        if (slot.keysym && !empty && XkbKeySymEntry(xkb, kc, 0, 0) == slot.keysym) {
            found.push_back(slot);
        } else if (empty && !xkb->map->modmap[kc]) {
            // A new keymap took our binding away, or it is still free.
            slot.keysym = 0;
            found.push_back(slot);
        }
        // Otherwise the keycode now carries someone else's symbols: not ours any more.
    }
    for (int kc = std::max(8, int(xkb->min_key_code)); kc <= xkb->max_key_code && kc < 256; ++kc) {
        if (!known.contains(kc) && XkbKeyNumGroups(xkb, kc) == 0 && !xkb->map->modmap[kc])
            found.push_back({quint8(kc), 0, {}});
    }
    XkbFreeKeyboard(xkb, 0, True);

    m_slots = std::move(found);
    m_slotOfKeysym.clear();
    for (int i = 0; i < int(m_slots.size()); ++i) {
        if (m_slots[size_t(i)].keysym)
            m_slotOfKeysym.insert(m_slots[size_t(i)].keysym, i);
    }
    writeJournal();
}

bool X11SpareKeys::bind(const std::vector<quint32> &required, const std::vector<quint32> &wanted)
{
    if (m_stale)
        rescan();
    QSet<quint32> keepRequired(required.begin(), required.end());
    QSet<quint32> keepAll = keepRequired;
    keepAll.unite(QSet<quint32>(wanted.begin(), wanted.end()));
    std::vector<bool> taken(m_slots.size(), false);
    std::vector<Edit> edits;
    QSet<quint32> queued;

    // Free slots first, then the least recently used one past its grace period.
    const auto pick = [&](const QSet<quint32> &keep, bool waitable,
                          Clock::time_point *earliest) -> int {
        const Clock::time_point now = Clock::now();
        int best = -1;
        for (int i = 0; i < int(m_slots.size()); ++i) {
            const Slot &s = m_slots[size_t(i)];
            if (taken[size_t(i)])
                continue;
            if (!s.keysym)
                return i;
            if (keep.contains(s.keysym))
                continue;
            if (now - s.lastUsed < gracePeriod) {
                if (waitable && (*earliest == Clock::time_point{} || s.lastUsed < *earliest))
                    *earliest = s.lastUsed;
                continue;
            }
            if (best < 0 || s.lastUsed < m_slots[size_t(best)].lastUsed)
                best = i;
        }
        return best;
    };
    const auto assign = [&](int slot, quint32 keysym) {
        taken[size_t(slot)] = true;
        queued.insert(keysym);
        edits.push_back({m_slots[size_t(slot)].keyCode, keysym});
    };

    for (quint32 keysym : required) {
        if (m_slotOfKeysym.contains(keysym)) {
            taken[size_t(m_slotOfKeysym.value(keysym))] = true;
            continue;
        }
        if (queued.contains(keysym))
            continue;
        for (;;) {
            Clock::time_point earliest{};
            int slot = pick(keepAll, false, &earliest);
            if (slot < 0)
                slot = pick(keepRequired, true, &earliest);
            if (slot >= 0) {
                assign(slot, keysym);
                break;
            }
            if (earliest == Clock::time_point{})
                return false;
            std::this_thread::sleep_until(earliest + gracePeriod);
        }
    }
    for (quint32 keysym : wanted) {
        if (m_slotOfKeysym.contains(keysym) || queued.contains(keysym))
            continue;
        Clock::time_point unused{};
        const int slot = pick(keepAll, false, &unused);
        if (slot < 0)
            break;
        assign(slot, keysym);
    }
    if (edits.empty())
        return true;
    apply(edits);
    return true;
}

std::optional<quint8> X11SpareKeys::keyCodeFor(quint32 keysym) const
{
    const auto it = m_slotOfKeysym.constFind(keysym);
    if (it == m_slotOfKeysym.constEnd())
        return std::nullopt;
    return m_slots[size_t(*it)].keyCode;
}

bool X11SpareKeys::owns(quint8 keyCode) const
{
    return std::any_of(m_slots.begin(), m_slots.end(),
                       [keyCode](const Slot &s) { return s.keyCode == keyCode; });
}

X11SpareKeys::Clock::time_point X11SpareKeys::lastUse() const
{
    Clock::time_point last{};
    for (const Slot &slot : m_slots)
        last = std::max(last, slot.lastUsed);
    return last;
}

void X11SpareKeys::markUsed(quint32 keysym)
{
    const auto it = m_slotOfKeysym.constFind(keysym);
    if (it != m_slotOfKeysym.constEnd())
        m_slots[size_t(*it)].lastUsed = Clock::now();
}

void X11SpareKeys::restore()
{
    if (m_stale)
        rescan();
    std::vector<Edit> edits;
    for (Slot &slot : m_slots) {
        if (slot.keysym)
            edits.push_back({slot.keyCode, 0});
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
        for (int i = 0; i < int(m_slots.size()); ++i) {
            Slot &slot = m_slots[size_t(i)];
            if (slot.keyCode != e.keyCode)
                continue;
            if (slot.keysym)
                m_slotOfKeysym.remove(slot.keysym);
            slot.keysym = e.keysym;
            if (e.keysym)
                m_slotOfKeysym.insert(e.keysym, i);
        }
    }
    writeJournal();
    // The change is in force before anything else this connection sends.
    XSync(m_display, False);
}

void X11SpareKeys::applyTo(unsigned deviceSpec, const std::vector<Edit> &edits)
{
    X11ErrorTrap trap(m_display);
    XkbDescPtr xkb = fetchMap(m_display, deviceSpec);
    if (!xkb)
        return;
    XkbMapChangesRec changes;
    std::memset(&changes, 0, sizeof changes);
    int low = 255, high = 0;
    for (const Edit &e : edits) {
        if (e.keysym) {
            // ALPHABETIC consumes Shift and Lock, and with the same keysym on both
            // levels of every group neither they, AltGr nor the group can change it.
            int types[XkbNumKbdGroups];
            std::fill(std::begin(types), std::end(types), int(XkbAlphabeticIndex));
            XkbChangeTypesOfKey(xkb, e.keyCode, m_groups, (1u << m_groups) - 1, types, &changes);
            KeySym *syms = XkbKeySymsPtr(xkb, e.keyCode);
            std::fill(syms, syms + XkbKeyNumSyms(xkb, e.keyCode), KeySym(e.keysym));
        } else {
            XkbChangeTypesOfKey(xkb, e.keyCode, 0, XkbAllGroupsMask, nullptr, &changes);
        }
        low = std::min(low, int(e.keyCode));
        high = std::max(high, int(e.keyCode));
    }
    changes.changed = XkbKeySymsMask;
    changes.first_key_sym = XKeyCode(low);
    changes.num_key_syms = quint8(high - low + 1);
    XkbChangeMap(m_display, xkb, &changes);
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
        if (slot.keysym)
            entries.push_back({pid, slot.keyCode, long(slot.keysym)});
    }
    storeJournal(m_display, entries);
}
