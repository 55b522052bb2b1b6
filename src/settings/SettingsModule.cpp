// The entry of the settings module, which the program loads on the window's first opening.
#include "SettingsWindow.h"

extern "C" Q_DECL_EXPORT QObject *keyloomCreateSettingsWindow(AppState &state, QObject *parent)
{
    return new SettingsWindow(state, parent);
}
