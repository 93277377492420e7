// One bar button of a navigation bar or toolbar: an icon or a text, at least 44 pixels
// wide for a finger, named for screen readers; or a light grey label that is no button.
import QtQuick
import QtQuick.Controls

AbstractButton {
    id: root
    property var button
    property color textColor: "white"
    readonly property bool isLabel: !!button && button.label

    objectName: button ? button.name : ""
    visible: !!button
    Accessible.ignored: !visible
    enabled: !!button && button.enabled && !isLabel
    implicitHeight: 44
    implicitWidth: button && button.text !== "" && button.image === ""
                   ? Math.max(44, label.implicitWidth + 20) : 44
    focusPolicy: Qt.NoFocus

    Accessible.role: isLabel ? Accessible.StaticText : Accessible.Button
    Accessible.name: button ? (button.accessibleName !== "" ? button.accessibleName : button.text) : ""
    Accessible.onPressAction: if (button) button.trigger()

    onClicked: if (button) button.trigger()

    background: Rectangle {
        radius: 6
        color: root.down ? Qt.rgba(1, 1, 1, 0.18) : "transparent"
    }
    contentItem: Item {
        Icon {
            anchors.centerIn: parent
            width: 26
            height: 26
            visible: root.button && root.button.image !== ""
            name: root.button ? root.button.image : ""
            tint: root.button ? root.button.tint : undefined
            opacity: root.enabled ? 1 : 0.4
        }
        Text {
            id: label
            anchors.centerIn: parent
            width: Math.min(implicitWidth, Math.max(0, root.width - 12))
            elide: Text.ElideMiddle
            visible: root.button && root.button.image === ""
            text: root.button ? root.button.text : ""
            color: root.isLabel ? Qt.rgba(0.8, 0.8, 0.8, 1) : root.textColor
            opacity: root.enabled || root.isLabel ? 1 : 0.4
            font.pixelSize: 16
            font.bold: root.button ? root.button.done : false
        }
    }
}
