#include "MenuBarContent.h"

#include "model/AppState.h"
#include "platform/AccessibilityTrust.h"
#include "platform/Clipboard.h"
#include "platform/KeyboardTap.h"
#include "typing/GraphemeWalker.h"

#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QStyle>
#include <QWidgetAction>

#include <algorithm>

namespace {

// Marks the entries that are text lines, so callers need not guess from the class.
constexpr char lineProperty[] = "keyloomTextLine";

// Caption size relative to the menu's own font.
constexpr double captionScale = 0.85;

// A menu, and a D-Bus tray host drawing it, reads '&' as a mnemonic marker; no entry has one.
QString withoutMnemonics(const QString &text)
{
    return QString(text).replace(QLatin1Char('&'), QLatin1String("&&"));
}

} // namespace

MenuBarContent::MenuBarContent(AppState &state, QObject *parent)
    : QObject(parent), m_state(state), m_menu(std::make_unique<QMenu>())
{
    m_menu->setObjectName(QStringLiteral("keyloomMenu"));
    connect(m_menu.get(), &QMenu::aboutToShow, this, &MenuBarContent::rebuild);

    const auto recompute = [this] { rebuild(); };
    connect(&m_state, &AppState::isTypingChanged, this, recompute);
    connect(&m_state, &AppState::typingModeChanged, this, recompute);
    connect(&m_state, &AppState::snippetsChanged, this, recompute);
    connect(&m_state, &AppState::currentSnippetIndexChanged, this, recompute);
    connect(&m_state, &AppState::hotkeyDisplayStringChanged, this, recompute);
    connect(&m_state, &AppState::hotkeyKeyCodeChanged, this, recompute);
    connect(&m_state, &AppState::hotkeyControlChanged, this, recompute);
    connect(&m_state, &AppState::hotkeyCommandChanged, this, recompute);
    connect(&m_state, &AppState::hotkeyOptionChanged, this, recompute);
    connect(&m_state, &AppState::hotkeyShiftChanged, this, recompute);
    connect(&m_state, &AppState::untypedChanged, this, recompute);
    connect(&m_state, &AppState::shortcutProblemChanged, this, recompute);
    rebuild();
}

MenuBarContent::~MenuBarContent()
{
    delete m_permissionBox;
}

void MenuBarContent::rebuild()
{
    // An entry's own triggered() may be what led here (Stop Typing clears isTyping),
    // so old entries are detached now and deleted once control is back in the event loop.
    const QList<QAction *> old = m_menu->actions();
    for (QAction *action : old) {
        m_menu->removeAction(action);
        action->deleteLater();
    }

    if (!m_state.platform().trust.isTrusted()) {
        addItem(tr("Grant Accessibility Permission..."), &MenuBarContent::requestPermission);
        m_menu->addSeparator();
    }

    if (const QString problem = m_state.shortcutProblem(); !problem.isEmpty()) {
        addLine(problem, false);
        m_menu->addSeparator();
    }

    const KeyboardTap &tap = m_state.platform().tap;
    if (m_state.isTyping()) {
        addLine(tr("Typing..."), false);
        addItem(tr("Stop Typing"), &MenuBarContent::stopTyping);
        if (!tap.watchesEscape())
            addLine(tr("Esc cannot stop typing on this desktop."), true);
    } else if (tap.binding() == KeyboardTap::Binding::Unbound) {
        // The desktop binds the keys, so ours would be a shortcut that does nothing.
        addItem(tr("Keyloom Paste"), &MenuBarContent::togglePaste);
    } else {
        addItem(tr("Keyloom Paste  %1").arg(m_state.hotkeyDisplayString()), &MenuBarContent::togglePaste);
    }
    // Only here, in our own menu, does the user see which characters: they may be a secret's.
    if (!m_state.isTyping() && !m_state.untypedCharacters().isEmpty()) {
        addLine(tr("Cannot type here: %1").arg(m_state.untypedCharacters()), false);
        addItem(tr("Type Anyway Without Them"), &MenuBarContent::typeAnyway);
    }
    m_menu->addSeparator();

    const SnippetList &snippets = m_state.snippets();
    if (m_state.typingMode() == TypingMode::Playlist && !snippets.isEmpty()) {
        const qint64 count = snippets.size();
        // The index never goes below zero in practice; a hand-edited negative one shows the first.
        const qint64 index = std::clamp<qint64>(m_state.currentSnippetIndex(), 0, count - 1);
        addLine(tr("Snippet %1 of %2").arg(index + 1).arg(count), false);
        addLine(preview(snippets.at(index).text), true);
        m_menu->addSeparator();
    }

    addItem(tr("Clear Clipboard"), &MenuBarContent::clearClipboard);
    m_menu->addSeparator();
    addItem(tr("Settings..."), &MenuBarContent::openSettings);
    m_menu->addSeparator();
    addItem(tr("Quit Keyloom"), &MenuBarContent::quit);
}

QString MenuBarContent::preview(const QString &text)
{
    GraphemeWalker walker(text);
    qsizetype end = 0;
    for (int taken = 0; taken < previewLength; ++taken) {
        if (!walker.next())
            return text;
        end = walker.position();
    }
    if (!walker.next())
        return text;
    return text.left(end) + QStringLiteral("...");
}

bool MenuBarContent::isTextLine(const QAction *action)
{
    return action && action->property(lineProperty).toBool();
}

void MenuBarContent::addItem(const QString &text, void (MenuBarContent::*slot)())
{
    auto *action = new QAction(m_menu.get());
    action->setText(withoutMnemonics(text));
    action->setIconVisibleInMenu(false);
    connect(action, &QAction::triggered, this, slot);
    m_menu->addAction(action);
}

void MenuBarContent::addLine(const QString &text, bool secondary)
{
    auto *action = new QWidgetAction(m_menu.get());
    // The label draws the text here; a tray host that draws the menu itself uses this.
    action->setText(withoutMnemonics(text));
    action->setProperty(lineProperty, true);
    // Not an item: keyboard navigation passes over it, and a tray that draws the menu
    // itself (StatusNotifierItem) shows the text greyed and not clickable.
    action->setEnabled(false);

    auto *label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    QFont font = m_menu->font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * captionScale);
    else
        font.setPixelSize(qMax(1, qRound(font.pixelSize() * captionScale)));
    label->setFont(font);
    // Dimmed but readable, the same in every colour group; the preview is dimmer still.
    QPalette palette = m_menu->palette();
    QColor colour = palette.color(QPalette::Active, QPalette::WindowText);
    colour.setAlpha(secondary ? 120 : 170);
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    // Line up with the items' text, which the style puts after a check-mark column.
    const QStyle *style = m_menu->style();
    const int left = style->pixelMetric(QStyle::PM_SmallIconSize, nullptr, m_menu.get()) + 12;
    label->setContentsMargins(left, 2, 12, 2);
    action->setDefaultWidget(label);
    m_menu->addAction(action);
}

void MenuBarContent::requestPermission()
{
    m_state.requestAccessibilityPermission();
    AccessibilityTrust &trust = m_state.platform().trust;
    if (trust.isTrusted() || trust.desktopAsks())
        return;
    // Where the desktop has no permission pane of its own to open, say what is missing.
    QPointer<QMessageBox> &box = m_permissionBox;
    if (!box) {
        box = new QMessageBox(QMessageBox::Information, tr("Keyloom"), QString(), QMessageBox::Ok);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setTextFormat(Qt::PlainText);
        box->setObjectName(QStringLiteral("keyloomPermissionMessage"));
    }
    box->setText(trust.missingReason());
    box->show();
    box->raise();
    box->activateWindow();
}

void MenuBarContent::togglePaste()
{
    m_state.toggleTyping();
}

void MenuBarContent::typeAnyway()
{
    m_state.typeAnyway();
}

void MenuBarContent::stopTyping()
{
    m_state.stopTyping();
}

void MenuBarContent::clearClipboard()
{
    m_state.platform().clipboard.clear();
}

void MenuBarContent::openSettings()
{
    emit settingsRequested();
}

void MenuBarContent::quit()
{
    emit quitRequested();
}
