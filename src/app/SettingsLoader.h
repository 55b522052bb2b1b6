#pragma once

#include "ResidentPages.h"

#include <QObject>

class AppState;

// Opens the settings window, which lives in a module of its own loaded on the first
// opening: an idle Keyloom maps none of Qt Quick.
class SettingsLoader : public QObject {
    Q_OBJECT
public:
    explicit SettingsLoader(AppState &state, QObject *parent = nullptr);

    void open();

private slots:
    void handBackPages();

private:
    AppState &m_state;
    QObject *m_window = nullptr; // kept, with its module, for the program's life
    ResidentPages m_pages;       // as they were before the first opening
};
