#pragma once

#include <QObject>
#include <QPointer>
#include <QWindow>
#include <QtQml/qqml.h>

class AppState;
class QKeyEvent;

// Records the two global shortcuts by example. While a recorder waits, an event filter
// on the settings window sees every key press before the focused control: a press
// with Ctrl, Alt or Super is stored (canonical key code from the native scan code,
// the four modifier switches) and consumed; any other press passes on unchanged.
class ShortcutRecorder : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Owned by the settings window")
    Q_PROPERTY(bool isRecordingShortcut READ isRecordingShortcut NOTIFY recordingChanged)
    Q_PROPERTY(bool isRecordingPrevShortcut READ isRecordingPrevShortcut NOTIFY recordingChanged)

public:
    explicit ShortcutRecorder(AppState &state, QObject *parent = nullptr);
    ~ShortcutRecorder() override;

    bool isRecordingShortcut() const { return m_recordingMain; }
    bool isRecordingPrevShortcut() const { return m_recordingPrev; }
    /// Whether the key filter is installed (only while a recorder waits).
    bool isMonitoring() const { return !m_monitored.isNull(); }

    /// The window whose key presses the recorders watch.
    void setWindow(QWindow *window);

    /// Stops either recorder and removes the key filter; safe at any time.
    Q_INVOKABLE void stopRecording();
    /// Starts recording the main shortcut (stopping any other recording first).
    Q_INVOKABLE void startRecording();
    /// Starts recording the previous-snippet shortcut (stopping any other recording first).
    Q_INVOKABLE void startRecordingPrev();

signals:
    void recordingChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void start(bool prev);
    bool record(const QKeyEvent &event);

    AppState &m_state;
    QPointer<QWindow> m_window;
    QPointer<QWindow> m_monitored;
    bool m_recordingMain = false;
    bool m_recordingPrev = false;
};
