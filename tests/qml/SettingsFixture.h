#pragma once
// The real settings window over a real AppState on the fakes, its preview clock driven by hand.
#include "StateFixture.h"
#include "settings/PreviewClock.h"
#include "settings/SettingsView.h"
#include "settings/SettingsWindow.h"
#include "settings/ShortcutRecorder.h"
#include "settings/TypingPreview.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QtQuickTest/quicktest.h>
#include <qpa/qwindowsysteminterface.h>

using namespace Qt::StringLiterals;

// The preview's clock in tests: nothing happens until the test fires the pending tick.
struct ManualClock : PreviewClock {
    std::shared_ptr<std::function<void()>> tick = std::make_shared<std::function<void()>>();
    std::shared_ptr<std::chrono::nanoseconds> delay = std::make_shared<std::chrono::nanoseconds>();
    void schedule(std::chrono::nanoseconds after, std::function<void()> next) override
    {
        *delay = after;
        *tick = std::move(next);
    }
    void cancel() override { *tick = nullptr; }
    // Runs the pending tick, which may schedule the next; false when none was pending.
    bool fire() const
    {
        auto pending = std::exchange(*tick, nullptr);
        if (pending)
            pending();
        return bool(pending);
    }
};

struct SettingsFixture : StateFixture {
    ManualClock clock; // shares its state with the one the preview owns
    std::unique_ptr<SettingsWindow> settings = std::make_unique<SettingsWindow>(*state);

    SettingsFixture()
    {
        settings->setPreviewClockFactory([this] { return std::make_unique<ManualClock>(clock); });
    }
    ~SettingsFixture()
    {
        settings.reset();
        // The scene graph releases a destroyed window's textures through deferred deletes.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        state.reset();
    }
    bool open()
    {
        settings->open();
        return window() && QTest::qWaitForWindowExposed(window());
    }
    QQuickWindow *window() const { return settings->window(); }
    TypingPreview *preview() const { return settings->view()->preview(); }
    ShortcutRecorder *recorder() const { return settings->view()->recorder(); }

    QQuickItem *item(const QString &name, QQuickItem *root = nullptr) const
    {
        if (!root && !(root = window() ? window()->contentItem() : nullptr))
            return nullptr;
        if (root->objectName() == name)
            return root;
        for (QQuickItem *child : root->childItems()) {
            if (QQuickItem *found = item(name, child))
                return found;
        }
        return nullptr;
    }
    QString text(const QString &name) const { return item(name)->property("text").toString(); }
    bool visible(const QString &name) const { return item(name) && item(name)->isVisible(); }

    // Lays the window out and scrolls the form so the item starts just below the window's top.
    void reveal(QQuickItem *target) const
    {
        // Layouts settle in the render loop's polish pass, which a busy machine may not have
        // reached yet: positions read before it are stale.
        QQuickTest::qWaitForPolish(window());
        for (QQuickItem *p = target->parentItem(); p; p = p->parentItem()) {
            if (!p->inherits("QQuickFlickable"))
                continue;
            const double y = target->mapToItem(p->childItems().value(0), QPointF()).y() - 8;
            const double end = p->property("contentHeight").toDouble() - p->height();
            p->setProperty("contentY", std::clamp(y, 0.0, std::max(0.0, end)));
            QQuickTest::qWaitForPolish(window());
        }
    }
    static QPointF at(const QQuickItem *item, double x = 0.5, double y = 0.5)
    {
        return item->mapToScene(QPointF(item->width() * x, item->height() * y));
    }
    void click(QQuickItem *target) const
    {
        reveal(target);
        QTest::mouseClick(window(), Qt::LeftButton, {}, at(target).toPoint());
    }
    void drag(QPointF from, QPointF to) const
    {
        QTest::mousePress(window(), Qt::LeftButton, {}, from.toPoint());
        for (int i = 1; i <= 20; ++i)
            QTest::mouseMove(window(), (from + (to - from) * i / 20).toPoint());
        QTest::mouseMove(window(), to.toPoint() + QPoint(0, 1));
        QTest::mouseRelease(window(), Qt::LeftButton, {}, to.toPoint() + QPoint(0, 1));
    }
    // A key press and release through the window system, as the display server sends them.
    void pressKey(int key, Qt::KeyboardModifiers mods, quint32 scanCode, const QString &text)
    {
        for (auto type : {QEvent::KeyPress, QEvent::KeyRelease})
            QWindowSystemInterface::handleExtendedKeyEvent(window(), type, key, mods, scanCode, 0,
                                                           0, text);
        QWindowSystemInterface::flushWindowSystemEvents();
    }
};
