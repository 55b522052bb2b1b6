#pragma once

#include <QByteArray>

struct _XDisplay;

/// Opens a connection of our own (the default display when the name is empty). Losing any of
/// them ends the program at once with status 1: several threads hold one each, and Xlib's own
/// handler would call exit() from all of them together.
_XDisplay *openX11Display(const QByteArray &name);

/// A connection whose loss ends nothing but its own use: calls on it then return at once and
/// answer nothing. For a server that is not the one the program lives on (Xwayland in a
/// Wayland session). Closed with closeExpendableX11Display.
_XDisplay *openExpendableX11Display(const QByteArray &name);
void closeExpendableX11Display(_XDisplay *display);
