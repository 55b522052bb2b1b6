import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Keyloom.Snippets

// An icon followed by its text; bold spans between double asterisks are shown bold.
// The text wraps at the line's width and its height follows, so nothing is cut off.
Item {
    id: line
    property string symbol
    property string themeName
    property string text
    property color color: Theme.primary
    property real pixelSize: Theme.calloutSize
    property int weight: Font.Normal

    Layout.fillWidth: true
    implicitWidth: icon.width + 6 + label.implicitWidth
    implicitHeight: Math.max(icon.height, label.implicitHeight)

    SymbolIcon {
        id: icon
        y: Math.max(0, (label.lineHeightPx - height) / 2)
        symbol: line.symbol
        themeName: line.themeName
        size: line.pixelSize + 1
        color: line.color
    }
    Label {
        id: label
        objectName: "lineText"
        readonly property real lineHeightPx: fontMetrics.height
        x: icon.width + 6
        width: line.width - x
        text: line.text
        textFormat: Text.MarkdownText
        wrapMode: Text.Wrap
        color: line.color
        font.pixelSize: line.pixelSize
        font.weight: line.weight
    }
    FontMetrics {
        id: fontMetrics
        font: label.font
    }
}
