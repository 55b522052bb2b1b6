#pragma once

#include <QStringView>
#include <QtGlobal>

#include <vector>

// Turns text into the keysyms that type it. Line feed, carriage return and a
// CR LF pair become Return and tab becomes Tab (the real keys); every other
// control character (C0, DEL, C1) is left out, as a text field would ignore it
// and as its function-key keysym (Escape, BackSpace, Delete) must never be
// pressed; an unpaired surrogate becomes U+FFFD.
namespace TextKeysyms {

/// The keysyms for the text, in order.
std::vector<quint32> forText(QStringView text);

} // namespace TextKeysyms
