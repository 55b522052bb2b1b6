import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Keyloom.Snippets

// The "Snippets" section: the mode picker and, in list mode, the list editor.
FormSection {
    id: view
    required property AppState appState
    property alias newSnippetText: field.text
    readonly property bool listMode: snippetModel.listMode
    readonly property alias snippetModel: snippetModel

    title: qsTr("Snippets")

    /// Adds the field's text, trimmed, unless nothing is left of it.
    function submitNewSnippet() {
        const text = snippetModel.trimmed(field.text)
        if (text.length === 0)
            return
        view.appState.addSnippet(text)
        field.text = ""
    }

    SnippetListModel {
        id: snippetModel
        appState: view.appState
    }

    RowLayout {
        Label {
            text: qsTr("Mode")
            Layout.fillWidth: true
        }
        ButtonGroup {
            id: modeGroup
        }
        Row {
            objectName: "modePicker"
            spacing: -1
            ModeSegment {
                objectName: "modeClipboard"
                text: qsTr("Paste from Clipboard")
                ButtonGroup.group: modeGroup
                checked: !view.listMode
                onClicked: snippetModel.listMode = false
            }
            ModeSegment {
                objectName: "modePlaylist"
                text: qsTr("Paste from List")
                ButtonGroup.group: modeGroup
                checked: view.listMode
                onClicked: snippetModel.listMode = true
            }
        }
    }

    // Drawn here rather than by the style: a checked style button looks merely pressed,
    // which in a dark theme is barely darker than its neighbour.
    component ModeSegment: Button {
        id: segment
        checkable: true
        focusPolicy: Qt.TabFocus
        leftPadding: 10
        rightPadding: 10
        contentItem: Label {
            text: segment.text
            textFormat: Text.PlainText
            color: segment.checked ? Theme.selectedText : Theme.segmentText
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle {
            implicitWidth: 80
            implicitHeight: 24
            radius: 2
            color: segment.checked ? Theme.selectedFill
                 : segment.down || segment.hovered ? Qt.darker(Theme.segmentFill, 1.08)
                 : Theme.segmentFill
            border.color: segment.visualFocus ? Theme.accent
                        : segment.checked ? Theme.selectedFill : Theme.separator
        }
    }

    Label {
        objectName: "emptyText"
        visible: view.listMode && snippetModel.count === 0
        text: qsTr("No snippets yet. Add one below.")
        font.pixelSize: Theme.captionSize
        color: Theme.secondary
        horizontalAlignment: Text.AlignHCenter
        topPadding: 8
        bottomPadding: 8
        Layout.fillWidth: true
    }

    Rectangle {
        objectName: "snippetListFrame"
        visible: view.listMode && snippetModel.count > 0
        Layout.fillWidth: true
        Layout.preferredHeight: Math.max(120, Math.min(240, list.contentHeight + 2))
        radius: 6
        color: Theme.palette.base
        border.color: Theme.separator
        clip: true

        ListView {
            id: list
            objectName: "snippetList"
            anchors.fill: parent
            anchors.margins: 1
            model: snippetModel
            boundsBehavior: Flickable.StopAtBounds
            // Pressing and dragging a row reorders; the wheel and the scroll bar scroll.
            interactive: false
            ScrollBar.vertical: ScrollBar {
                visible: list.contentHeight > list.height + 1
                policy: ScrollBar.AlwaysOn
            }

            property int dragFrom: -1
            property int dropAt: -1
            // Where the content stood when the drag began, so the dragged row stays under the pointer.
            property real dragStartContentY: 0
            // The dragged row's centre in content coordinates; set by the dragged delegate.
            property real dragCentre: 0

            /// The destination offset for a drag whose centre is at y (content coordinates).
            function destinationAt(y) {
                for (let i = 0; i < count; ++i) {
                    const item = itemAtIndex(i)
                    if (item && y < item.y + item.height / 2)
                        return i
                }
                return count
            }

            /// Content y of the gap before the row at this offset.
            function gapY(offset) {
                if (offset < count) {
                    const item = itemAtIndex(offset)
                    return item ? item.y : 0
                }
                const last = itemAtIndex(count - 1)
                return last ? last.y + last.height : 0
            }

            onDragCentreChanged: {
                if (dragFrom >= 0)
                    dropAt = destinationAt(dragCentre)
            }

            // Near the top or bottom edge a drag scrolls the list, so any place can be reached.
            Timer {
                interval: 16
                repeat: true
                running: list.dragFrom >= 0 && list.contentHeight > list.height
                onTriggered: {
                    const inView = list.dragCentre - list.contentY
                    const edge = 24
                    let delta = 0
                    if (inView < edge)
                        delta = -6
                    else if (inView > list.height - edge)
                        delta = 6
                    list.contentY = Math.max(0, Math.min(list.contentHeight - list.height, list.contentY + delta))
                }
            }

            WheelHandler {
                onWheel: (event) => {
                    list.contentY = Math.max(0, Math.min(list.contentHeight - list.height,
                                                         list.contentY - event.angleDelta.y / 2))
                }
            }

            delegate: Item {
                id: slot
                required property int index
                required property string snippetId
                required property string text
                required property bool isCurrent

                objectName: "snippetRow_" + index
                width: ListView.view.width
                height: row.implicitHeight + 4 + 8
                z: dragHandler.active ? 2 : 1

                Rectangle {
                    visible: slot.index > 0
                    x: 10
                    width: parent.width - 20
                    height: 1
                    color: Theme.separator
                }

                SnippetRow {
                    id: row
                    x: 10
                    y: dragHandler.active ? 6 + dragHandler.translation.y + list.contentY - list.dragStartContentY : 6
                    width: slot.width - 20
                    snippetText: slot.text
                    isActive: slot.isCurrent
                    opacity: dragHandler.active ? 0.7 : 1
                    onSelectRequested: snippetModel.select(slot.index)
                    onDeleteRequested: snippetModel.remove(slot.index)
                }

                DragHandler {
                    id: dragHandler
                    target: null
                    xAxis.enabled: false
                    onActiveChanged: {
                        if (active) {
                            list.dragStartContentY = list.contentY
                            list.dragFrom = slot.index
                            list.dropAt = slot.index
                            return
                        }
                        const from = list.dragFrom
                        const to = list.dropAt
                        list.dragFrom = -1
                        list.dropAt = -1
                        if (from >= 0 && to >= 0)
                            snippetModel.move(from, to)
                    }
                }

                // While this row is dragged, follow it for the drop position and the edge scrolling.
                Binding {
                    when: dragHandler.active
                    target: list
                    property: "dragCentre"
                    value: slot.y + row.y + row.height / 2
                }
            }

            Rectangle {
                objectName: "dropIndicator"
                visible: list.dragFrom >= 0 && list.dropAt !== list.dragFrom && list.dropAt !== list.dragFrom + 1
                parent: list.contentItem
                z: 3
                x: 6
                width: list.width - 12
                height: 2
                radius: 1
                color: Theme.accent
                y: list.gapY(list.dropAt) - 1
            }
        }
    }

    RowLayout {
        visible: view.listMode
        spacing: 6

        ScrollView {
            id: fieldScroll
            Layout.fillWidth: true
            Layout.preferredHeight: Math.min(field.implicitHeight,
                                             3 * fontMetrics.lineSpacing + field.topPadding + field.bottomPadding)
            Layout.alignment: Qt.AlignVCenter
            background: Rectangle {
                radius: 5
                color: Theme.palette.base
                border.color: field.activeFocus ? Theme.accent : Theme.separator
            }

            TextArea {
                id: field
                objectName: "newSnippetField"
                placeholderText: qsTr("Add snippet...")
                wrapMode: TextEdit.Wrap
                textFormat: TextEdit.PlainText
                // Return submits; Shift+Return writes a line break of its own so the stored text holds "\n".
                Keys.onReturnPressed: (event) => view.returnPressed(event)
                Keys.onEnterPressed: (event) => view.returnPressed(event)
            }
        }

        ToolButton {
            objectName: "addButton"
            flat: true
            focusPolicy: Qt.TabFocus
            enabled: snippetModel.trimmed(field.text).length > 0
            padding: 2
            icon.source: Qt.resolvedUrl("icons/plus-circle.svg")
            icon.color: Theme.accent
            icon.width: Theme.title2Size
            icon.height: Theme.title2Size
            Accessible.name: qsTr("Add")
            Layout.alignment: Qt.AlignVCenter
            onClicked: view.submitNewSnippet()
        }
    }

    FontMetrics {
        id: fontMetrics
        font: field.font
    }

    function returnPressed(event) {
        if (event.modifiers & Qt.ShiftModifier) {
            field.insert(field.cursorPosition, "\n")
        } else {
            view.submitNewSnippet()
        }
        event.accepted = true
    }

    RowLayout {
        visible: view.listMode && snippetModel.count > 0
        Label {
            objectName: "statusLine"
            text: qsTr("Current: %1 of %2").arg(view.appState.currentSnippetIndex + 1).arg(snippetModel.count)
            font.pixelSize: Theme.captionSize
            color: Theme.secondary
            Layout.fillWidth: true
        }
        Button {
            objectName: "resetToFirst"
            text: qsTr("Reset to First")
            flat: true
            focusPolicy: Qt.TabFocus
            font.pixelSize: Theme.captionSize
            palette.buttonText: Theme.accent
            onClicked: view.appState.currentSnippetIndex = 0
        }
    }

    Button {
        objectName: "clearAll"
        visible: view.listMode && snippetModel.count > 0
        text: qsTr("Clear All")
        focusPolicy: Qt.TabFocus
        font.pixelSize: Theme.captionSize
        palette.buttonText: Theme.red
        onClicked: view.appState.clearAllSnippets()
    }
}
