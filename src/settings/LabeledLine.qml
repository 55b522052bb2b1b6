import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Keyloom.Snippets

// An icon followed by its text; bold spans between double asterisks are shown bold.
RowLayout {
    id: line
    property string symbol
    property string themeName
    property string text
    property color color: Theme.primary
    property real pixelSize: Theme.calloutSize
    property int weight: Font.Normal

    spacing: 6
    Layout.fillWidth: true

    SymbolIcon {
        symbol: line.symbol
        themeName: line.themeName
        size: line.pixelSize + 1
        color: line.color
        Layout.alignment: Qt.AlignTop
        Layout.topMargin: 1
    }
    Label {
        objectName: "lineText"
        text: line.text
        textFormat: Text.MarkdownText
        wrapMode: Text.Wrap
        color: line.color
        font.pixelSize: line.pixelSize
        font.weight: line.weight
        Layout.fillWidth: true
        Layout.preferredWidth: 1
    }
}
