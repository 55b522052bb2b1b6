#include "FakePlatform.h"

#include "platform/KeyCodes.h"

void Recorder::add(RecordedStep step)
{
    {
        std::lock_guard lock(m_mutex);
        m_steps.append(std::move(step));
    }
    m_changed.notify_all();
}

QList<RecordedStep> Recorder::steps() const
{
    std::lock_guard lock(m_mutex);
    return m_steps;
}

bool Recorder::waitForCount(qsizetype n, std::chrono::milliseconds deadline)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, deadline, [&] { return m_steps.size() >= n; });
}

QString Recorder::typedText() const
{
    std::lock_guard lock(m_mutex);
    QString typed;
    for (const RecordedStep &step : m_steps) {
        if (step.kind != RecordedStep::Down)
            continue;
        if (step.keyCode == KeyCode::Return)
            typed += QLatin1Char('\n');
        else if (step.keyCode == KeyCode::Tab)
            typed += QLatin1Char('\t');
        else
            typed += step.text;
    }
    return typed;
}

void Recorder::setKeyDown(quint16 keyCode, bool down)
{
    std::lock_guard lock(m_mutex);
    if (down)
        m_down.insert(keyCode);
    else
        m_down.remove(keyCode);
}

bool Recorder::isKeyDown(quint16 keyCode) const
{
    std::lock_guard lock(m_mutex);
    const_cast<Recorder *>(this)->m_queries.append(keyCode);
    return m_down.contains(keyCode);
}

QList<quint16> Recorder::keyQueries() const
{
    std::lock_guard lock(m_mutex);
    return m_queries;
}

void Recorder::addPrepared(QStringView text)
{
    std::lock_guard lock(m_mutex);
    m_prepared.append({m_steps.size(), text.toString()});
}

QList<PreparedText> Recorder::prepared() const
{
    std::lock_guard lock(m_mutex);
    return m_prepared;
}

namespace {
class FakeSession final : public KeySession {
public:
    explicit FakeSession(Recorder &recorder) : m_recorder(recorder) {}
    ~FakeSession() override { ++m_recorder.sessionsClosed; }
    bool isKeyDown(quint16 keyCode) override { return m_recorder.isKeyDown(keyCode); }
    void prepare(QStringView upcoming) override { m_recorder.addPrepared(upcoming); }
    void postKey(quint16 keyCode, bool down, QStringView text) override
    {
        m_recorder.add({down ? RecordedStep::Down : RecordedStep::Up, keyCode, text.toString(), 0});
    }
    std::chrono::nanoseconds takeTimeSpent() override
    {
        return std::chrono::nanoseconds(m_recorder.spentNs.load());
    }

private:
    Recorder &m_recorder;
};
} // namespace

std::unique_ptr<KeySession> FakeKeyInjector::openSession()
{
    if (failToOpen)
        return nullptr;
    ++m_recorder.sessionsOpened;
    return std::make_unique<FakeSession>(m_recorder);
}

bool FakePauser::pause(std::chrono::nanoseconds duration, std::stop_token stop)
{
    m_recorder.add({RecordedStep::Pause, 0, {}, qint64(duration.count())});
    std::unique_lock lock(m_mutex);
    ++m_waiting;
    m_cv.notify_all();
    const bool stopped = !m_cv.wait(lock, stop, [&] { return !m_holding || m_passes > 0; });
    if (!stopped && m_holding)
        --m_passes;
    --m_waiting;
    return !stopped && !stop.stop_requested();
}

void FakePauser::hold()
{
    std::lock_guard lock(m_mutex);
    m_holding = true;
    m_passes = 0;
}

void FakePauser::step()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_passes;
    }
    m_cv.notify_all();
}

void FakePauser::release()
{
    {
        std::lock_guard lock(m_mutex);
        m_holding = false;
    }
    m_cv.notify_all();
}

bool FakePauser::waitUntilHeld(std::chrono::milliseconds deadline)
{
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, deadline, [&] { return m_holding && m_waiting > 0; });
}

bool FakeKeyboardTap::install(Handler handler)
{
    ++installs;
    if (refuseInstall)
        return false;
    m_handler = std::move(handler);
    installed = true;
    return true;
}

void FakeKeyboardTap::remove()
{
    m_handler = nullptr;
    installed = false;
    watched.clear();
    escapeWatched = false;
}

QList<KeyCombo> FakeKeyboardTap::watch(const QList<KeyCombo> &combos, bool escape)
{
    watched = combos;
    escapeWatched = escape;
    QList<KeyCombo> taken;
    for (const KeyCombo &combo : combos) {
        if (takenByOthers.contains(combo))
            taken.append(combo);
    }
    return taken;
}

std::optional<quint16> FakeKeyboardTap::keyCodeForScanCode(quint32 nativeScanCode) const
{
    // Tests use the canonical code plus 8, as X keycodes sit 8 above evdev codes.
    if (nativeScanCode < 8)
        return std::nullopt;
    return quint16(nativeScanCode - 8);
}

bool FakeKeyboardTap::press(quint16 keyCode, quint64 flags)
{
    if (!installed || !m_handler)
        return false;
    return m_handler(keyCode, flags);
}
