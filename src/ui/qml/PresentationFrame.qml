// One presented navigation stack: over the whole window (modal; flipped in for the
// organize menu on a phone), in a popover anchored to its button, or in a centred form
// sheet (tablet).
import QtQuick
import QtQuick.Controls

Item {
    id: frame
    property var presentation
    property Item windowContent
    readonly property int style: presentation ? presentation.style : 0
    readonly property bool covering: style === 0 || style === 1
    anchors.fill: parent

    function findItem(item, name) {
        if (!item)
            return null
        if (item.objectName === name && item.visible)
            return item
        const kids = item.children
        for (let i = 0; i < kids.length; i++) {
            const found = findItem(kids[i], name)
            if (found)
                return found
        }
        return null
    }

    // Modal over the whole window.
    Rectangle {
        id: modal
        objectName: "modalFrame"
        visible: frame.covering
        anchors.fill: parent
        color: "black"
        NavigationView {
            anchors.fill: parent
            navigation: frame.covering && frame.presentation ? frame.presentation.navigation : null
        }
        transform: Rotation {
            id: flip
            origin.x: modal.width / 2
            origin.y: modal.height / 2
            axis { x: 0; y: 1; z: 0 }
            angle: 0
        }
        NumberAnimation {
            id: flipIn
            target: flip
            property: "angle"
            from: 90
            to: 0
            duration: 300
            easing.type: Easing.OutCubic
        }
        NumberAnimation {
            id: slideIn
            target: modal
            property: "y"
            from: frame.height
            to: 0
            duration: 250
            easing.type: Easing.OutCubic
        }
    }

    Popup {
        id: popup
        parent: Overlay.overlay
        modal: frame.style === 3
        dim: frame.style === 3
        focus: true
        padding: 0
        width: frame.presentation ? Math.min(frame.presentation.size.width, frame.width - 16) : 0
        height: frame.presentation ? Math.min(frame.presentation.size.height, frame.height - 16) : 0
        closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
        background: Rectangle {
            objectName: "popoverFrame"
            // A soft shadow lifts the popover off the list below.
            Rectangle {
                z: -1
                anchors.fill: parent
                anchors.margins: -6
                radius: 16
                color: Qt.rgba(0, 0, 0, 0.18)
            }
            color: "black"
            radius: 10
            border.color: "#3a3a3c"
            border.width: 1
        }
        contentItem: Item {
            clip: true
            NavigationView {
                anchors.fill: parent
                anchors.margins: 1
                navigation: !frame.covering && frame.presentation ? frame.presentation.navigation : null
            }
        }
        onClosed: if (frame.presentation) frame.presentation.dismiss()

        function place() {
            if (frame.style === 3) {
                x = (parent.width - width) / 2
                y = (parent.height - height) / 2
                return
            }
            const anchor = frame.findItem(frame.windowContent, frame.presentation.anchorName)
            let ax = 8, ay = 52
            if (anchor) {
                const p = anchor.mapToItem(parent, 0, anchor.height)
                ax = p.x
                ay = p.y + 6
            }
            x = Math.max(8, Math.min(ax, parent.width - width - 8))
            y = Math.max(8, Math.min(ay, parent.height - height - 8))
        }
    }

    Component.onCompleted: {
        if (!presentation)
            return
        if (covering) {
            if (ui.animations) {
                if (style === 1)
                    flipIn.start()
                else
                    slideIn.start()
            }
        } else {
            popup.place()
            popup.open()
        }
    }
}
