#pragma once

#include "model/PreferenceStore.h"
#include "model/Snippet.h"
#include "model/TypingMode.h"
#include "platform/Platform.h"
#include "typing/KeystrokeEngine.h"
#include "typing/ReleaseWait.h"

#include <QObject>
#include <QString>

#include <memory>
#include <mutex>
#include <span>
#include <vector>

class HotkeyManager;
class QSocketNotifier;
class Pauser;
class TypingRun;
struct TypingRunParams;

// The one central state object: settings, snippet list and position, run state.
// Observers learn of every real change of a property and of no unchanged
// assignment; every assignment of a persisted property writes the store.
// Lives on the main thread; typing runs report back to it through queued calls.
class AppState : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isTyping READ isTyping NOTIFY isTypingChanged)
    Q_PROPERTY(double typingSpeedMs READ typingSpeedMs WRITE setTypingSpeedMs NOTIFY typingSpeedMsChanged)
    Q_PROPERTY(qint64 hotkeyKeyCode READ hotkeyKeyCode WRITE setHotkeyKeyCode NOTIFY hotkeyKeyCodeChanged)
    Q_PROPERTY(bool hotkeyControl READ hotkeyControl WRITE setHotkeyControl NOTIFY hotkeyControlChanged)
    Q_PROPERTY(bool hotkeyCommand READ hotkeyCommand WRITE setHotkeyCommand NOTIFY hotkeyCommandChanged)
    Q_PROPERTY(bool hotkeyOption READ hotkeyOption WRITE setHotkeyOption NOTIFY hotkeyOptionChanged)
    Q_PROPERTY(bool hotkeyShift READ hotkeyShift WRITE setHotkeyShift NOTIFY hotkeyShiftChanged)
    Q_PROPERTY(qint64 prevHotkeyKeyCode READ prevHotkeyKeyCode WRITE setPrevHotkeyKeyCode NOTIFY prevHotkeyKeyCodeChanged)
    Q_PROPERTY(bool prevHotkeyControl READ prevHotkeyControl WRITE setPrevHotkeyControl NOTIFY prevHotkeyControlChanged)
    Q_PROPERTY(bool prevHotkeyCommand READ prevHotkeyCommand WRITE setPrevHotkeyCommand NOTIFY prevHotkeyCommandChanged)
    Q_PROPERTY(bool prevHotkeyOption READ prevHotkeyOption WRITE setPrevHotkeyOption NOTIFY prevHotkeyOptionChanged)
    Q_PROPERTY(bool prevHotkeyShift READ prevHotkeyShift WRITE setPrevHotkeyShift NOTIFY prevHotkeyShiftChanged)
    Q_PROPERTY(TypingModes::TypingMode typingMode READ typingMode WRITE setTypingMode NOTIFY typingModeChanged)
    // Typing for windows that forward key codes to a guest: 0 when the window is a known
    // viewer, 1 always, 2 never (KeyForwarding's order).
    Q_PROPERTY(int keyForwarding READ keyForwardingIndex WRITE setKeyForwardingIndex NOTIFY keyForwardingChanged)
    Q_PROPERTY(SnippetList snippets READ snippets NOTIFY snippetsChanged)
    Q_PROPERTY(qint64 currentSnippetIndex READ currentSnippetIndex WRITE setCurrentSnippetIndex NOTIFY currentSnippetIndexChanged)
    Q_PROPERTY(QString hotkeyDisplayString READ hotkeyDisplayString NOTIFY hotkeyDisplayStringChanged)
    Q_PROPERTY(QString prevHotkeyDisplayString READ prevHotkeyDisplayString NOTIFY prevHotkeyDisplayStringChanged)
    Q_PROPERTY(QString hotkeySpelledOut READ hotkeySpelledOut NOTIFY hotkeyDisplayStringChanged)
    Q_PROPERTY(QString prevHotkeySpelledOut READ prevHotkeySpelledOut NOTIFY
                   prevHotkeyDisplayStringChanged)
    // The characters the last run could not type (only for our own windows: it may be a
    // secret), and a line on why; empty once another run starts.
    Q_PROPERTY(QString untypedCharacters READ untypedCharacters NOTIFY untypedChanged)
    Q_PROPERTY(QString untypedSummary READ untypedSummary NOTIFY untypedChanged)
    // What keeps the shortcuts from working where the desktop binds them, and what to do.
    Q_PROPERTY(QString shortcutProblem READ shortcutProblem NOTIFY shortcutProblemChanged)

public:
    /// Loads the store at storePath, registers both shortcuts and installs the tap.
    AppState(Platform platform, const QString &storePath, QObject *parent = nullptr);
    /// The same with an injected pauser (tests run the engine without real time).
    AppState(Platform platform, const QString &storePath, std::shared_ptr<Pauser> pauser,
             QObject *parent = nullptr);
    ~AppState() override;

    bool isTyping() const { return m_isTyping; }
    double typingSpeedMs() const { return m_typingSpeedMs; }
    qint64 hotkeyKeyCode() const { return m_hotkeyKeyCode; }
    bool hotkeyControl() const { return m_hotkeyControl; }
    bool hotkeyCommand() const { return m_hotkeyCommand; }
    bool hotkeyOption() const { return m_hotkeyOption; }
    bool hotkeyShift() const { return m_hotkeyShift; }
    qint64 prevHotkeyKeyCode() const { return m_prevHotkeyKeyCode; }
    bool prevHotkeyControl() const { return m_prevHotkeyControl; }
    bool prevHotkeyCommand() const { return m_prevHotkeyCommand; }
    bool prevHotkeyOption() const { return m_prevHotkeyOption; }
    bool prevHotkeyShift() const { return m_prevHotkeyShift; }
    TypingMode typingMode() const { return m_typingMode; }
    KeyForwarding keyForwarding() const { return m_keyForwarding; }
    int keyForwardingIndex() const { return int(m_keyForwarding); }
    const SnippetList &snippets() const { return m_snippets; }
    qint64 currentSnippetIndex() const { return m_currentSnippetIndex; }
    bool isInitializing() const { return m_isInitializing; }

    void setTypingSpeedMs(double value);
    void setHotkeyKeyCode(qint64 value);
    void setHotkeyControl(bool value);
    void setHotkeyCommand(bool value);
    void setHotkeyOption(bool value);
    void setHotkeyShift(bool value);
    void setPrevHotkeyKeyCode(qint64 value);
    void setPrevHotkeyControl(bool value);
    void setPrevHotkeyCommand(bool value);
    void setPrevHotkeyOption(bool value);
    void setPrevHotkeyShift(bool value);
    void setTypingMode(TypingMode value);
    void setKeyForwarding(KeyForwarding value);
    void setKeyForwardingIndex(int value);
    void setCurrentSnippetIndex(qint64 value);

    quint64 hotkeyModifierFlags() const;
    quint64 prevHotkeyModifierFlags() const;
    QString hotkeyDisplayString() const;
    QString prevHotkeyDisplayString() const;
    QString hotkeySpelledOut() const;
    QString prevHotkeySpelledOut() const;

    // Snippet list editing.
    Q_INVOKABLE void addSnippet(const QString &text);
    Q_INVOKABLE void deleteSnippet(qint64 position);
    Q_INVOKABLE void clearAllSnippets();
    Q_INVOKABLE void moveSnippets(const QList<qint64> &sources, qint64 destination);
    /// Re-encodes the whole list and writes it; the editing operations call it once per change.
    void saveSnippets();

    // Typing runs.
    Q_INVOKABLE void toggleTyping() { toggleTyping(ReleaseWait{}); }
    /// Stops the run in progress, or starts one that first waits on the given release.
    void toggleTyping(ReleaseWait release);
    Q_INVOKABLE void stopTyping();
    /// The previous-snippet shortcut: steps back in list mode; false when there is nothing to step.
    bool stepBack();
    Q_INVOKABLE void advanceSnippet();
    Q_INVOKABLE void previousSnippet();
    /// Types the text the last run could not, with the characters that cannot be typed left out.
    Q_INVOKABLE void typeAnyway();
    QString untypedCharacters() const { return m_untyped.characters; }
    QString untypedSummary() const { return m_untypedSummary; }
    QString shortcutProblem() const;

    // Shortcut registration.
    /// Hands the recorded shortcuts to the manager and installs the tap anew.
    Q_INVOKABLE void updateHotkey();
    HotkeyManager &hotkeyManager() { return *m_hotkeyManager; }

    // Desktop services the views use.
    Q_INVOKABLE void requestAccessibilityPermission();
    Q_INVOKABLE bool isAccessibilityTrusted();
    /// Why characters cannot be typed here, for the user (never the characters).
    static QString untypeableText(Untypeable reason);
    Platform &platform() { return m_platform; }
    PreferenceStore &store() { return m_store; }

    /// True while a worker thread of a run, current or stopped, is still alive.
    bool hasTypingTask() const { return !m_runs.empty(); }

signals:
    void isTypingChanged();
    void typingSpeedMsChanged();
    void hotkeyKeyCodeChanged();
    void hotkeyControlChanged();
    void hotkeyCommandChanged();
    void hotkeyOptionChanged();
    void hotkeyShiftChanged();
    void prevHotkeyKeyCodeChanged();
    void prevHotkeyControlChanged();
    void prevHotkeyCommandChanged();
    void prevHotkeyOptionChanged();
    void prevHotkeyShiftChanged();
    void typingModeChanged();
    void keyForwardingChanged();
    void snippetsChanged();
    void currentSnippetIndexChanged();
    void hotkeyDisplayStringChanged();
    void prevHotkeyDisplayStringChanged();
    /// A run's worker thread has finished and been reaped (completed or stopped).
    void typingTaskEnded();
    void untypedChanged();
    void shortcutProblemChanged();

private:
    void drainFinishedRuns();
    void setUpRunHandOver();
    void tearDownRunHandOver();

    struct Setting;
    static std::span<const Setting> settingsTable();
    template <typename T> static const Setting &settingFor(T AppState::*field);
    template <typename T> void assign(T AppState::*field, T value);
    void writeSetting(const Setting &setting);
    void loadSettings();
    void loadSnippets();
    void setIsTyping(bool value);
    void setSnippetsAndSave(SnippetList list);
    void setupHotkey();
    void applyShortcutsToManager();
    void startRun(quint64 runId, TypingRunParams params);
    void setUntyped(const TypingEnd &end, QString text);
    void runFinished(quint64 runId, const TypingEnd &end, bool listMode, QString text);

    Platform m_platform;
    PreferenceStore m_store;
    std::shared_ptr<Pauser> m_pauser;
    std::unique_ptr<HotkeyManager> m_hotkeyManager;

    bool m_isTyping = false;
    double m_typingSpeedMs = 30.0;
    qint64 m_hotkeyKeyCode = 41;
    bool m_hotkeyControl = true;
    bool m_hotkeyCommand = true;
    bool m_hotkeyOption = false;
    bool m_hotkeyShift = false;
    qint64 m_prevHotkeyKeyCode = 41;
    bool m_prevHotkeyControl = true;
    bool m_prevHotkeyCommand = true;
    bool m_prevHotkeyOption = true;
    bool m_prevHotkeyShift = false;
    TypingMode m_typingMode = TypingMode::Clipboard;
    KeyForwarding m_keyForwarding = KeyForwarding::Automatic;
    SnippetList m_snippets;
    qint64 m_currentSnippetIndex = 0;
    bool m_isInitializing = true;

    // The stored snippet value that could not be read at start-up, kept until it is rescued.
    QVariant m_unreadableSnippets;

    // What the last run could not type, and its text for typeAnyway().
    Untyped m_untyped;
    QString m_untypedSummary, m_untypedText;

    // typingTask: the id of the current run (also while its text is still being read from
    // the clipboard), 0 when idle. Stopped runs stay in
    // m_runs until their worker reports back, so stopping never waits for a thread.
    quint64 m_typingTask = 0;
    quint64 m_lastRunId = 0;
    std::vector<std::pair<quint64, std::unique_ptr<TypingRun>>> m_runs;

    // Runs that ended on their worker threads, waiting for the main thread.
    struct FinishedRun {
        quint64 runId;
        TypingEnd end;
        bool listMode;
        bool largeText;
        QString text; // of a run that could not type it
    };
    std::mutex m_finishedMutex;
    std::vector<FinishedRun> m_finishedRuns;
    int m_wakeFd = -1;
    std::unique_ptr<QSocketNotifier> m_wakeNotifier;
};
