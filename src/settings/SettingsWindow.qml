import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Keyloom.Snippets
import Keyloom.Settings

// The settings window: one grouped form, sections in their fixed order.
ApplicationWindow {
    id: root
    required property AppState appState
    required property SettingsView view

    title: qsTr("Keyloom Settings")
    width: 420
    height: 780
    minimumWidth: 400
    minimumHeight: 500
    visible: false

    ScrollView {
        id: scroll
        anchors.fill: parent
        contentWidth: availableWidth

        ColumnLayout {
            id: form
            objectName: "form"
            x: 16
            width: scroll.availableWidth - 2 * 16
            spacing: 18

            Item {
                implicitHeight: 0
                Layout.preferredHeight: 0
            }
            TypingSpeedSection {
                objectName: "typingSpeedSection"
                appState: root.appState
                view: root.view
            }
            ShortcutsSection {
                objectName: "shortcutsSection"
                appState: root.appState
                recorder: root.view.recorder
            }
            SnippetListView {
                objectName: "snippetsSection"
                appState: root.appState
            }
            HowToUseSection {
                objectName: "howToUseSection"
                view: root.view
            }
            PermissionsSection {
                objectName: "permissionsSection"
                view: root.view
            }
            Item {
                implicitHeight: 0
                Layout.preferredHeight: 0
            }
        }
    }
}
