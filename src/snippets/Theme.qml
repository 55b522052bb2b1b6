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
    readonly property color segmentFill: palette.button
    readonly property color segmentText: palette.buttonText
    // A selected segment: the highlight, pushed lighter or darker until it stands 3:1 apart from
    // an unselected one (a dark theme's highlight can be about as dark as its buttons).
    readonly property color selectedFill: standingApart(palette.highlight, segmentFill)
    readonly property color selectedText: contrast(palette.highlightedText, selectedFill) >= 4.5
        ? palette.highlightedText : luminance(selectedFill) > 0.18 ? "black" : "white"
    readonly property color red: dark ? "#ff6961" : "#d70015"
    readonly property color green: dark ? "#30d158" : "#1f8a3b"

    readonly property real bodySize: Qt.application.font.pixelSize > 0
        ? Qt.application.font.pixelSize : Qt.application.font.pointSize * 4 / 3
    readonly property real calloutSize: Math.round(bodySize * 0.95)
    readonly property real captionSize: Math.round(bodySize * 0.85)
    readonly property real smallCaptionSize: Math.round(bodySize * 0.78)
    readonly property real title2Size: Math.round(bodySize * 1.45)

    // Relative luminance and contrast ratio as WCAG defines them.
    function luminance(c) {
        const linear = v => v <= 0.03928 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4)
        return 0.2126 * linear(c.r) + 0.7152 * linear(c.g) + 0.0722 * linear(c.b)
    }
    function contrast(a, b) {
        const la = luminance(a) + 0.05
        const lb = luminance(b) + 0.05
        return Math.max(la, lb) / Math.min(la, lb)
    }
    // The colour tinted towards white (beside a dark one) or black until the two differ 3:1.
    function standingApart(colour, from) {
        const away = luminance(from) < 0.18 ? Qt.rgba(1, 1, 1, 1) : Qt.rgba(0, 0, 0, 1)
        for (let share = 0; share < 1; share += 0.05) {
            const mixed = Qt.tint(colour, Qt.rgba(away.r, away.g, away.b, share))
            if (contrast(mixed, from) >= 3)
                return mixed
        }
        return away
    }
}
