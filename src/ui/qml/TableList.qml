// A list screen's list: the controller's TableModel drawn as sections of cells (styles
// default, subtitle and value1; checkmark, disclosure and switch accessories; images,
// indentation, middle elision). Edit mode shows a delete control on deletable rows and a
// grip on movable ones; outside edit mode a deletable row swipes open to its Delete
// button. Every delete takes two steps.
import QtQuick
import QtQuick.Controls

ListView {
    id: listView
    property var controller
    property var table: controller ? controller.table : null
    property int cellHeight: controller ? controller.rowHeight : 44
    property color titleColor: controller ? controller.titleColor : "black"
    property color detailColor: controller ? controller.detailColor : "gray"
    property color separatorColor: controller ? controller.separatorColor : "#c8c7cc"
    readonly property bool editing: table ? table.editing : false

    model: table
    clip: true
    boundsBehavior: Flickable.DragAndOvershootBounds
    reuseItems: true
    cacheBuffer: cellHeight * 4
    Accessible.role: Accessible.List
    Accessible.name: controller ? controller.title : ""

    ScrollIndicator.vertical: ScrollIndicator { visible: listView.controller ? listView.controller.scrollIndicator : true }

    NumberAnimation {
        id: scrollAnimation
        target: listView
        property: "contentY"
        duration: 250
        easing.type: Easing.InOutQuad
    }

    function centerOn(index, animated) {
        if (index < 0 || index >= count)
            return
        const from = contentY
        positionViewAtIndex(index, ListView.Center)
        const to = contentY
        if (animated && ui.animations && Math.abs(to - from) > 1) {
            contentY = from
            scrollAnimation.from = from
            scrollAnimation.to = to
            scrollAnimation.restart()
        }
    }

    Connections {
        target: listView.table
        function onCenterRequested(index, animated) { listView.centerOn(index, animated) }
    }

    delegate: Item {
        id: entry
        required property var model
        required property int index
        readonly property int kind: model.kind
        width: ListView.view ? ListView.view.width : 0
        height: kind === 1 ? listView.cellHeight
                           : (kind === 0 ? (model.title !== "" ? 44 : (listView.table && listView.table.grouped ? 22 : 0))
                                         : footerText.implicitHeight + 16)
        objectName: kind === 1 ? "cell_" + model.section + "_" + model.row : ""
        ListView.onReused: if (cellLoader.item) cellLoader.item.forgetDelete()

        // Header of a section.
        Text {
            visible: entry.kind === 0 && text !== ""
            anchors { left: parent.left; right: parent.right; bottom: parent.bottom; leftMargin: 16; rightMargin: 16; bottomMargin: 6 }
            text: entry.kind === 0 ? entry.model.title : ""
            color: listView.detailColor
            font.pixelSize: 13
            font.capitalization: listView.table && !listView.table.uppercaseHeaders ? Font.MixedCase : Font.AllUppercase
            elide: Text.ElideRight
            Accessible.role: Accessible.Heading
            Accessible.name: text
            Accessible.ignored: !visible
        }
        // Footer of a section.
        Text {
            id: footerText
            visible: entry.kind === 2
            anchors { left: parent.left; right: parent.right; top: parent.top; leftMargin: 16; rightMargin: 16; topMargin: 8 }
            text: entry.kind === 2 ? entry.model.title : ""
            wrapMode: Text.Wrap
            color: listView.detailColor
            font.pixelSize: 13
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Accessible.ignored: !visible
        }

        Loader {
            id: cellLoader
            anchors.fill: parent
            active: entry.kind === 1
            sourceComponent: TableCell {
                entryModel: entry.model
                list: listView
            }
        }
    }
}
