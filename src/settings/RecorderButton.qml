import QtQuick
import QtQuick.Controls
import Keyloom.Snippets

// A shortcut recorder's button: the shortcut's text, or "Press shortcut..." in red while waiting.
// The tooltip spells the symbols out, as ⌃⌥⇧⌘ are not what Linux keyboards say.
Button {
    id: button
    property string shortcutText
    property string shortcutWords
    property bool recording: false

    ToolTip.text: shortcutWords
    ToolTip.visible: hovered && !recording && shortcutWords.length > 0
    ToolTip.delay: 500

    // Clicking must not take the focus: keys that are not a shortcut go on to the focused control.
    focusPolicy: Qt.TabFocus
    // The label area is at least 100 wide, its text centred in it.
    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            Math.max(100, implicitContentWidth) + leftPadding + rightPadding)
    contentItem: Label {
        text: button.recording ? "Press shortcut..." : button.shortcutText
        textFormat: Text.PlainText
        color: button.recording ? Theme.red : Theme.primary
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }
}
