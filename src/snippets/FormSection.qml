import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Keyloom.Snippets

// A titled group of the settings form; each child is one row.
ColumnLayout {
    id: section
    property string title
    default property alias rows: body.data
    property alias rowSpacing: body.spacing

    Layout.fillWidth: true
    spacing: 6

    Label {
        text: section.title
        font.pixelSize: Theme.captionSize
        font.weight: Font.DemiBold
        color: Theme.secondary
        leftPadding: 4
    }

    Rectangle {
        Layout.fillWidth: true
        implicitHeight: body.implicitHeight + 2 * 12
        radius: 8
        color: Theme.groupFill
        border.color: Theme.separator

        ColumnLayout {
            id: body
            anchors.fill: parent
            anchors.margins: 12
            spacing: 10
        }
    }
}
