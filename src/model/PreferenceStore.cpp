#include "PreferenceStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>

#include <algorithm>

namespace {
constexpr QFileDevice::Permissions ownerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions ownerOnlyDir =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
// Keeps the file's bytes next to it under a dated name of their own, unless the same bytes are
// kept already, and drops the oldest dated copies beyond the limit. Returns the new copy.
QString keepUnreadable(const QString &path, int limit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    const QFileInfo info(path);
    const QDir dir = info.dir();
    // ".unreadable" alone is an earlier version's one copy: compared, never removed.
    const QString prefix = info.fileName() + QLatin1String(".unreadable");
    for (const QString &name : dir.entryList({prefix + QLatin1Char('*')}, QDir::Files)) {
        QFile kept(dir.filePath(name));
        if (kept.open(QIODevice::ReadOnly) && kept.readAll() == bytes)
            return {};
    }
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    // Names sort as the copies were made: a number past those of the same second.
    const QString base = QStringLiteral("%1-%2-").arg(prefix, stamp);
    int last = 0;
    for (const QString &name : dir.entryList({base + QLatin1Char('*')}, QDir::Files))
        last = std::max(last, QStringView(name).sliced(base.size()).toInt());
    const QString target =
        dir.filePath(base + QStringLiteral("%1").arg(last + 1, 3, 10, QLatin1Char('0')));
    QFile copy(target);
    // Owner-only from the start: the bytes may hold snippets, which may be secrets.
    copy.open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnlyFile);
    if (!copy.isOpen() || copy.write(bytes) != bytes.size() || !copy.flush()) {
        copy.remove();
        return {};
    }
    copy.close();
    QStringList dated = dir.entryList({prefix + QLatin1String("-*")}, QDir::Files, QDir::Name);
    while (dated.size() > limit)
        QFile::remove(dir.filePath(dated.takeFirst()));
    return target;
}

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
    // QSettings drops what it cannot parse at the next write; keep the original bytes.
    if (m_settings->status() == QSettings::FormatError)
        m_keptUnreadable = keepUnreadable(m_path, keptUnreadableLimit);
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
        QTextStream(stderr)
            << "[Keyloom] "
            << QCoreApplication::translate(
                   "PreferenceStore",
                   "Cannot save settings to %1; changes are kept until Keyloom quits.")
                   .arg(QDir::toNativeSeparators(m_path))
            << Qt::endl;
    }
    emit written(key);
}
