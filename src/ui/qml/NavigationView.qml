// A navigation stack on screen: the black bar (back or left button, title or title
// button, right button), the screens in a StackView, and the toolbar of the top screen.
import QtQuick
import QtQuick.Controls

Item {
    id: root
    property var navigation
    readonly property var current: navigation ? navigation.top : null
    readonly property bool animate: ui.animations

    function viewFor(screen) { return screen.viewSource }

    Rectangle {
        id: bar
        objectName: "navigationBar"
        anchors { left: parent.left; right: parent.right; top: parent.top }
        height: 44
        color: "black"
        z: 2

        BarButtonView {
            id: backButton
            objectName: "backButton"
            anchors { left: parent.left; leftMargin: 4; verticalCenter: parent.verticalCenter }
            visible: !!root.navigation && root.navigation.depth > 1 && !!root.current && !root.current.leftButton
                     && !root.current.hidesBackButton
            button: null
            enabled: true  // it has no BarButton of its own
            implicitWidth: 44
            Accessible.name: qsTr("Back")
            onClicked: root.navigation.pop(root.animate)
            contentItem: Icon { name: "backbutton"; tint: "#ffffff"; width: 24; height: 24 }
        }
        BarButtonView {
            id: leftButton
            anchors { left: parent.left; leftMargin: 4; verticalCenter: parent.verticalCenter }
            button: root.current ? root.current.leftButton : null
        }
        BarButtonView {
            id: titleButton
            anchors.centerIn: parent
            button: root.current ? root.current.titleButton : null
            width: Math.min(implicitWidth, parent.width - 2 * Math.max(leftButton.width, rightButton.width, 44) - 16)
        }
        Text {
            id: titleText
            anchors.centerIn: parent
            width: parent.width - 2 * Math.max(leftButton.visible ? leftButton.width : 0,
                                               rightButton.visible ? rightButton.width : 0,
                                               backButton.visible ? backButton.width : 0) - 24
            visible: !titleButton.visible
            horizontalAlignment: Text.AlignHCenter
            elide: Text.ElideMiddle
            text: root.current ? root.current.title : ""
            color: "white"
            font.pixelSize: 17
            font.bold: true
            Accessible.role: Accessible.Heading
            Accessible.name: text
        }
        BarButtonView {
            id: rightButton
            anchors { right: parent.right; rightMargin: 4; verticalCenter: parent.verticalCenter }
            button: root.current ? root.current.rightButton : null
        }
    }

    StackView {
        id: stack
        anchors { left: parent.left; right: parent.right; top: bar.bottom; bottom: toolbar.top }
        clip: true
    }

    Toolbar {
        id: toolbar
        anchors { left: parent.left; right: parent.right; bottom: parent.bottom }
        items: root.current ? root.current.toolbarItems : []
        height: visible ? 44 : 0
    }

    Connections {
        target: root.navigation
        function onPushed(screen, animated) {
            stack.push(root.viewFor(screen), { controller: screen },
                       animated && root.animate ? StackView.PushTransition : StackView.Immediate)
        }
        function onPopped(count, animated) {
            const op = animated && root.animate ? StackView.PopTransition : StackView.Immediate
            if (count >= stack.depth - 1)
                stack.pop(null, op)
            else
                for (let i = 0; i < count; i++)
                    stack.pop(op)
        }
    }

    function rebuild() {
        stack.clear(StackView.Immediate)
        if (!navigation)
            return
        const screens = navigation.stackScreens()
        for (let i = 0; i < screens.length; i++)
            stack.push(viewFor(screens[i]), { controller: screens[i] }, StackView.Immediate)
    }
    onNavigationChanged: rebuild()
    Component.onCompleted: rebuild()
}
