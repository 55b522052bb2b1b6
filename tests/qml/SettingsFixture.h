#pragma once

#include "ManualPreviewClock.h"
#include "StateFixture.h"
#include "settings/SettingsView.h"
#include "settings/SettingsWindow.h"

#include <QQuickItem>
#include <QQuickWindow>

#include <memory>

// The real settings window over a real AppState, with a hand-driven preview clock.
class SettingsFixture : public StateFixture {
public:
    SettingsFixture();
    ~SettingsFixture();

    /// Opens the window and waits until it is exposed; null on failure.
    QQuickWindow *open();
    /// Hides the window and lets it be torn down.
    void close();

    QQuickWindow *window() const { return settings->window(); }
    SettingsView *view() const { return settings->view(); }
    ManualPreviewClock *clock() const { return clockHandle->clock; }

    /// The item with this object name (first in depth-first order, under root if given), or null.
    QQuickItem *item(const QString &objectName, QQuickItem *root = nullptr) const;
    /// Every item with this object name, in depth-first order.
    QList<QQuickItem *> items(const QString &objectName, QQuickItem *root = nullptr) const;
    /// Lays out the window and scrolls so the item is on screen.
    void reveal(QQuickItem *item) const;
    /// Clicks the centre of the item (after revealing it).
    void click(QQuickItem *item) const;
    /// Delivers a key press through the window system, as the display server would.
    void pressKey(int key, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode,
                  const QString &text = {}) const;

    /// Fires preview steps until the text reads `text` or `limit` steps passed; answers the steps
    /// fired.
    int stepUntil(const QString &text, int limit = 200) const;

    std::unique_ptr<SettingsWindow> settings;
    std::shared_ptr<ManualPreviewClock::Handle> clockHandle =
        std::make_shared<ManualPreviewClock::Handle>();
};

/// The text property of an item (Label, Text, TextArea, Button).
QString textOf(const QQuickItem *item);

/// The application loses and regains the focus, as when the user comes back to it.
void reactivateApplication();

/// Two data rows for one bool column: false in the first, true in the second.
void addBoolRows(const char *column, const char *whenFalse, const char *whenTrue);
