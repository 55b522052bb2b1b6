#include "SettingsFixture.h"

#include <QQmlProperty>
#include <QTest>
#include <qpa/qwindowsysteminterface.h>

namespace {

void collect(QQuickItem *item, const QString &name, QList<QQuickItem *> &out)
{
    if (item->objectName() == name)
        out.append(item);
    for (QQuickItem *child : item->childItems())
        collect(child, name, out);
}

} // namespace

SettingsFixture::SettingsFixture()
{
    settings = std::make_unique<SettingsWindow>(*state);
    auto handle = clockHandle;
    settings->setPreviewClockFactory(
        [handle] { return std::make_unique<ManualPreviewClock>(handle); });
}

SettingsFixture::~SettingsFixture()
{
    settings.reset();
    // The scene graph releases a destroyed window's textures through deferred deletes.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    state.reset();
}

QQuickWindow *SettingsFixture::open()
{
    settings->open();
    QQuickWindow *w = settings->window();
    if (!w || !QTest::qWaitForWindowExposed(w))
        return nullptr;
    return w;
}

void SettingsFixture::close()
{
    if (QQuickWindow *w = settings->window())
        w->close();
    QTRY_VERIFY(!settings->window());
}

QList<QQuickItem *> SettingsFixture::items(const QString &objectName, QQuickItem *root) const
{
    QList<QQuickItem *> out;
    if (QQuickWindow *w = settings->window())
        collect(root ? root : w->contentItem(), objectName, out);
    return out;
}

QQuickItem *SettingsFixture::item(const QString &objectName, QQuickItem *root) const
{
    return items(objectName, root).value(0);
}

void SettingsFixture::reveal(QQuickItem *target) const
{
    QQuickWindow *w = settings->window();
    w->contentItem()->polish();
    QCoreApplication::processEvents();
    // Scroll the form's flickable so that the item's centre lies within the window.
    for (QQuickItem *p = target->parentItem(); p; p = p->parentItem()) {
        if (!p->inherits("QQuickFlickable"))
            continue;
        const QPointF inContent = target->mapToItem(
            p->childItems().value(0), QPointF(target->width() / 2, target->height() / 2));
        const double contentHeight = p->property("contentHeight").toDouble();
        const double wanted = std::clamp(inContent.y() - p->height() / 2, 0.0,
                                         std::max(0.0, contentHeight - p->height()));
        p->setProperty("contentY", wanted);
        QCoreApplication::processEvents();
    }
}

void SettingsFixture::click(QQuickItem *target) const
{
    reveal(target);
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(settings->window(), Qt::LeftButton, {}, centre.toPoint());
}

void SettingsFixture::pressKey(int key, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode,
                               const QString &text) const
{
    QWindowSystemInterface::handleExtendedKeyEvent(settings->window(), QEvent::KeyPress, key,
                                                   modifiers, nativeScanCode, 0, 0, text);
    QWindowSystemInterface::handleExtendedKeyEvent(settings->window(), QEvent::KeyRelease, key,
                                                   modifiers, nativeScanCode, 0, 0, text);
    QWindowSystemInterface::flushWindowSystemEvents();
}

int SettingsFixture::stepUntil(const QString &text, int limit) const
{
    const TypingPreview *preview = view()->preview();
    int steps = 0;
    while (preview->previewText() != text && steps < limit && clock() && clock()->fire())
        ++steps;
    return steps;
}

QString textOf(const QQuickItem *item)
{
    return item ? item->property("text").toString() : QString();
}

void reactivateApplication()
{
    using W = QWindowSystemInterface;
    W::handleApplicationStateChanged<W::SynchronousDelivery>(Qt::ApplicationInactive, true);
    W::handleApplicationStateChanged<W::SynchronousDelivery>(Qt::ApplicationActive, true);
}

void addBoolRows(const char *column, const char *whenFalse, const char *whenTrue)
{
    QTest::addColumn<bool>(column);
    QTest::newRow(whenFalse) << false;
    QTest::newRow(whenTrue) << true;
}
