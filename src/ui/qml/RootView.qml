// The main play list: the theme's background, the list inset by the theme, and the
// button panel over the list's top edge (play/pause, play mode, edit, add).
import QtQuick
import QtQuick.Controls

Item {
    id: root
    property var controller
    readonly property var theme: controller ? controller.theme : null
    readonly property color buttonTint: theme ? theme.subtitleColor : "gray"
    readonly property int panelHeight: 44

    onWidthChanged: if (theme) theme.portrait = height >= width
    onHeightChanged: if (theme) theme.portrait = height >= width

    Rectangle {
        anchors.fill: parent
        color: root.theme ? root.theme.backgroundColor : "black"
    }
    Image {
        anchors.fill: parent
        source: root.theme ? root.theme.backgroundImage : ""
        fillMode: Image.PreserveAspectCrop
        visible: source != ""
        asynchronous: true
        Accessible.ignored: true
    }

    Rectangle {
        x: list.x
        y: list.y
        width: list.width
        height: list.height
        color: root.controller ? root.controller.listBackgroundColor : "white"
    }
    TableList {
        id: list
        objectName: "playList"
        controller: root.controller
        x: root.theme ? root.theme.insetLeft : 0
        y: 0
        width: root.width - x - (root.theme ? root.theme.insetRight : 0)
        height: root.height - (root.theme ? root.theme.insetBottom : 0)
        topMargin: (root.theme ? root.theme.insetTop : 0) + root.panelHeight
    }

    Item {
        id: panel
        objectName: "buttonPanel"
        x: root.theme ? root.theme.insetLeft : 0
        y: 0
        width: root.width - x
        height: root.panelHeight

        Icon {
            anchors.fill: parent
            name: "ButtonPanelBackground"
            tint: root.controller ? root.controller.listBackgroundColor : "white"
            fillMode: Image.Stretch
        }

        component PanelButton: AbstractButton {
            property string iconName
            width: 80
            height: 44
            focusPolicy: Qt.NoFocus
            Accessible.role: Accessible.Button
            background: Rectangle { color: parent.down ? Qt.rgba(0.5, 0.5, 0.5, 0.25) : "transparent"; radius: 4 }
            contentItem: Item {
                Icon {
                    anchors.centerIn: parent
                    width: 28; height: 28
                    name: parent.parent.iconName
                    tint: root.buttonTint
                }
            }
        }

        PanelButton {
            objectName: "playPauseButton"
            x: 0
            iconName: root.controller ? root.controller.playPauseImage : "play-small"
            Accessible.name: qsTr("Pause or Play")
            Accessible.onPressAction: clicked()
            onClicked: root.controller.togglePlayPause()
        }
        PanelButton {
            objectName: "playModeButton"
            x: 80
            iconName: root.controller ? root.controller.playModeImage : "loopnot"
            Accessible.name: root.controller ? root.controller.playModeName : ""
            Accessible.description: qsTr("Toggle play mode")
            Accessible.onPressAction: clicked()
            onClicked: root.controller.togglePlayMode()
        }
        PanelButton {
            objectName: "editButton"
            x: 160
            iconName: "minus"
            checkable: false
            Accessible.name: qsTr("Edit")
            Accessible.checkable: true
            Accessible.checked: root.controller ? root.controller.editing : false
            Accessible.onPressAction: clicked()
            onClicked: root.controller.toggleEdit()
            Rectangle {
                anchors { left: parent.left; right: parent.right; bottom: parent.bottom; margins: 10 }
                height: 3
                radius: 1.5
                color: root.buttonTint
                visible: root.controller ? root.controller.editing : false
            }
        }
        PanelButton {
            objectName: "addButton"
            x: 240
            iconName: "add"
            visible: root.controller ? root.controller.addVisible : false
            Accessible.name: qsTr("Show items to add")
            Accessible.onPressAction: clicked()
            onClicked: root.controller.addItem()
        }
    }

    Text {
        objectName: "emptyText"
        anchors.centerIn: parent
        width: parent.width - 48
        visible: list.count === 0 && !!root.controller && root.controller.libraryLoaded
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
        color: root.theme ? root.theme.subtitleColor : "gray"
        font.pixelSize: 16
        text: qsTr("No music here yet")
    }
}
