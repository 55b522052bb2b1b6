import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Keyloom.Snippets

// One entry of the snippet list: marker (selects), text (two lines at most), trash (deletes).
RowLayout {
    id: row
    property string snippetText
    property bool isActive: false
    signal selectRequested
    signal deleteRequested

    spacing: 8

    SymbolIcon {
        objectName: "marker"
        symbol: row.isActive ? "ring-dot" : "circle"
        color: row.isActive ? Theme.accent : Theme.secondary
        Layout.alignment: Qt.AlignVCenter
        Accessible.role: Accessible.RadioButton
        Accessible.name: qsTr("Current snippet")
        Accessible.checked: row.isActive
        TapHandler {
            onTapped: row.selectRequested()
        }
    }

    Label {
        objectName: "snippetText"
        text: row.snippetText
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        maximumLineCount: 2
        elide: Text.ElideRight
        Layout.fillWidth: true
        Layout.preferredWidth: 1
    }

    ToolButton {
        objectName: "deleteButton"
        flat: true
        focusPolicy: Qt.TabFocus
        padding: 2
        icon.source: Qt.resolvedUrl("icons/trash.svg")
        icon.name: "user-trash-symbolic"
        icon.color: Theme.red
        icon.width: Theme.captionSize + 2
        icon.height: Theme.captionSize + 2
        Accessible.name: qsTr("Delete")
        onClicked: row.deleteRequested()
    }
}
