#include "SettingsView.h"

#include "platform/KeyboardTap.h"

#include "ShortcutRecorder.h"
#include "TypingPreview.h"
#include "model/AppState.h"
#include "platform/AccessibilityTrust.h"

#include <QFontDatabase>
#include <QGuiApplication>

namespace {
// The trust check talks to the display server; during a fast preview it is asked at most this often.
constexpr qint64 trustReadIntervalMs = 250;
} // namespace

SettingsView::SettingsView(AppState &state, std::unique_ptr<PreviewClock> clock, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_recorder(new ShortcutRecorder(state, this))
    , m_preview(new TypingPreview(state, std::move(clock), this))
{
    m_trusted = m_state.isAccessibilityTrusted();
    m_sinceTrustRead.start();

    connect(&state, &AppState::typingSpeedMsChanged, this, [this] {
        if (m_onScreen)
            m_preview->restart();
    });
    connect(m_preview, &TypingPreview::stepped, this, &SettingsView::readTrustThrottled);
    connect(&state, &AppState::shortcutProblemChanged, this, &SettingsView::shortcutBindingChanged);
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, &SettingsView::applicationStateChanged);
}

SettingsView::~SettingsView()
{
    m_recorder->stopRecording();
    m_preview->cancel();
}

QFont SettingsView::fixedFont() const
{
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
}

void SettingsView::attach(QWindow *window)
{
    m_window = window;
    m_recorder->setWindow(window);
    // Minimised counts as hidden: nothing animates in a window no one can see.
    connect(window, &QWindow::visibilityChanged, this, [this](QWindow::Visibility visibility) {
        const bool onScreen = visibility != QWindow::Hidden && visibility != QWindow::Minimized;
        if (onScreen == m_onScreen)
            return;
        m_onScreen = onScreen;
        if (onScreen)
            shown();
        else
            hidden();
    });
    m_onScreen = window->isVisible() && window->visibility() != QWindow::Minimized;
    if (m_onScreen)
        shown();
}

bool SettingsView::escapeStops() const
{
    return m_state.platform().tap.watchesEscape();
}

bool SettingsView::viewersRecognized() const
{
    return m_state.platform().injector.knowsFocusedWindow();
}

bool SettingsView::shortcutsUnbound() const
{
    return m_state.platform().tap.binding() == KeyboardTap::Binding::Unbound;
}

void SettingsView::requestAccess()
{
    m_state.requestAccessibilityPermission();
    readTrust();
    // Where the desktop has no permission pane to open, the window says what is missing.
    if (!m_trusted)
        setProblem(m_state.platform().trust.missingReason());
}

void SettingsView::setProblem(const QString &problem)
{
    if (problem == m_problem)
        return;
    m_problem = problem;
    emit permissionProblemChanged();
}

void SettingsView::shown()
{
    readTrust();
    m_preview->refreshClipboard();
}

void SettingsView::hidden()
{
    // Recording first, then the preview.
    m_recorder->stopRecording();
    m_preview->cancel();
}

void SettingsView::applicationStateChanged(Qt::ApplicationState state)
{
    if (state != Qt::ApplicationActive || !m_onScreen)
        return;
    readTrust();
    m_preview->refreshClipboard();
}

void SettingsView::readTrust()
{
    m_sinceTrustRead.restart();
    const bool trusted = m_state.isAccessibilityTrusted();
    // A problem shown follows the desktop's answer, which may come later (a refused consent).
    if (trusted)
        setProblem(QString());
    else if (!m_problem.isEmpty())
        setProblem(m_state.platform().trust.missingReason());
    if (trusted == m_trusted)
        return;
    m_trusted = trusted;
    emit accessibilityTrustedChanged();
}

void SettingsView::readTrustThrottled()
{
    if (m_sinceTrustRead.elapsed() >= trustReadIntervalMs)
        readTrust();
}
