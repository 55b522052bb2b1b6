#include "AppState.h"

#include "hotkey/HotkeyManager.h"
#include "hotkey/KeyNames.h"
#include "platform/AccessibilityTrust.h"
#include "platform/Notifier.h"
#include "typing/Pauser.h"
#include "typing/TypingRun.h"

#include <QSocketNotifier>

#include <QDir>
#include <QLocale>
#include <QTextStream>

#include <cmath>
#include <variant>

namespace {

// One minute per character is already beyond any use; larger values are edits gone wrong.
constexpr double maxDelayMs = 60'000.0;

std::optional<double> toDouble(const QVariant &value)
{
    bool ok = false;
    double result = 0;
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        result = value.toDouble(&ok);
        break;
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        // toDouble also reads "nan" and "inf", which no delay can be.
        result = text.toDouble(&ok);
        break;
    }
    default:
        return std::nullopt;
    }
    if (!ok || !std::isfinite(result))
        return std::nullopt;
    return result;
}

std::optional<qint64> toInteger(const QVariant &value)
{
    bool ok = false;
    if (value.typeId() == QMetaType::QString) {
        const qint64 whole = value.toString().trimmed().toLongLong(&ok);
        if (ok)
            return whole;
    } else if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong ||
               value.typeId() == QMetaType::UInt) {
        return value.toLongLong();
    }
    // A number written with a fraction counts only when nothing is lost, as 41.0 does.
    const std::optional<double> number = toDouble(value);
    if (!number || std::trunc(*number) != *number || std::abs(*number) > 9.0e15)
        return std::nullopt;
    return qint64(*number);
}

std::optional<bool> toBool(const QVariant &value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text == QLatin1String("true"))
            return true;
        if (text == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

} // namespace

// One row per persisted property: the key (the property's own name), the field, its
// change signal, and what a stored value must satisfy to be taken at start-up. The
// rows are in load order and drive both loading and saving.
struct AppState::Setting {
    enum class Range { Any, KeyCode, Delay };
    using Field = std::variant<double AppState::*, qint64 AppState::*, bool AppState::*,
                               TypingMode AppState::*, KeyForwarding AppState::*>;

    const char *key;
    Field field;
    void (AppState::*changed)();
    void (AppState::*displayChanged)() = nullptr;
    Range range = Range::Any;
};

std::span<const AppState::Setting> AppState::settingsTable()
{
    using R = Setting::Range;
    static const Setting table[] = {
        {"typingSpeedMs", &AppState::m_typingSpeedMs, &AppState::typingSpeedMsChanged, nullptr,
         R::Delay},
        {"hotkeyKeyCode", &AppState::m_hotkeyKeyCode, &AppState::hotkeyKeyCodeChanged,
         &AppState::hotkeyDisplayStringChanged, R::KeyCode},
        {"hotkeyControl", &AppState::m_hotkeyControl, &AppState::hotkeyControlChanged,
         &AppState::hotkeyDisplayStringChanged},
        {"hotkeyCommand", &AppState::m_hotkeyCommand, &AppState::hotkeyCommandChanged,
         &AppState::hotkeyDisplayStringChanged},
        {"hotkeyOption", &AppState::m_hotkeyOption, &AppState::hotkeyOptionChanged,
         &AppState::hotkeyDisplayStringChanged},
        {"hotkeyShift", &AppState::m_hotkeyShift, &AppState::hotkeyShiftChanged,
         &AppState::hotkeyDisplayStringChanged},
        {"prevHotkeyKeyCode", &AppState::m_prevHotkeyKeyCode,
         &AppState::prevHotkeyKeyCodeChanged, &AppState::prevHotkeyDisplayStringChanged,
         R::KeyCode},
        {"prevHotkeyControl", &AppState::m_prevHotkeyControl,
         &AppState::prevHotkeyControlChanged, &AppState::prevHotkeyDisplayStringChanged},
        {"prevHotkeyCommand", &AppState::m_prevHotkeyCommand,
         &AppState::prevHotkeyCommandChanged, &AppState::prevHotkeyDisplayStringChanged},
        {"prevHotkeyOption", &AppState::m_prevHotkeyOption, &AppState::prevHotkeyOptionChanged,
         &AppState::prevHotkeyDisplayStringChanged},
        {"prevHotkeyShift", &AppState::m_prevHotkeyShift, &AppState::prevHotkeyShiftChanged,
         &AppState::prevHotkeyDisplayStringChanged},
        {"typingMode", &AppState::m_typingMode, &AppState::typingModeChanged},
        {"keyForwarding", &AppState::m_keyForwarding, &AppState::keyForwardingChanged},
        {"currentSnippetIndex", &AppState::m_currentSnippetIndex,
         &AppState::currentSnippetIndexChanged},
    };
    return table;
}

template <typename T> const AppState::Setting &AppState::settingFor(T AppState::*field)
{
    for (const Setting &setting : settingsTable()) {
        if (const auto *candidate = std::get_if<T AppState::*>(&setting.field);
            candidate && *candidate == field)
            return setting;
    }
    Q_UNREACHABLE();
}

AppState::AppState(Platform platform, const QString &storePath, QObject *parent)
    : AppState(platform, storePath, std::make_shared<RealPauser>(), parent)
{
}

AppState::AppState(Platform platform, const QString &storePath, std::shared_ptr<Pauser> pauser,
                   QObject *parent)
    : QObject(parent), m_platform(platform), m_store(storePath), m_pauser(std::move(pauser)),
      m_hotkeyManager(std::make_unique<HotkeyManager>(platform.tap))
{
    setUpRunHandOver();
    m_isInitializing = true;
    loadSettings();
    loadSnippets();
    m_isInitializing = false;
    if (const QString kept = m_store.keptUnreadable(); !kept.isEmpty()) {
        const QString where = QDir::toNativeSeparators(kept);
        m_platform.notifier.notify(
            tr("Keyloom could not read its settings"),
            tr("What it could not read is kept in %1; the rest start from their defaults.")
                .arg(where));
        QTextStream(stderr)
            << "[Keyloom] "
            << tr("The settings file could not be read; its content is kept in %1").arg(where)
            << Qt::endl;
    }
    setupHotkey();
}

AppState::~AppState()
{
    // The tap goes first so no key press calls back into a half-destroyed state; the
    // runs are joined here (each restores the keyboard as its session closes).
    m_hotkeyManager->removeTap();
    m_platform.tap.problemChanged = nullptr;
    for (auto &[id, run] : m_runs)
        run->requestStop();
    m_runs.clear();
    tearDownRunHandOver();
}

template <typename T> void AppState::assign(T AppState::*field, T value)
{
    const Setting &setting = settingFor(field);
    // For doubles this is the numeric comparison, where NaN equals nothing.
    if (!(this->*field == value)) {
        this->*field = value;
        emit(this->*setting.changed)();
        if (setting.displayChanged)
            emit(this->*setting.displayChanged)();
    }
    writeSetting(setting);
}

void AppState::writeSetting(const Setting &setting)
{
    const QString key = QString::fromLatin1(setting.key);
    std::visit(
        [&](auto field) {
            using T = std::remove_cvref_t<decltype(this->*field)>;
            const T &value = this->*field;
            // Stored as plain text so the file stays readable and editable by hand.
            if constexpr (std::is_same_v<T, double>)
                m_store.setValue(key, QString::number(value, 'g', QLocale::FloatingPointShortest));
            else if constexpr (std::is_same_v<T, qint64>)
                m_store.setValue(key, QString::number(value));
            else if constexpr (std::is_same_v<T, bool>)
                m_store.setValue(key, value ? QStringLiteral("true") : QStringLiteral("false"));
            else
                m_store.setValue(key, rawValue(value));
        },
        setting.field);
}

void AppState::loadSettings()
{
    for (const Setting &setting : settingsTable()) {
        const QVariant stored = m_store.value(QString::fromLatin1(setting.key));
        if (!stored.isValid())
            continue;
        std::visit(
            [&](auto field) {
                using T = std::remove_cvref_t<decltype(this->*field)>;
                if constexpr (std::is_same_v<T, double>) {
                    const std::optional<double> value = toDouble(stored);
                    if (value && *value >= 0.0 && *value <= maxDelayMs)
                        assign(field, *value);
                } else if constexpr (std::is_same_v<T, qint64>) {
                    const std::optional<qint64> value = toInteger(stored);
                    const bool inRange = setting.range != Setting::Range::KeyCode ||
                                         (value && *value >= 0 && *value <= 0xFFFF);
                    if (value && inRange)
                        assign(field, *value);
                } else if constexpr (std::is_same_v<T, bool>) {
                    if (const std::optional<bool> value = toBool(stored))
                        assign(field, *value);
                } else {
                    // Only a text that is exactly one of the raw values names a mode.
                    if (stored.typeId() != QMetaType::QString)
                        return;
                    std::optional<T> value;
                    if constexpr (std::is_same_v<T, TypingMode>)
                        value = typingModeFromRaw(stored.toString());
                    else
                        value = keyForwardingFromRaw(stored.toString());
                    if (value)
                        assign(field, *value);
                }
            },
            setting.field);
    }
}

void AppState::setTypingSpeedMs(double value) { assign(&AppState::m_typingSpeedMs, value); }
void AppState::setHotkeyKeyCode(qint64 value) { assign(&AppState::m_hotkeyKeyCode, value); }
void AppState::setHotkeyControl(bool value) { assign(&AppState::m_hotkeyControl, value); }
void AppState::setHotkeyCommand(bool value) { assign(&AppState::m_hotkeyCommand, value); }
void AppState::setHotkeyOption(bool value) { assign(&AppState::m_hotkeyOption, value); }
void AppState::setHotkeyShift(bool value) { assign(&AppState::m_hotkeyShift, value); }
void AppState::setPrevHotkeyKeyCode(qint64 value) { assign(&AppState::m_prevHotkeyKeyCode, value); }
void AppState::setPrevHotkeyControl(bool value) { assign(&AppState::m_prevHotkeyControl, value); }
void AppState::setPrevHotkeyCommand(bool value) { assign(&AppState::m_prevHotkeyCommand, value); }
void AppState::setPrevHotkeyOption(bool value) { assign(&AppState::m_prevHotkeyOption, value); }
void AppState::setPrevHotkeyShift(bool value) { assign(&AppState::m_prevHotkeyShift, value); }
void AppState::setTypingMode(TypingMode value) { assign(&AppState::m_typingMode, value); }
void AppState::setKeyForwarding(KeyForwarding value) { assign(&AppState::m_keyForwarding, value); }
void AppState::setKeyForwardingIndex(int value)
{
    if (value >= int(KeyForwarding::Automatic) && value <= int(KeyForwarding::NoWindow))
        setKeyForwarding(KeyForwarding(value));
}
void AppState::setCurrentSnippetIndex(qint64 value)
{
    assign(&AppState::m_currentSnippetIndex, value);
}

void AppState::setIsTyping(bool value)
{
    if (m_isTyping == value)
        return;
    m_isTyping = value;
    // Esc is only taken from applications while there is a run to stop.
    m_hotkeyManager->setEscapeWatched(value);
    emit isTypingChanged();
}

static quint64 modifierFlags(bool control, bool command, bool option, bool shift)
{
    quint64 flags = 0;
    if (control)
        flags |= ModifierFlag::Control;
    if (command)
        flags |= ModifierFlag::Command;
    if (option)
        flags |= ModifierFlag::Option;
    if (shift)
        flags |= ModifierFlag::Shift;
    return flags;
}

quint64 AppState::hotkeyModifierFlags() const
{
    return modifierFlags(m_hotkeyControl, m_hotkeyCommand, m_hotkeyOption, m_hotkeyShift);
}

quint64 AppState::prevHotkeyModifierFlags() const
{
    return modifierFlags(m_prevHotkeyControl, m_prevHotkeyCommand, m_prevHotkeyOption,
                         m_prevHotkeyShift);
}

QString AppState::hotkeyDisplayString() const
{
    return shortcutDisplayString(m_hotkeyKeyCode, m_hotkeyControl, m_hotkeyOption, m_hotkeyShift,
                                 m_hotkeyCommand);
}

QString AppState::prevHotkeyDisplayString() const
{
    return shortcutDisplayString(m_prevHotkeyKeyCode, m_prevHotkeyControl, m_prevHotkeyOption,
                                 m_prevHotkeyShift, m_prevHotkeyCommand);
}

QString AppState::hotkeySpelledOut() const
{
    return shortcutSpelledOut(m_hotkeyKeyCode, m_hotkeyControl, m_hotkeyOption, m_hotkeyShift,
                              m_hotkeyCommand);
}

QString AppState::prevHotkeySpelledOut() const
{
    return shortcutSpelledOut(m_prevHotkeyKeyCode, m_prevHotkeyControl, m_prevHotkeyOption,
                              m_prevHotkeyShift, m_prevHotkeyCommand);
}

void AppState::requestAccessibilityPermission()
{
    m_platform.trust.request();
}

bool AppState::isAccessibilityTrusted()
{
    return m_platform.trust.isTrusted();
}
