import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Keyloom.Snippets
import Keyloom.Settings

// "How to Use": the two modes, how to stop, and why typing waits for the keys' release.
FormSection {
    id: section
    required property SettingsView view

    title: qsTr("How to Use")

    ColumnLayout {
        spacing: 6
        Layout.fillWidth: true
        LabeledLine {
            symbol: "clipboard"
            themeName: "edit-paste-symbolic"
            text: qsTr("**Clipboard mode:** Copy text, then press shortcut.")
        }
        LabeledLine {
            symbol: "list-number"
            text: qsTr("**List mode:** Add snippets above, press shortcut to type each one in order.")
        }
        LabeledLine {
            objectName: "guestNote"
            symbol: "keyboard"
            themeName: "computer-symbolic"
            text: qsTr("**Virtual machines and remote desktops:** keys go out as on a PC keyboard, accents through dead keys. The guest must use the same layout, with CapsLock and NumLock off.")
        }
        LabeledLine {
            objectName: "bindingNote"
            visible: section.view.shortcutsUnbound
            symbol: "keyboard"
            themeName: "input-keyboard-symbolic"
            text: qsTr("**This desktop keeps shortcuts to itself:** bind **keyloom --toggle** (and **keyloom --previous**) to keys in its keyboard settings.")
        }
    }

    Label {
        objectName: "stoppingHeading"
        text: qsTr("Stopping the animation")
        font.pixelSize: Theme.calloutSize
        font.weight: Font.Medium
    }

    ColumnLayout {
        spacing: 6
        Layout.fillWidth: true
        LabeledLine {
            objectName: "escapeLine"
            symbol: "escape"
            text: section.view.escapeStops
                  ? qsTr("Press **Esc** to cancel immediately.")
                  : qsTr("**Esc** cannot stop typing on this desktop: use the shortcut or **Stop Typing** in the tray menu.")
        }
        LabeledLine {
            symbol: "keyboard"
            themeName: "input-keyboard-symbolic"
            text: qsTr("Press the **shortcut again** to stop.")
        }
    }

    Label {
        objectName: "releaseNote"
        text: qsTr("The app waits for you to release the shortcut keys before it starts typing, so you won’t get extra characters. In list mode, it advances to the next snippet after each paste and wraps back to the first.")
        font.pixelSize: Theme.captionSize
        color: Theme.secondary
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
}
