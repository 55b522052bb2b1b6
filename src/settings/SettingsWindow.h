#pragma once

#include <QObject>

#include <functional>
#include <memory>

class AppState;
class PreviewClock;
class QQuickWindow;
class SettingsView;

// The settings window. Created on first open, destroyed on close, so an idle
// Keyloom carries none of it: the QML engine lives only while the window does.
class SettingsWindow : public QObject {
    Q_OBJECT
public:
    explicit SettingsWindow(AppState &state, QObject *parent = nullptr);
    ~SettingsWindow() override;

    /// Opens the window (creating it if needed), raises it and gives it the focus.
    Q_INVOKABLE void open();
    bool isOpen() const;

    /// The open window, or null.
    QQuickWindow *window() const;
    /// The open window's own state, or null.
    SettingsView *view() const;
    /// How each newly created window gets its preview clock (tests step the animation by hand).
    void setPreviewClockFactory(std::function<std::unique_ptr<PreviewClock>()> factory);

signals:
    void closed();

private:
    void create();
    void destroyIfHidden();

    AppState &m_state;
    class Private;
    Private *d = nullptr;
};
