// A screen that is one list (menus, choosers, settings).
import QtQuick

Rectangle {
    id: screen
    property var controller
    color: controller ? controller.listBackgroundColor : "white"

    TableList {
        objectName: "table"
        anchors.fill: parent
        controller: screen.controller
    }
}
