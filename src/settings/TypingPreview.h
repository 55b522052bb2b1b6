#pragma once

#include "PreviewClock.h"
#include "typing/GraphemeWalker.h"

#include <QObject>
#include <QString>
#include <QtQml/qqml.h>

#include <memory>
#include <optional>

class AppState;

// The settings window's typing animation: the box fills with the clipboard text (or
// a sample sentence) one user-perceived character at a time at the current delay,
// holds the finished text for a second, empties and starts over. It runs on the
// main thread; a restart or cancel drops the pending step, so an old pass can never
// write again.
class TypingPreview : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Owned by the settings window")
    Q_PROPERTY(QString previewText READ previewText NOTIFY previewTextChanged)
    Q_PROPERTY(QString clipboardContent READ clipboardContent NOTIFY clipboardContentChanged)
    Q_PROPERTY(bool clipboardCounts READ clipboardCounts NOTIFY clipboardContentChanged)
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)

public:
    static inline const QString defaultSampleText =
        QStringLiteral("The quick brown fox jumps over the lazy dog.");

    TypingPreview(AppState &state, std::unique_ptr<PreviewClock> clock, QObject *parent = nullptr);
    ~TypingPreview() override;

    QString previewText() const { return m_previewText; }
    QString clipboardContent() const { return m_clipboardContent; }
    /// Whether the clipboard text has anything but white space; only then is it previewed.
    bool clipboardCounts() const;
    bool isRunning() const { return m_running; }
    /// The text a restart would animate now.
    QString sourceText() const;

    /// Reads the clipboard text afresh and restarts the animation once it is there.
    Q_INVOKABLE void refreshClipboard();
    /// Empties the clipboard, reads it again and restarts the animation.
    Q_INVOKABLE void clearClipboard();
    /// Cancels the animation and starts a new one from an empty box on the current source text.
    Q_INVOKABLE void restart();
    /// Stops the animation; the box keeps what it shows.
    Q_INVOKABLE void cancel();

signals:
    void previewTextChanged();
    void clipboardContentChanged();
    void isRunningChanged();
    /// Once per animation step (each character, each pass start).
    void stepped();

private:
    void showClipboard(const QString &text);
    void startPass();
    void appendNext();
    std::chrono::nanoseconds characterDelay() const;
    void setPreviewText(const QString &text);
    void setRunning(bool running);

    AppState &m_state;
    std::unique_ptr<PreviewClock> m_clock;
    QString m_previewText;
    QString m_clipboardContent;
    QString m_source;
    std::optional<GraphemeWalker> m_walker;
    bool m_running = false;
    quint64 m_clipboardAsked = 0;
};
