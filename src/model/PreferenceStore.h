#pragma once

#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariant>

#include <memory>

// The per-user preferences file. Every write goes to disk at once, atomically,
// and the file stays readable by its owner only: snippets may hold secrets.
class PreferenceStore : public QObject {
    Q_OBJECT
public:
    /// The file used by the program: $XDG_CONFIG_HOME/keyloom/keyloom.conf.
    static QString defaultPath();

    explicit PreferenceStore(const QString &path);

    QString path() const { return m_path; }

    /// Where the file's unreadable content was kept at start-up; empty when it was readable, or
    /// when the same content had been kept (and told of) before.
    QString keptUnreadable() const { return m_keptUnreadable; }

    /// How many distinct unreadable contents are kept, the newest ones.
    static constexpr int keptUnreadableLimit = 5;

    /// The stored value, or an invalid variant when the key is missing.
    QVariant value(const QString &key) const;
    bool contains(const QString &key) const;

    /// Writes and syncs; a failure is said once on standard error and the value stays in memory.
    void setValue(const QString &key, const QVariant &value);

signals:
    /// A value was handed to the file (whether or not the disk took it).
    void written(const QString &key);

private:
    void makePrivate();

    QString m_path;
    std::unique_ptr<QSettings> m_settings;
    QString m_keptUnreadable;
    bool m_failureReported = false;
};
