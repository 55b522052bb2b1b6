import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Keyloom.Snippets
import Keyloom.Settings

// "Shortcuts": the two recorders and the hint.
FormSection {
    id: section
    required property AppState appState
    required property ShortcutRecorder recorder

    title: qsTr("Shortcuts")

    RowLayout {
        Label {
            text: qsTr("Keyloom Paste")
            Layout.fillWidth: true
        }
        RecorderButton {
            objectName: "mainRecorder"
            shortcutText: section.appState.hotkeyDisplayString
            shortcutWords: section.appState.hotkeySpelledOut
            recording: section.recorder.isRecordingShortcut
            onClicked: recording ? section.recorder.stopRecording() : section.recorder.startRecording()
        }
    }

    RowLayout {
        Label {
            text: qsTr("Previous Snippet")
            Layout.fillWidth: true
        }
        RecorderButton {
            objectName: "prevRecorder"
            shortcutText: section.appState.prevHotkeyDisplayString
            shortcutWords: section.appState.prevHotkeySpelledOut
            recording: section.recorder.isRecordingPrevShortcut
            onClicked: recording ? section.recorder.stopRecording() : section.recorder.startRecordingPrev()
        }
    }

    Label {
        objectName: "shortcutProblem"
        visible: text !== ""
        text: section.appState.shortcutProblem
        color: Theme.red
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }

    Label {
        objectName: "shortcutHint"
        text: qsTr("Click a button, then press your desired key combination.")
        font.pixelSize: Theme.captionSize
        color: Theme.secondary
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
}
