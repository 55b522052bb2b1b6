pragma Singleton
import QtQuick

// The named colours and text styles of the settings window, derived from the
// system palette and font so the window follows light and dark themes.
QtObject {
    readonly property SystemPalette palette: SystemPalette { colorGroup: SystemPalette.Active }
    readonly property bool dark: palette.window.hslLightness < 0.5

    readonly property color primary: palette.windowText
    readonly property color secondary: Qt.rgba(primary.r, primary.g, primary.b, 0.62)
    readonly property color tertiary: Qt.rgba(primary.r, primary.g, primary.b, 0.45)
    readonly property color quaternaryFill: Qt.rgba(primary.r, primary.g, primary.b, dark ? 0.10 : 0.05)
    readonly property color separator: Qt.rgba(primary.r, primary.g, primary.b, dark ? 0.22 : 0.16)
    readonly property color groupFill: dark ? Qt.lighter(palette.window, 1.25) : Qt.lighter(palette.window, 1.04)
    readonly property color accent: palette.highlight
    readonly property color red: dark ? "#ff6961" : "#d70015"
    readonly property color green: dark ? "#30d158" : "#1f8a3b"

    readonly property real bodySize: Qt.application.font.pixelSize > 0
        ? Qt.application.font.pixelSize : Qt.application.font.pointSize * 4 / 3
    readonly property real calloutSize: Math.round(bodySize * 0.95)
    readonly property real captionSize: Math.round(bodySize * 0.85)
    readonly property real smallCaptionSize: Math.round(bodySize * 0.78)
    readonly property real title2Size: Math.round(bodySize * 1.45)
}
