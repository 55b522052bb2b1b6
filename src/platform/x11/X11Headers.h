#pragma once

// The X11 headers for this folder's sources, included after every Qt header
// (Xlib defines macros such as Status, Bool and None that clash with Qt).
// Xlib's KeyCode type is renamed so that it cannot clash with our canonical
// KeyCode namespace; it is the same unsigned char.
#define KeyCode XKeyCode
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef KeyCode
