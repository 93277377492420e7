// The front alert of the alert center: title, message, an optional text field and its
// buttons. The rest of the window stays alive behind it.
import QtQuick
import QtQuick.Controls

Popup {
    id: alertLayer
    property var center
    readonly property var alert: center ? center.current : null

    parent: Overlay.overlay
    modal: true
    dim: true
    closePolicy: Popup.NoAutoClose
    visible: !!alert
    anchors.centerIn: parent
    width: Math.min(300, parent ? parent.width - 40 : 300)
    padding: 0
    focus: true

    onAlertChanged: if (alert && alert.hasTextField) Qt.callLater(function() { field.forceActiveFocus() })

    background: Rectangle { objectName: "alert"; color: "#f2f2f7"; radius: 14 }
    contentItem: Column {
        width: alertLayer.width
        spacing: 0
        Item { width: 1; height: 18 }
        Text {
            objectName: "alertTitle"
            width: parent.width - 32
            x: 16
            text: alertLayer.alert ? alertLayer.alert.title : ""
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            font.pixelSize: 17
            font.bold: true
            color: "black"
            Accessible.role: Accessible.Heading
            Accessible.name: text
        }
        Text {
            objectName: "alertMessage"
            width: parent.width - 32
            x: 16
            visible: text.trim() !== ""
            text: alertLayer.alert ? alertLayer.alert.message : ""
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            font.pixelSize: 14
            color: "black"
            topPadding: 4
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        Item { width: 1; height: 12 }
        TextField {
            id: field
            objectName: "alertTextField"
            visible: alertLayer.alert ? alertLayer.alert.hasTextField : false
            Accessible.ignored: !visible
            x: 16
            width: parent.width - 32
            height: visible ? 40 : 0
            text: alertLayer.alert ? alertLayer.alert.enteredText : ""
            onTextEdited: if (alertLayer.alert) alertLayer.alert.enteredText = text
            onAccepted: if (alertLayer.alert) alertLayer.alert.answer(alertLayer.alert.buttons.length - 1)
            background: Rectangle { color: "white"; border.color: "#c7c7cc"; radius: 6 }
            Accessible.name: alertLayer.alert ? alertLayer.alert.title : ""
        }
        Item { width: 1; height: field.visible ? 12 : 0 }
        Rectangle { width: parent.width; height: 1; color: "#c7c7cc" }
        Row {
            width: parent.width
            height: 48
            Repeater {
                model: alertLayer.alert ? alertLayer.alert.buttons : []
                delegate: AbstractButton {
                    required property string modelData
                    required property int index
                    objectName: "alertButton" + index
                    width: alertLayer.width / Math.max(1, alertLayer.alert ? alertLayer.alert.buttons.length : 1)
                    height: 48
                    Accessible.role: Accessible.Button
                    Accessible.name: modelData
                    Accessible.onPressAction: clicked()
                    onClicked: alertLayer.alert.answer(index)
                    background: Rectangle {
                        color: parent.down ? "#d1d1d6" : "transparent"
                        radius: 14
                        Rectangle { width: 1; height: parent.height; color: "#c7c7cc"; visible: index > 0 }
                    }
                    contentItem: Text {
                        text: modelData
                        color: "#007aff"
                        font.pixelSize: 17
                        font.bold: index > 0 || (!!alertLayer.alert && alertLayer.alert.buttons.length === 1)
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                    }
                }
            }
        }
    }
}
