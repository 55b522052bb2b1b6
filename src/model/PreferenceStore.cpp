#include "PreferenceStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdio>

namespace {
constexpr QFileDevice::Permissions ownerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions ownerOnlyDir =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
} // namespace

QString PreferenceStore::defaultPath()
{
    // GenericConfigLocation follows $XDG_CONFIG_HOME and falls back to ~/.config.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1String("/keyloom/keyloom.conf");
}

PreferenceStore::PreferenceStore(const QString &path) : m_path(path)
{
    makePrivate();
    m_settings = std::make_unique<QSettings>(m_path, QSettings::IniFormat);
    if (m_settings->status() == QSettings::FormatError) {
        // QSettings drops what it cannot parse at the next write; keep the original bytes.
        const QString backup = m_path + QLatin1String(".unreadable");
        if (!QFile::exists(backup) && QFile::copy(m_path, backup))
            QFile::setPermissions(backup, ownerOnlyFile);
    }
}

void PreferenceStore::makePrivate()
{
    // Snippets may hold secrets: the folder and the file are the owner's alone, also when
    // something else created them with looser modes. QSettings writes through a temporary
    // file and a rename that keeps the existing file's mode, so creating it here is enough.
    const QFileInfo info(m_path);
    QDir().mkpath(info.absolutePath());
    QFile::setPermissions(info.absolutePath(), ownerOnlyDir);
    QFile file(m_path);
    if (!file.exists())
        file.open(QIODevice::WriteOnly);
    file.setPermissions(ownerOnlyFile);
}

QVariant PreferenceStore::value(const QString &key) const
{
    return m_settings->value(key);
}

bool PreferenceStore::contains(const QString &key) const
{
    return m_settings->contains(key);
}

void PreferenceStore::setValue(const QString &key, const QVariant &value)
{
    m_settings->setValue(key, value);
    m_settings->sync();
    if (m_settings->status() == QSettings::AccessError && !m_failureReported) {
        m_failureReported = true;
        std::fprintf(stderr,
                     "[Keyloom] Cannot save settings to %s; changes are kept until Keyloom quits.\n",
                     qPrintable(QDir::toNativeSeparators(m_path)));
        std::fflush(stderr);
    }
    emit written(key);
}
