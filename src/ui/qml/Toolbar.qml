// The black 44-pixel toolbar at the foot of a screen: its buttons left to right, flexible
// gaps sharing the free width.
import QtQuick
import QtQuick.Layouts

Rectangle {
    id: bar
    property var items: []
    color: "black"
    height: 44
    visible: items.length > 0

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 6
        anchors.rightMargin: 6
        spacing: 6
        Repeater {
            model: bar.items
            delegate: Item {
                required property var modelData
                Layout.fillWidth: modelData.flexibleSpace
                Layout.preferredWidth: modelData.flexibleSpace ? 1 : button.implicitWidth
                Layout.fillHeight: true
                BarButtonView {
                    id: button
                    anchors.fill: parent
                    visible: !parent.modelData.flexibleSpace
                    button: parent.modelData.flexibleSpace ? null : parent.modelData
                }
            }
        }
    }
}
