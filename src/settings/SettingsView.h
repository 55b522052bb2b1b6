#pragma once

#include "ShortcutRecorder.h"
#include "TypingPreview.h"

#include <QElapsedTimer>
#include <QFont>
#include <QObject>
#include <QPointer>
#include <QWindow>
#include <QtQml/qqml.h>

#include <memory>

class AppState;
class PreviewClock;

// The settings window's own state and reactions: the two recorders, the preview,
// and the permission status. It follows the window: shown starts the preview, hidden
// stops recording and then the preview, and the application becoming active re-reads
// the clipboard.
class SettingsView : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Owned by the settings window")
    Q_PROPERTY(ShortcutRecorder *recorder READ recorder CONSTANT)
    Q_PROPERTY(TypingPreview *preview READ preview CONSTANT)
    Q_PROPERTY(bool accessibilityTrusted READ accessibilityTrusted NOTIFY accessibilityTrustedChanged)
    Q_PROPERTY(QString permissionProblem READ permissionProblem NOTIFY permissionProblemChanged)
    Q_PROPERTY(QFont fixedFont READ fixedFont CONSTANT)
    // The desktop's portal may answer after the start and take over the shortcuts.
    Q_PROPERTY(bool escapeStops READ escapeStops NOTIFY shortcutBindingChanged)
    Q_PROPERTY(bool shortcutsUnbound READ shortcutsUnbound NOTIFY shortcutBindingChanged)
    Q_PROPERTY(bool viewersRecognized READ viewersRecognized CONSTANT)

public:
    SettingsView(AppState &state, std::unique_ptr<PreviewClock> clock, QObject *parent = nullptr);
    ~SettingsView() override;

    ShortcutRecorder *recorder() const { return m_recorder; }
    TypingPreview *preview() const { return m_preview; }
    bool accessibilityTrusted() const { return m_trusted; }
    /// What is still missing after a request that did not bring the permission; empty otherwise.
    QString permissionProblem() const { return m_problem; }
    QFont fixedFont() const;
    /// Whether Esc can stop a run in this session (the desktop may keep it from us).
    bool escapeStops() const;
    /// Whether the user binds the shortcut in the desktop's settings, nothing watching for us.
    bool shortcutsUnbound() const;
    /// Whether the windows of VM and remote-desktop viewers are recognised here.
    bool viewersRecognized() const;

    /// Follows this window from now on (its visibility and key presses).
    void attach(QWindow *window);

    /// Asks for the accessibility permission and shows the answer.
    Q_INVOKABLE void requestAccess();

signals:
    void shortcutBindingChanged();
    void accessibilityTrustedChanged();
    void permissionProblemChanged();

private:
    void shown();
    void hidden();
    void applicationStateChanged(Qt::ApplicationState state);
    void readTrust();
    void readTrustThrottled();
    void setProblem(const QString &problem);

    AppState &m_state;
    ShortcutRecorder *m_recorder;
    TypingPreview *m_preview;
    QPointer<QWindow> m_window;
    bool m_onScreen = false;
    bool m_trusted = false;
    QString m_problem;
    QElapsedTimer m_sinceTrustRead;
};
