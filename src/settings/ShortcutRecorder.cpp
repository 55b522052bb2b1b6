#include "ShortcutRecorder.h"

#include "model/AppState.h"
#include "platform/KeyCodes.h"
#include "platform/KeyboardTap.h"

#include <QKeyEvent>

namespace {

// Canonical codes of the modifier keys themselves (Command through Function). On X11
// pressing a second modifier reports the first as held; such a press is not a shortcut.
bool isModifierKey(quint16 keyCode)
{
    return keyCode >= KeyCode::RightCommand && keyCode <= 63;
}

} // namespace

ShortcutRecorder::ShortcutRecorder(AppState &state, QObject *parent)
    : QObject(parent), m_state(state)
{
}

ShortcutRecorder::~ShortcutRecorder()
{
    if (m_monitored)
        m_monitored->removeEventFilter(this);
}

void ShortcutRecorder::setWindow(QWindow *window)
{
    stopRecording();
    m_window = window;
}

void ShortcutRecorder::stopRecording()
{
    const bool changed = m_recordingMain || m_recordingPrev;
    m_recordingMain = false;
    m_recordingPrev = false;
    if (m_monitored) {
        m_monitored->removeEventFilter(this);
        m_monitored = nullptr;
    }
    if (changed)
        emit recordingChanged();
}

void ShortcutRecorder::startRecording()
{
    start(false);
}

void ShortcutRecorder::startRecordingPrev()
{
    start(true);
}

void ShortcutRecorder::start(bool prev)
{
    stopRecording();
    (prev ? m_recordingPrev : m_recordingMain) = true;
    // Without a window nothing can be caught; the button still reads as waiting and a click cancels.
    if (m_window) {
        m_window->installEventFilter(this);
        m_monitored = m_window;
    }
    emit recordingChanged();
}

bool ShortcutRecorder::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_monitored && event->type() == QEvent::KeyPress)
        return record(*static_cast<QKeyEvent *>(event));
    return QObject::eventFilter(watched, event);
}

bool ShortcutRecorder::record(const QKeyEvent &event)
{
    const Qt::KeyboardModifiers mods = event.modifiers();
    const bool control = mods.testFlag(Qt::ControlModifier);
    const bool option = mods.testFlag(Qt::AltModifier);
    const bool command = mods.testFlag(Qt::MetaModifier);
    const bool shift = mods.testFlag(Qt::ShiftModifier);
    if (!control && !option && !command)
        return false;
    // The key's position, not its symbol: Qt::Key changes with the layout and the modifiers.
    const std::optional<quint16> keyCode = m_state.platform().tap.keyCodeForScanCode(event.nativeScanCode());
    if (!keyCode || isModifierKey(*keyCode))
        return false;

    const bool prev = m_recordingPrev;
    if (prev) {
        m_state.setPrevHotkeyKeyCode(*keyCode);
        m_state.setPrevHotkeyControl(control);
        m_state.setPrevHotkeyCommand(command);
        m_state.setPrevHotkeyOption(option);
        m_state.setPrevHotkeyShift(shift);
    } else {
        m_state.setHotkeyKeyCode(*keyCode);
        m_state.setHotkeyControl(control);
        m_state.setHotkeyCommand(command);
        m_state.setHotkeyOption(option);
        m_state.setHotkeyShift(shift);
    }
    m_state.updateHotkey();
    stopRecording();
    return true;
}
