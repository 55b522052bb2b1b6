#include "PlannedKeySession.h"

#include "KeyPlanner.h"
#include "TextKeysyms.h"

#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <set>
#include <thread>

#include "platform/KeyCodes.h"

namespace {

// A viewer samples the modifier state per key event: a change must be in force, with a
// timestamp of its own, before the key that needs it.
constexpr std::chrono::milliseconds modifierSettle{1};

// The Unicode stream-safe bound on a run of non-starters: a stop is checked at least this often
// inside one character.
constexpr size_t stopCheckInterval = 30;

constexpr KeyPlanner::Shift shiftBits[] = {KeyPlanner::ShiftKey, KeyPlanner::Level3Key,
                                           KeyPlanner::Level5Key};

constexpr ClusterEnd typed{ClusterEnd::Kind::Typed}, stopped{ClusterEnd::Kind::Stopped},
    lostEnd{ClusterEnd::Kind::Lost};

constexpr ClusterEnd notTypeable(Untypeable reason)
{
    return {ClusterEnd::Kind::NotTypeable, reason};
}

} // namespace

PlannedKeySession::PlannedKeySession(std::unique_ptr<KeyBackend> backend)
    : m_backend(std::move(backend))
{
    refresh();
}

PlannedKeySession::~PlannedKeySession()
{
    if (!m_backend->lost()) {
        releaseShifts();
        m_backend->flush(true);
    }
    m_planner.reset();
}

bool PlannedKeySession::holds(KeyBackend::Keycode keycode) const
{
    return std::find(std::begin(m_shiftDown), std::end(m_shiftDown), keycode) !=
           std::end(m_shiftDown);
}

bool PlannedKeySession::refresh()
{
    if (!m_backend->refresh())
        return false;
    if (!m_planner || m_serial != m_backend->keymapSerial()) {
        m_serial = m_backend->keymapSerial();
        m_planner.reset();
        if (xkb_keymap *keymap = m_backend->keymap()) {
            std::unordered_set<KeyPlanner::Keycode> extra;
            for (const ExtraKeyPool::Slot &slot : m_backend->pool().entries())
                extra.insert(slot.keycode);
            m_planner =
                std::make_unique<KeyPlanner>(keymap, std::move(extra), m_backend->forwardsKeys());
            const xkb_mod_index_t caps = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_CAPS);
            m_capsMask = caps == XKB_MOD_INVALID ? 0 : 1u << caps;
            m_shiftMask = m_planner->shiftMask(KeyPlanner::ShiftKey);
            m_level3Mask = m_planner->shiftMask(KeyPlanner::Level3Key);
            m_backend->useShiftMasks(m_shiftMask, m_level3Mask);
        }
    }
    if (!m_planner)
        return true;
    // Where no extra key can be had at all, a dead key is the only way to an accent.
    m_planner->useDeadKeys(m_backend->pool().entries().empty());
    // Keys down that this session did not press are someone else's: never touched, and
    // planned around.
    std::vector<KeyPlanner::Keycode> held;
    if (m_backend->seesKeys()) {
        for (KeyBackend::Keycode kc : m_backend->keysDown()) {
            if (!holds(kc))
                held.push_back(kc);
        }
    }
    const auto [layout, locks] = m_backend->layoutAndLocks();
    m_planner->setState(layout, locks, held);
    m_heldMods = m_planner->heldMods();
    m_lockedMods = locks;
    return true;
}

bool PlannedKeySession::isKeyDown(quint16 keyCode)
{
    const std::optional<KeyBackend::Keycode> kc = m_backend->keycodeOf(keyCode);
    if (!kc)
        return false;
    const std::vector<KeyBackend::Keycode> down = m_backend->keysDown();
    return std::find(down.begin(), down.end(), *kc) != down.end();
}

bool PlannedKeySession::anyKeyDown()
{
    xkb_keymap *keymap = m_planner ? m_backend->keymap() : nullptr;
    for (KeyBackend::Keycode kc : m_backend->keysDown()) {
        // A lock key stays down only while held; it is no part of what started the run.
        const xkb_keysym_t *syms = nullptr;
        const bool one = keymap && xkb_keymap_key_get_syms_by_level(keymap, kc, 0, 0, &syms) == 1;
        const xkb_keysym_t sym = one ? syms[0] : XKB_KEY_NoSymbol;
        if (!holds(kc) && sym != XKB_KEY_Caps_Lock && sym != XKB_KEY_Num_Lock &&
            sym != XKB_KEY_Scroll_Lock && sym != XKB_KEY_Shift_Lock)
            return true;
    }
    return false;
}

std::chrono::nanoseconds PlannedKeySession::takeTimeSpent()
{
    const auto spent = std::chrono::duration_cast<std::chrono::nanoseconds>(m_spent);
    m_spent = {};
    return spent;
}

bool PlannedKeySession::onLayout(Keysym keysym)
{
    return m_planner && (m_planner->plan(keysym) || !m_planner->deadKeyPlan(keysym).empty());
}

std::vector<PlannedKeySession::Keysym>
PlannedKeySession::extrasOf(const std::vector<Keysym> &keysyms)
{
    std::vector<Keysym> extras; // distinct, in order
    for (Keysym sym : keysyms) {
        if (!onLayout(sym) &&
            std::find(extras.begin(), extras.end(), sym) == extras.end())
            extras.push_back(sym);
    }
    return extras;
}

bool PlannedKeySession::allTypeable(QStringView text)
{
    refresh();
    std::set<Keysym> extras;
    for (Keysym sym : TextKeysyms::forText(text)) {
        if (!onLayout(sym))
            extras.insert(sym);
    }
    // No character needs more extra keys than the whole text.
    return !unfit(extras.size());
}

std::optional<Untypeable> PlannedKeySession::untypeable(QStringView cluster)
{
    return unfit(extrasOf(TextKeysyms::forText(cluster)).size());
}

std::optional<Untypeable> PlannedKeySession::unfit(size_t extras) const
{
    // A guest has no extra keys: what the layout lacks never reaches it.
    if (m_backend->forwardsKeys())
        return extras ? std::optional(Untypeable::KeysOnly) : std::nullopt;
    const int capacity = m_backend->pool().capacity(extraLevels());
    if (int(extras) <= capacity)
        return std::nullopt;
    return capacity == 0 ? Untypeable::NoKey : Untypeable::TooManyDistinct;
}

void PlannedKeySession::prepare(QStringView upcoming)
{
    refresh();
    // What the layout lacks goes on extra keys, bound in batches as it comes up.
    m_upcoming.clear();
    for (Keysym sym : TextKeysyms::forText(upcoming)) {
        if (!onLayout(sym))
            m_upcoming.push_back(sym);
    }
    m_upcomingPos = 0;
}

ClusterEnd PlannedKeySession::typeCluster(QStringView cluster)
{
    return typeKeysyms(TextKeysyms::forText(cluster));
}

ClusterEnd PlannedKeySession::pressKey(quint16 keyCode)
{
    // Planned like characters: a held Shift that turns Tab into a back-tab sends it elsewhere.
    if (keyCode == KeyCode::Return)
        return typeKeysyms({XKB_KEY_Return});
    if (keyCode == KeyCode::Tab)
        return typeKeysyms({XKB_KEY_Tab});
    return notTypeable(Untypeable::NoKey);
}

unsigned PlannedKeySession::extraLevels() const
{
    unsigned levels = 0;
    for (int level = 0; level < m_backend->extraKeyType().levels && level < 32; ++level) {
        if (extraShifts(level))
            levels |= 1u << level;
    }
    return levels;
}

std::optional<unsigned> PlannedKeySession::extraShifts(int level) const
{
    const KeyBackend::ExtraKeyType type = m_backend->extraKeyType();
    if (!type.alphabetic)
        return level == 0 ? std::optional<unsigned>(0) : std::nullopt;
    // Shift and CapsLock each flip between the two levels of a pair; level 3 picks the second.
    for (unsigned shifts : {0u, unsigned(KeyPlanner::ShiftKey), unsigned(KeyPlanner::Level3Key),
                            unsigned(KeyPlanner::ShiftKey | KeyPlanner::Level3Key)}) {
        if (((shifts & KeyPlanner::ShiftKey) && !m_shiftMask) ||
            ((shifts & KeyPlanner::Level3Key) && (!m_level3Mask || type.levels < 4)))
            continue;
        const unsigned mods = m_heldMods | (shifts & KeyPlanner::ShiftKey ? m_shiftMask : 0) |
                              (shifts & KeyPlanner::Level3Key ? m_level3Mask : 0);
        const bool shifted = m_shiftMask && (mods & m_shiftMask);
        const int reached = (shifted != bool(m_lockedMods & m_capsMask) ? 1 : 0) +
                            (type.levels == 4 && m_level3Mask && (mods & m_level3Mask) ? 2 : 0);
        if (reached == level)
            return shifts;
    }
    return std::nullopt;
}

std::vector<PlannedKeySession::Press> PlannedKeySession::plan(Keysym keysym)
{
    if (m_planner) {
        if (const std::optional<KeyPlanner::Plan> p = m_planner->plan(keysym))
            return {Press{p->key, p->shifts, -1}};
        std::vector<Press> presses;
        for (const KeyPlanner::Plan &p : m_planner->deadKeyPlan(keysym))
            presses.push_back({p.key, p.shifts, -1});
        if (!presses.empty())
            return presses;
    }
    if (m_backend->forwardsKeys())
        return {};
    if (const ExtraKeyPool::Slot *slot = m_backend->pool().find(keysym, extraLevels())) {
        if (const std::optional<unsigned> shifts = extraShifts(slot->level))
            return {Press{slot->keycode, *shifts, slot->level}};
    }
    return {};
}

std::vector<PlannedKeySession::Keysym> PlannedKeySession::upcomingExtras(size_t limit) const
{
    // The distinct keysyms coming next, as many as could fit at once.
    std::vector<Keysym> wanted;
    for (size_t i = m_upcomingPos; i < m_upcoming.size() && wanted.size() < limit; ++i) {
        if (std::find(wanted.begin(), wanted.end(), m_upcoming[i]) == wanted.end())
            wanted.push_back(m_upcoming[i]);
    }
    return wanted;
}

std::optional<ClusterEnd> PlannedKeySession::bindExtras(const std::vector<Keysym> &extras,
                                                        Clock::duration &waited)
{
    ExtraKeyPool &pool = m_backend->pool();
    const unsigned levels = extraLevels();
    const int capacity = pool.capacity(levels);
    if (const std::optional<Untypeable> reason = unfit(extras.size()))
        return notTypeable(*reason);
    // Another client may take a key code between the plan and the change: plan again without
    // it, a few times.
    for (int commits = 0;;) {
        if (std::all_of(extras.begin(), extras.end(),
                        [&](Keysym k) { return pool.find(k, levels); }))
            return std::nullopt;
        const ExtraKeyPool::Allocation allocation =
            pool.allocate(extras, upcomingExtras(size_t(capacity)), levels);
        if (allocation.impossible)
            return notTypeable(Untypeable::TooManyDistinct);
        if (allocation.waitUntil) {
            // All taken: wait for the oldest to pass its grace, or for a slow window to handle
            // it; the wait is not the pace.
            const Clock::time_point start = Clock::now();
            m_backend->awaitWindow();
            while (pool.now() < *allocation.waitUntil) {
                if (m_stop.stop_requested())
                    return stopped;
                std::this_thread::sleep_for(std::min<Clock::duration>(
                    *allocation.waitUntil - pool.now(), ExtraKeyPool::recheck));
            }
            m_backend->awaitWindow();
            waited += Clock::now() - start;
            continue;
        }
        if (++commits > 3)
            return notTypeable(Untypeable::KeymapRefused);
        const bool took = m_backend->commit(allocation.edits);
        if (m_backend->lost())
            return lostEnd;
        if (!took && !refresh())
            return lostEnd;
    }
}

void PlannedKeySession::holdShifts(unsigned shifts, std::vector<Step> &steps, unsigned &held) const
{
    bool changed = false;
    for (int i = 0; i < 3; ++i) {
        if ((held & shiftBits[i]) && !(shifts & shiftBits[i])) {
            steps.push_back({Step::Kind::ShiftUp, *m_planner->shiftKey(shiftBits[i]), i});
            held &= ~unsigned(shiftBits[i]);
            changed = true;
        }
    }
    for (int i = 0; i < 3; ++i) {
        if ((shifts & shiftBits[i]) && !(held & shiftBits[i])) {
            steps.push_back({Step::Kind::ShiftDown, *m_planner->shiftKey(shiftBits[i]), i});
            held |= shiftBits[i];
            changed = true;
        }
    }
    if (changed)
        steps.push_back({Step::Kind::Settle});
}

std::vector<PlannedKeySession::Step> PlannedKeySession::steps(const std::vector<Keysym> &keysyms)
{
    std::vector<Press> presses;
    for (Keysym sym : keysyms) {
        const std::vector<Press> planned = plan(sym);
        if (planned.empty())
            return {};
        presses.insert(presses.end(), planned.begin(), planned.end());
    }
    std::vector<Step> steps;
    unsigned held = 0;
    for (size_t i = 0; i < presses.size(); ++i) {
        if (i > 0 && i % stopCheckInterval == 0)
            steps.push_back({Step::Kind::CheckStop});
        holdShifts(presses[i].shifts, steps, held);
        steps.push_back({Step::Kind::KeyDown, presses[i].keycode});
        steps.push_back({Step::Kind::KeyUp, presses[i].keycode});
        if (presses[i].extraLevel >= 0)
            steps.push_back({Step::Kind::Used, presses[i].keycode, presses[i].extraLevel});
    }
    if (held) {
        holdShifts(0, steps, held);
        steps.pop_back(); // the pause follows: nothing to settle for
    }
    return steps;
}

ClusterEnd PlannedKeySession::run(const std::vector<Step> &steps)
{
    using Kind = Step::Kind;
    for (const Step &step : steps) {
        const bool down = step.kind == Kind::ShiftDown || step.kind == Kind::KeyDown;
        if (step.kind == Kind::Used) {
            m_backend->pool().markUsed(step.keycode, step.level);
            continue;
        }
        if (step.kind == Kind::ShiftDown || step.kind == Kind::ShiftUp)
            m_shiftDown[step.level] = down ? step.keycode : 0;
        if (step.keycode)
            m_backend->sendKey(step.keycode, down);
        if (!down && !m_backend->flush(step.kind == Kind::CheckStop))
            return lostEnd;
        if (step.kind == Kind::Settle)
            std::this_thread::sleep_for(modifierSettle);
        if (step.kind == Kind::CheckStop && m_stop.stop_requested()) {
            releaseShifts();
            m_backend->flush(false);
            return stopped;
        }
    }
    return m_backend->flush(false) ? typed : lostEnd;
}

void PlannedKeySession::releaseShifts()
{
    for (KeyBackend::Keycode &kc : m_shiftDown) {
        if (kc)
            m_backend->sendKey(std::exchange(kc, 0), false);
    }
}

ClusterEnd PlannedKeySession::typeKeysyms(const std::vector<Keysym> &keysyms)
{
    const Clock::time_point start = Clock::now();
    Clock::duration waited{};
    if (m_backend->lost() || !refresh())
        return lostEnd;
    if (m_stop.stop_requested())
        return stopped;
    const std::vector<Keysym> extras = extrasOf(keysyms);
    if (!extras.empty()) {
        if (const std::optional<ClusterEnd> end = bindExtras(extras, waited))
            return *end;
        if (m_stop.stop_requested())
            return stopped; // nothing is typed after a stop
    }
    const std::vector<Step> plan = steps(keysyms);
    if (plan.empty() && !keysyms.empty())
        return notTypeable(m_backend->forwardsKeys() ? Untypeable::KeysOnly : Untypeable::NoKey);
    const ClusterEnd end = run(plan);

    // Follow the typed text through the prepared window.
    std::vector<Keysym> extraTyped;
    for (Keysym sym : keysyms) {
        if (std::find(extras.begin(), extras.end(), sym) != extras.end())
            extraTyped.push_back(sym);
    }
    if (end == typed && m_upcomingPos + extraTyped.size() <= m_upcoming.size() &&
        std::equal(extraTyped.begin(), extraTyped.end(),
                   m_upcoming.begin() + std::ptrdiff_t(m_upcomingPos)))
        m_upcomingPos += extraTyped.size();
    const Clock::duration spent = Clock::now() - start - waited;
    m_spent += std::max(spent, Clock::duration::zero());
    return end;
}
