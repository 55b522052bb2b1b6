#include "Language.h"

#include <QCoreApplication>
#include <QDir>
#include <QTranslator>

namespace Language {

namespace {

// "de_DE.UTF-8@euro" to "de_DE", then "de".
QStringList candidates(const QString &locale)
{
    QString name = locale.section(u'@', 0, 0).section(u'.', 0, 0);
    QStringList names{name};
    if (const qsizetype underscore = name.indexOf(u'_'); underscore > 0)
        names << name.left(underscore);
    return names;
}

} // namespace

QString choose(const std::function<QString(const char *)> &environment,
               const QStringList &available)
{
    QString locale;
    for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = environment(variable);
        if (!locale.isEmpty())
            break;
    }
    // As gettext: the C locale means untranslated texts, whatever LANGUAGE says.
    if (locale.isEmpty() || locale == u"C" || locale.startsWith(u"C.") || locale == u"POSIX")
        return {};
    QStringList wanted = environment("LANGUAGE").split(u':', Qt::SkipEmptyParts);
    wanted << locale;
    for (const QString &entry : std::as_const(wanted)) {
        for (const QString &name : candidates(entry)) {
            if (name == u"en")
                return {}; // the texts are English already
            if (available.contains(name))
                return name;
        }
    }
    return {};
}

void install()
{
    static QTranslator translator;
    const QStringList available =
        QDir(QStringLiteral(":/keyloom/i18n")).entryList({QStringLiteral("keyloom_*.qm")});
    QStringList languages;
    for (const QString &file : available)
        languages << file.mid(8).chopped(3); // keyloom_de.qm
    QString language =
        choose([](const char *name) { return qEnvironmentVariable(name); }, languages);
    // English needs its file too: it holds the plural forms of texts that count.
    if (language.isEmpty())
        language = QStringLiteral("en");
    if (translator.load(QStringLiteral(":/keyloom/i18n/keyloom_%1.qm").arg(language)))
        QCoreApplication::installTranslator(&translator);
}

} // namespace Language
