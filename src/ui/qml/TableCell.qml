// One cell of a list (see TableList).
import QtQuick
import QtQuick.Controls

SwipeDelegate {
    id: cell
    property var entryModel
    property var list
    readonly property var m: entryModel
    readonly property bool editing: list.editing
    readonly property int indentWidth: m.indentation * 10
    property bool confirmingDelete: false
    property real dragOffset: 0

    width: list.width
    height: list.cellHeight
    enabled: m.enabled
    padding: 0
    leftPadding: 0
    rightPadding: 0
    z: dragOffset !== 0 ? 10 : 0
    transform: Translate { y: cell.dragOffset }
    swipe.enabled: m.canDelete && !editing
    focusPolicy: Qt.NoFocus

    Accessible.role: Accessible.ListItem
    Accessible.name: m.accessibleName
    Accessible.description: m.detail
    Accessible.checkable: m.accessory === 2
    Accessible.checked: m.accessory === 2
    Accessible.onPressAction: cell.clicked()

    onEditingChanged: confirmingDelete = false

    // A half-done delete belongs to the row it was begun on: a cell taken up for another
    // row, or a row refilled in place, starts closed.
    function forgetDelete() {
        confirmingDelete = false
        dragOffset = 0
        swipe.close()
    }
    onClicked: {
        if (swipe.position !== 0) {
            swipe.close()
            return
        }
        if (confirmingDelete) {
            confirmingDelete = false
            return
        }
        if (!editing && m.accessory !== 3)
            list.controller.tapRow(m.section, m.row)
    }

    background: Rectangle {
        color: cell.down && !cell.editing ? Qt.rgba(0.5, 0.5, 0.5, 0.25)
                                          : (list.table && list.table.grouped ? "white" : "transparent")
        Rectangle {
            anchors { left: parent.left; right: parent.right; bottom: parent.bottom; leftMargin: 15 + cell.indentWidth }
            height: 1
            color: list.separatorColor
            visible: !cell.m.lastInSection || !(list.table && list.table.grouped)
        }
    }

    contentItem: Item {
        // Edit mode: the delete control; its first tap asks, the Delete button confirms.
        AbstractButton {
            id: deleteControl
            objectName: "deleteControl"
            visible: cell.editing && cell.m.canDelete
            Accessible.ignored: !visible
            width: visible ? 44 : 0
            height: parent.height
            x: 4
            Accessible.role: Accessible.Button
            Accessible.name: qsTr("Delete %1").arg(cell.m.accessibleName)
            onClicked: cell.confirmingDelete = !cell.confirmingDelete
            contentItem: Icon {
                anchors.centerIn: parent
                width: 24; height: 24
                name: "delete-circle"
                tint: "#ff3b30"
                rotation: cell.confirmingDelete ? -90 : 0
                Behavior on rotation { NumberAnimation { duration: ui.animations ? 150 : 0 } }
            }
        }
        Icon {
            id: image
            visible: cell.m.image !== ""
            x: deleteControl.x + deleteControl.width + 12 + cell.indentWidth
            anchors.verticalCenter: parent.verticalCenter
            width: visible ? Math.min(30, cell.height - 12) : 0
            height: width
            name: cell.m.image
            tint: cell.m.imageTint
        }
        Column {
            id: texts
            anchors.verticalCenter: parent.verticalCenter
            x: image.visible ? image.x + image.width + 12 : deleteControl.x + deleteControl.width + 12 + cell.indentWidth
            width: (rightSide.x - 8) - x
            spacing: 2
            Text {
                width: parent.width
                text: cell.m.title
                horizontalAlignment: cell.m.centered ? Text.AlignHCenter : Text.AlignLeft
                elide: Text.ElideMiddle
                color: cell.m.titleColor !== undefined ? cell.m.titleColor : cell.list.titleColor
                opacity: cell.enabled ? 1 : 0.4
                font.pixelSize: cell.m.titleSize > 0 ? cell.m.titleSize : 17
                font.bold: cell.m.bold
                Accessible.ignored: true
            }
            Text {
                width: parent.width
                visible: cell.m.cellStyle === 1 && cell.m.detail !== ""
                text: visible ? cell.m.detail : ""
                elide: Text.ElideMiddle
                color: cell.m.detailColor !== undefined ? cell.m.detailColor : cell.list.detailColor
                opacity: cell.enabled ? 1 : 0.4
                font.pixelSize: 13
                Accessible.ignored: true
            }
        }
        Row {
            id: rightSide
            anchors { right: parent.right; rightMargin: 10; verticalCenter: parent.verticalCenter }
            spacing: 8
            layoutDirection: Qt.LeftToRight
            Text {
                visible: cell.m.cellStyle === 2 && cell.m.detail !== ""
                anchors.verticalCenter: parent.verticalCenter
                text: visible ? cell.m.detail : ""
                width: Math.min(implicitWidth, cell.width * 0.45)
                elide: Text.ElideMiddle
                color: cell.m.detailColor !== undefined ? cell.m.detailColor : cell.list.detailColor
                font.pixelSize: 16
                Accessible.ignored: true
            }
            Icon {
                visible: cell.m.marker !== ""
                anchors.verticalCenter: parent.verticalCenter
                width: visible ? 22 : 0; height: 22
                name: cell.m.marker
                tint: cell.m.markerTint
            }
            Icon {
                visible: cell.m.accessory === 1 && !cell.editing
                anchors.verticalCenter: parent.verticalCenter
                width: visible ? 14 : 0; height: 20
                name: "chevron"
                tint: "#c7c7cc"
            }
            Icon {
                visible: cell.m.accessory === 2
                anchors.verticalCenter: parent.verticalCenter
                width: visible ? 20 : 0; height: 20
                name: "checkmark"
                tint: "#007aff"
            }
            Switch {
                id: toggle
                objectName: "switch"
                visible: cell.m.accessory === 3
                Accessible.ignored: !visible
                anchors.verticalCenter: parent.verticalCenter
                checked: cell.m.switchOn
                enabled: cell.enabled
                Accessible.name: cell.m.accessibleName
                onToggled: cell.list.controller.setRowSwitch(cell.m.section, cell.m.row, checked)
            }
            AbstractButton {
                id: confirmButton
                objectName: "deleteButton"
                visible: cell.confirmingDelete && cell.editing
                Accessible.ignored: !visible
                anchors.verticalCenter: parent.verticalCenter
                width: visible ? 76 : 0
                height: 36
                Accessible.role: Accessible.Button
                Accessible.name: qsTr("Delete")
                onClicked: {
                    cell.confirmingDelete = false
                    cell.list.controller.deleteRow(cell.m.section, cell.m.row)
                }
                background: Rectangle { color: "#ff3b30"; radius: 6 }
                contentItem: Text { text: qsTr("Delete"); color: "white"; font.pixelSize: 15; font.bold: true
                                    horizontalAlignment: Text.AlignHCenter; verticalAlignment: Text.AlignVCenter }
            }
            // Edit mode: a grip that drags the row to another place.
            Item {
                id: grip
                objectName: "moveHandle"
                visible: cell.editing && cell.m.canMove
                Accessible.ignored: !visible
                width: visible ? 44 : 0
                height: cell.height
                Accessible.role: Accessible.Button
                Accessible.name: qsTr("Move %1").arg(cell.m.accessibleName)
                Icon { anchors.centerIn: parent; width: 22; height: 22; name: "reorder"; tint: "#8e8e93" }
                MouseArea {
                    anchors.fill: parent
                    property real startY: 0
                    preventStealing: true
                    onPressed: (mouse) => { startY = mapToItem(cell.list, 0, mouse.y).y }
                    onPositionChanged: (mouse) => { cell.dragOffset = mapToItem(cell.list, 0, mouse.y).y - startY }
                    onReleased: {
                        const steps = Math.round(cell.dragOffset / cell.height)
                        cell.dragOffset = 0
                        const rows = cell.list.table.sectionRows(cell.m.section)
                        const to = Math.max(0, Math.min(rows - 1, cell.m.row + steps))
                        if (to !== cell.m.row)
                            cell.list.controller.moveRow(cell.m.section, cell.m.row, to)
                    }
                    onCanceled: cell.dragOffset = 0
                }
            }
        }
    }

    swipe.right: Rectangle {
        width: 88
        height: cell.height
        anchors.right: parent.right
        color: "#ff3b30"
        AbstractButton {
            objectName: "swipeDeleteButton"
            anchors.fill: parent
            Accessible.ignored: !cell.swipe.complete
            Accessible.role: Accessible.Button
            Accessible.name: qsTr("Delete")
            onClicked: {
                cell.swipe.close()
                cell.list.controller.deleteRow(cell.m.section, cell.m.row)
            }
            contentItem: Text { text: qsTr("Delete"); color: "white"; font.pixelSize: 15; font.bold: true
                                horizontalAlignment: Text.AlignHCenter; verticalAlignment: Text.AlignVCenter }
        }
    }
}
