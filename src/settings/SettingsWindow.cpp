#include "SettingsWindow.h"

#include <QLabel>
#include <QPointer>

// Placeholder until the Qt Quick settings window exists.
class SettingsWindow::Private {
public:
    QPointer<QLabel> window;
};

SettingsWindow::SettingsWindow(AppState &state, QObject *parent)
    : QObject(parent), m_state(state), d(new Private)
{
}

SettingsWindow::~SettingsWindow()
{
    delete d->window;
    delete d;
}

void SettingsWindow::open()
{
    if (!d->window) {
        d->window = new QLabel(tr("The settings window is not available yet."));
        d->window->setAttribute(Qt::WA_DeleteOnClose);
        d->window->setWindowTitle(tr("Keyloom Settings"));
        d->window->setMargin(24);
        connect(d->window, &QObject::destroyed, this, &SettingsWindow::closed);
    }
    d->window->show();
    d->window->raise();
    d->window->activateWindow();
}

bool SettingsWindow::isOpen() const
{
    return d->window && d->window->isVisible();
}
