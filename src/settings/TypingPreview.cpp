#include "TypingPreview.h"

#include "model/AppState.h"
#include "platform/Clipboard.h"

#include <QPointer>

#include <cmath>

using namespace std::chrono_literals;

TypingPreview::TypingPreview(AppState &state, std::unique_ptr<PreviewClock> clock, QObject *parent)
    : QObject(parent), m_state(state), m_clock(std::move(clock))
{
}

TypingPreview::~TypingPreview()
{
    m_clock->cancel();
}

bool TypingPreview::clipboardCounts() const
{
    // QString::trimmed drops Unicode white space and line breaks (Z*, U+0009-U+000D, U+0085).
    return !m_clipboardContent.trimmed().isEmpty();
}

QString TypingPreview::sourceText() const
{
    return clipboardCounts() ? m_clipboardContent : defaultSampleText;
}

void TypingPreview::refreshClipboard()
{
    // Only the latest question counts: an older answer may come after it.
    const quint64 asked = ++m_clipboardAsked;
    const QPointer<TypingPreview> self(this);
    m_state.platform().clipboard.requestText([self, asked](std::optional<QString> text) {
        if (self && asked == self->m_clipboardAsked)
            self->showClipboard(text.value_or(QString()));
    });
}

void TypingPreview::showClipboard(const QString &text)
{
    if (text != m_clipboardContent) {
        m_clipboardContent = text;
        emit clipboardContentChanged();
    }
    restart();
}

void TypingPreview::clearClipboard()
{
    m_state.platform().clipboard.clear();
    refreshClipboard();
}

void TypingPreview::restart()
{
    m_clock->cancel();
    m_source = sourceText();
    setRunning(true);
    startPass();
}

void TypingPreview::cancel()
{
    m_clock->cancel();
    m_walker.reset();
    setRunning(false);
}

void TypingPreview::startPass()
{
    setPreviewText(QString());
    m_walker.emplace(m_source);
    appendNext();
}

void TypingPreview::appendNext()
{
    emit stepped();
    const std::optional<QStringView> cluster = m_walker->next();
    if (!cluster) {
        // The finished text stays on show for a second before the next pass.
        m_clock->schedule(1s, [this] { startPass(); });
        return;
    }
    setPreviewText(m_previewText + cluster->toString());
    // The delay is read for every character, so a change shows even within a pass.
    m_clock->schedule(characterDelay(), [this] { appendNext(); });
}

std::chrono::nanoseconds TypingPreview::characterDelay() const
{
    const double ms = m_state.typingSpeedMs();
    // The slider keeps 5..200; anything a hand-edited store may hold falls back to the default.
    if (!std::isfinite(ms) || ms < 0 || ms > 3'600'000)
        return 30ms;
    return std::chrono::nanoseconds(static_cast<qint64>(ms * 1'000'000.0));
}

void TypingPreview::setPreviewText(const QString &text)
{
    if (text == m_previewText)
        return;
    m_previewText = text;
    emit previewTextChanged();
}

void TypingPreview::setRunning(bool running)
{
    if (running == m_running)
        return;
    m_running = running;
    emit isRunningChanged();
}
