import QtQuick
import QtQuick.Controls.impl
import Keyloom.Snippets

// One of our symbol icons, tinted; a freedesktop theme icon is used instead where one is named and found.
IconImage {
    property string symbol
    property string themeName
    property real size: Theme.bodySize

    name: themeName
    source: symbol ? Qt.resolvedUrl("icons/" + symbol + ".svg") : ""
    sourceSize: Qt.size(size, size)
    color: Theme.primary
}
