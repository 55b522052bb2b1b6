#pragma once

#include "model/AppState.h"

#include <QtQml/qqml.h>

// Makes the one AppState known to QML by type, so views can declare
// `required property AppState appState` and reach its properties and operations.
struct AppStateForeign {
    Q_GADGET
    QML_FOREIGN(AppState)
    QML_NAMED_ELEMENT(AppState)
    QML_UNCREATABLE("The application's one AppState is handed to the views")
};
