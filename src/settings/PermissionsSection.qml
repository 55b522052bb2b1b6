import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Keyloom.Snippets
import Keyloom.Settings

// "Permissions": whether the desktop lets Keyloom watch the keyboard and type, and a way to ask.
FormSection {
    id: section
    required property SettingsView view

    title: qsTr("Permissions")
    rowSpacing: 8

    LabeledLine {
        objectName: "trustedStatus"
        visible: section.view.accessibilityTrusted
        symbol: "seal-check"
        text: qsTr("Permissions Granted!")
        color: Theme.green
        pixelSize: Theme.bodySize
        weight: Font.Medium
    }
    LabeledLine {
        objectName: "untrustedStatus"
        visible: !section.view.accessibilityTrusted
        symbol: "warning"
        themeName: "dialog-warning-symbolic"
        text: qsTr("Needs Permissions")
        color: Theme.red
        pixelSize: Theme.bodySize
        weight: Font.Medium
    }
    Button {
        objectName: "requestAccess"
        visible: !section.view.accessibilityTrusted
        text: qsTr("Request Access")
        focusPolicy: Qt.TabFocus
        onClicked: section.view.requestAccess()
    }
    Label {
        objectName: "permissionProblem"
        visible: !section.view.accessibilityTrusted && text.length > 0
        text: section.view.permissionProblem
        textFormat: Text.PlainText
        font.pixelSize: Theme.captionSize
        color: Theme.red
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
    Label {
        objectName: "permissionExplanation"
        text: qsTr("Keyloom uses Accessibility to register a global keyboard shortcut and simulate individual key presses into whatever app is focused - browsers, editors, terminals, and native apps.")
        font.pixelSize: Theme.captionSize
        color: Theme.secondary
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
}
