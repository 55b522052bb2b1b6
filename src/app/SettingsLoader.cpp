#include "SettingsLoader.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <QTextStream>

namespace {

using Create = QObject *(*)(AppState &, QObject *);

} // namespace

SettingsLoader::SettingsLoader(AppState &state, QObject *parent) : QObject(parent), m_state(state)
{
}

void SettingsLoader::open()
{
    if (!m_window) {
        m_pages.remember();
        // Installed, the module is in the library folder; in a build, beside the program.
        const QString dir = QCoreApplication::applicationDirPath();
        QString error;
        for (const QString &path :
             {dir + QStringLiteral("/" KEYLOOM_MODULE_DIR "/keyloom-settings.so"),
              dir + QStringLiteral("/keyloom-settings.so")}) {
            QLibrary module(path);
            // Every symbol bound at load: one missing fails here, not in the middle of a click.
            module.setLoadHints(QLibrary::ResolveAllSymbolsHint);
            if (const auto create =
                    reinterpret_cast<Create>(module.resolve("keyloomCreateSettingsWindow"))) {
                m_window = create(m_state, this);
                connect(m_window, SIGNAL(closed()), this, SLOT(handBackPages()));
                break;
            }
            if (error.isEmpty() || QFileInfo::exists(path))
                error = module.errorString();
        }
        if (!m_window) {
            QTextStream(stderr) << "[Keyloom] "
                                << tr("The settings window cannot be opened: %1").arg(error)
                                << Qt::endl;
            return;
        }
    }
    QMetaObject::invokeMethod(m_window, "open");
}

void SettingsLoader::handBackPages()
{
    m_pages.handBackNewOnes();
}
