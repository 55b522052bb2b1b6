#pragma once

#include <QByteArray>

struct _XDisplay;

/// Opens a connection of our own (the default display when the name is empty). Losing any of
/// them ends the program at once with status 1: several threads hold one each, and Xlib's own
/// handler would call exit() from all of them together.
_XDisplay *openX11Display(const QByteArray &name);
