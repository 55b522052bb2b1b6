#pragma once

#include <QObject>

class AppState;

// The settings window. Created on first open, destroyed on close, so an idle
// Keyloom carries none of it.
class SettingsWindow : public QObject {
    Q_OBJECT
public:
    explicit SettingsWindow(AppState &state, QObject *parent = nullptr);
    ~SettingsWindow() override;

    /// Opens the window (creating it if needed), raises it and gives it the focus.
    void open();
    bool isOpen() const;

signals:
    void closed();

private:
    AppState &m_state;
    class Private;
    Private *d = nullptr;
};
