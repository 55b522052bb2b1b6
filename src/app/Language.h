#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace Language {

/// The translation to use of those Keyloom has ("de", "fr"), read as gettext reads the
/// session's language: the list in LANGUAGE, then the first set of LC_ALL, LC_MESSAGES and
/// LANG. Empty for English: asked for, nothing Keyloom has, or the C locale.
QString choose(const std::function<QString(const char *)> &environment,
               const QStringList &available);

/// Loads the session's translation into the application, if Keyloom has one.
void install();

} // namespace Language
