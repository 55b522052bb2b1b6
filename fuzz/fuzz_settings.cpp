// Loads a settings file of arbitrary bytes. Whatever loads must survive a save and
// a reload unchanged, and snippet data that cannot be read must be kept somewhere.
#include "FakePlatform.h"
#include "model/AppState.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaProperty>
#include <QSettings>
#include <QTemporaryDir>

#include <cmath>
#include <cstdlib>

namespace {

QTemporaryDir *workDir = nullptr;

QVariantMap snapshot(const AppState &state)
{
    QVariantMap values;
    const QMetaObject *meta = state.metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        values.insert(QString::fromLatin1(property.name()), property.read(&state));
    }
    return values;
}

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    // A memory-backed folder keeps each iteration's file writes cheap.
    workDir = new QTemporaryDir(QFileInfo(QStringLiteral("/dev/shm")).isDir()
                                    ? QStringLiteral("/dev/shm/keyloom-fuzz-XXXXXX")
                                    : QDir::tempPath() + QStringLiteral("/keyloom-fuzz-XXXXXX"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = workDir->filePath(QStringLiteral("keyloom.conf"));
    QFile::remove(path);
    QFile::remove(path + QStringLiteral(".unreadable"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 0;
        file.write(reinterpret_cast<const char *>(data), qsizetype(size));
    }
    const QVariant storedSnippets = QSettings(path, QSettings::IniFormat).value(QStringLiteral("snippets"));

    FakePlatform fake;
    QVariantMap first;
    {
        AppState state(fake.platform(), path, fake.pauser);
        if (!std::isfinite(state.typingSpeedMs()) || state.typingSpeedMs() < 0)
            fail("a delay that is not a sane number was loaded");
        if (state.hotkeyKeyCode() < 0 || state.hotkeyKeyCode() > 0xFFFF ||
            state.prevHotkeyKeyCode() < 0 || state.prevHotkeyKeyCode() > 0xFFFF)
            fail("a key code outside 0-65535 was loaded");
        // Write every setting once, as a user's edits would.
        state.setTypingSpeedMs(state.typingSpeedMs());
        state.setHotkeyKeyCode(state.hotkeyKeyCode());
        state.setHotkeyShift(state.hotkeyShift());
        state.setPrevHotkeyOption(state.prevHotkeyOption());
        state.setTypingMode(state.typingMode());
        state.setCurrentSnippetIndex(state.currentSnippetIndex());
        state.saveSnippets();
        first = snapshot(state);
    }

    if (storedSnippets.isValid()) {
        const bool readable = storedSnippets.typeId() == QMetaType::QByteArray &&
                              decodeSnippets(storedSnippets.toByteArray()).has_value();
        if (!readable) {
            QSettings after(path, QSettings::IniFormat);
            bool kept = false;
            for (const QString &key : after.allKeys())
                kept |= key.startsWith(QLatin1String("snippetsUnreadable")) &&
                        after.value(key) == storedSnippets;
            if (!kept)
                fail("unreadable snippet data was not kept");
        }
    }

    AppState reloaded(fake.platform(), path, fake.pauser);
    if (snapshot(reloaded) != first)
        fail("saving and loading again changed the state");
    return 0;
}
