// The application window: the root navigation stack with the main play list, the
// presented stacks above it, and the alert in front.
import QtQuick
import QtQuick.Controls
import QtQuick.Window

Window {
    id: window
    objectName: "mainWindow"
    width: ui.tablet ? 768 : 360
    height: ui.tablet ? 1024 : 720
    minimumWidth: 320
    minimumHeight: 400
    color: "black"
    title: "Lumenar"

    Item {
        id: content
        objectName: "windowContent"
        anchors.fill: parent

        NavigationView {
            objectName: "rootNavigation"
            anchors.fill: parent
            navigation: ui.rootNavigation
        }
        Repeater {
            model: ui.presenter.presentations
            delegate: PresentationFrame {
                required property var modelData
                presentation: modelData
                windowContent: content
            }
        }
    }

    AlertLayer {
        center: ui.alerts
    }

    // Announcements for screen readers: an alert-role object that shows itself anew with
    // each text, which screen readers speak as it appears.
    Item {
        id: announcer
        objectName: "announcer"
        width: 1
        height: 1
        visible: false
        Accessible.role: Accessible.AlertMessage
        Accessible.name: ui.announcement
        Connections {
            target: ui
            function onAnnounced() {
                announcer.visible = false
                Qt.callLater(function() { announcer.visible = true })
            }
        }
    }

    readonly property bool typing: activeFocusItem !== null && activeFocusItem.hasOwnProperty("cursorPosition")
    Shortcut {
        sequence: "Space"
        enabled: !window.typing
        context: Qt.ApplicationShortcut
        onActivated: ui.togglePlayPause()
    }
    Shortcut {
        sequence: "Left"
        enabled: !window.typing
        context: Qt.ApplicationShortcut
        onActivated: ui.seekBy(-10)
    }
    Shortcut {
        sequence: "Right"
        enabled: !window.typing
        context: Qt.ApplicationShortcut
        onActivated: ui.seekBy(10)
    }
    Shortcut {
        sequence: "Ctrl+Q"
        context: Qt.ApplicationShortcut
        onActivated: Qt.quit()
    }
}
