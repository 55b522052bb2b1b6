import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Keyloom.Snippets
import Keyloom.Settings

// "Typing Speed": the delay, its slider, and the live preview.
FormSection {
    id: section
    required property AppState appState
    required property SettingsView view
    readonly property TypingPreview preview: view.preview

    title: qsTr("Typing Speed")

    RowLayout {
        Label {
            text: qsTr("Delay between keystrokes")
            Layout.fillWidth: true
        }
        Label {
            objectName: "speedLabel"
            readonly property real delay: section.appState.typingSpeedMs
            // Whole milliseconds, truncated toward zero.
            text: qsTr("%1 ms").arg(isFinite(delay) ? Math.trunc(delay).toString() : "–")
            color: Theme.secondary
            horizontalAlignment: Text.AlignRight
            Layout.preferredWidth: 55
            Layout.minimumWidth: 55
            Layout.maximumWidth: 55
        }
    }

    Slider {
        objectName: "speedSlider"
        from: 5
        to: 200
        stepSize: 5
        snapMode: Slider.SnapAlways
        focusPolicy: Qt.TabFocus
        value: section.appState.typingSpeedMs
        onMoved: section.appState.typingSpeedMs = value
        Layout.fillWidth: true
    }

    RowLayout {
        spacing: 4
        Label {
            objectName: "previewSource"
            text: section.preview.clipboardCounts ? qsTr("From clipboard") : qsTr("Sample text")
            font.pixelSize: Theme.smallCaptionSize
            color: Theme.tertiary
            Layout.alignment: Qt.AlignTop
            Layout.fillWidth: true
        }
        Button {
            id: clearButton
            objectName: "clearClipboard"
            visible: section.preview.clipboardCounts
            text: qsTr("Clear Clipboard")
            flat: true
            focusPolicy: Qt.TabFocus
            padding: 0
            font.pixelSize: Theme.smallCaptionSize
            Layout.alignment: Qt.AlignTop
            // Plain red text without a frame.
            background: Item {}
            contentItem: Label {
                text: clearButton.text
                font: clearButton.font
                color: Theme.red
            }
            HoverHandler {
                cursorShape: Qt.PointingHandCursor
            }
            onClicked: section.preview.clearClipboard()
        }
    }

    Rectangle {
        objectName: "previewBox"
        Layout.fillWidth: true
        implicitHeight: Math.max(40, previewText.implicitHeight + 2 * 8)
        radius: 6
        color: Theme.quaternaryFill
        clip: true

        Text {
            id: previewText
            objectName: "previewText"
            x: 8
            y: 8
            width: parent.width - 2 * 8
            text: section.preview.previewText
            textFormat: Text.PlainText
            wrapMode: Text.WrapAnywhere
            font.family: section.view.fixedFont.family
            font.pixelSize: Theme.bodySize
            color: Theme.primary
        }
    }

    // Viewers of virtual machines and remote desktops pass key codes on to a guest: typed for
    // as a PC keyboard, accents through dead keys.
    RowLayout {
        Label {
            text: qsTr("PC keyboard for")
        }
        ComboBox {
            objectName: "keyForwarding"
            focusPolicy: Qt.TabFocus
            model: [qsTr("VM and remote-desktop viewers"), qsTr("Every window"), qsTr("No window")]
            currentIndex: section.appState.keyForwarding
            onActivated: index => section.appState.keyForwarding = index
            Layout.fillWidth: true
        }
    }
    Label {
        objectName: "keyForwardingNote"
        text: section.view.viewersRecognized
              ? qsTr("Only keys a PC keyboard has, accents through dead keys, as the guest expects. The guest should use this keyboard layout.")
              : qsTr("This desktop does not tell which window has the focus: choose Every window while you type into a viewer.")
        wrapMode: Text.WordWrap
        font.pixelSize: Theme.smallCaptionSize
        color: Theme.tertiary
        Layout.fillWidth: true
    }
}
