#include "SettingsWindow.h"

#include "SettingsView.h"
#include "TimerPreviewClock.h"
#include "model/AppState.h"

#include <QPointer>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSGRendererInterface>

#include <malloc.h>

extern void qml_register_types_Keyloom_Settings();
extern void qml_register_types_Keyloom_Snippets();

namespace {

const QString windowUrl = QStringLiteral("qrc:/qt/qml/Keyloom/Settings/SettingsWindow.qml");

void prepareQtQuick()
{
    static bool prepared = false;
    if (prepared)
        return;
    prepared = true;
    // A form needs no GPU: the software scene graph keeps an open window near 50 MB
    // instead of about 145 MB through software OpenGL. Must precede the first Qt Quick window.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") && qEnvironmentVariableIsEmpty("QMLSCENE_DEVICE"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // Fusion draws with the application palette, so the window follows light and dark themes.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_CONTROLS_STYLE"))
        QQuickStyle::setStyle(QStringLiteral("Fusion"));
    // The modules are linked statically without plugins: these references keep their
    // type registrations in the binary, where the engine finds them on import.
    volatile auto settingsTypes = &qml_register_types_Keyloom_Settings;
    volatile auto snippetTypes = &qml_register_types_Keyloom_Snippets;
    Q_UNUSED(settingsTypes);
    Q_UNUSED(snippetTypes);
}

} // namespace

class SettingsWindow::Private {
public:
    std::unique_ptr<QQmlApplicationEngine> engine;
    std::unique_ptr<SettingsView> view;
    QPointer<QQuickWindow> window;
    std::function<std::unique_ptr<PreviewClock>()> clockFactory;
};

SettingsWindow::SettingsWindow(AppState &state, QObject *parent)
    : QObject(parent), m_state(state), d(new Private)
{
    d->clockFactory = [] { return std::make_unique<TimerPreviewClock>(); };
}

SettingsWindow::~SettingsWindow()
{
    d->engine.reset();
    d->view.reset();
    delete d;
}

void SettingsWindow::open()
{
    if (!d->window)
        create();
    if (!d->window)
        return;
    d->window->show();
    d->window->raise();
    d->window->requestActivate();
}

bool SettingsWindow::isOpen() const
{
    return d->window && d->window->isVisible();
}

QQuickWindow *SettingsWindow::window() const
{
    return d->window;
}

SettingsView *SettingsWindow::view() const
{
    return d->window ? d->view.get() : nullptr;
}

void SettingsWindow::setPreviewClockFactory(std::function<std::unique_ptr<PreviewClock>()> factory)
{
    d->clockFactory = std::move(factory);
}

void SettingsWindow::create()
{
    prepareQtQuick();
    d->view = std::make_unique<SettingsView>(m_state, d->clockFactory());
    d->engine = std::make_unique<QQmlApplicationEngine>();
    d->engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
    d->engine->setInitialProperties({
        {QStringLiteral("appState"), QVariant::fromValue(&m_state)},
        {QStringLiteral("view"), QVariant::fromValue(d->view.get())},
    });
    d->engine->load(QUrl(windowUrl));
    const QList<QObject *> roots = d->engine->rootObjects();
    d->window = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
    if (!d->window) {
        qWarning("Keyloom: the settings window could not be loaded");
        d->engine.reset();
        d->view.reset();
        return;
    }
    d->view->attach(d->window);
    connect(d->window, &QWindow::visibleChanged, this, [this](bool visible) {
        // Torn down after the event that hid the window has been handled.
        if (!visible)
            QMetaObject::invokeMethod(this, &SettingsWindow::destroyIfHidden, Qt::QueuedConnection);
    });
}

void SettingsWindow::destroyIfHidden()
{
    if (!d->window || d->window->isVisible())
        return;
    // The engine deletes the window and its items; the view they bind to goes after them.
    d->engine.reset();
    d->view.reset();
    // Hand the freed heap back to the system so a long-running Keyloom returns near its idle size.
    malloc_trim(0);
    emit closed();
}
