// The now-playing screen: the seek strip (times, position bar, step back), the artist,
// album and format lines over the cover (or the button that imports one), the lyrics strip
// when the track has an LRC file, and the transport panel with the output volume. Phone
// positions stretch with the window; a tablet gets the large cover.
import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import Lumenar

Item {
    id: root
    property var controller
    readonly property var theme: controller ? controller.theme : null
    readonly property bool tablet: controller ? controller.tablet : false
    readonly property int seekBarHeight: 50
    readonly property int panelHeight: 96
    readonly property int lyricsHeight: 60

    onWidthChanged: if (theme) theme.portrait = height >= width
    onHeightChanged: if (theme) theme.portrait = height >= width

    // The theme's picture when it has one, else its list colour.
    Rectangle {
        anchors.fill: parent
        color: root.theme ? root.theme.listBackgroundColor : "white"
        visible: background.source == ""
    }
    Image {
        id: background
        anchors.fill: parent
        source: root.theme ? root.theme.backgroundImage : ""
        fillMode: Image.PreserveAspectCrop
        visible: source != ""
        asynchronous: true
        Accessible.ignored: true
    }

    SeekBarPanelView {
        id: seekbar
        objectName: "seekBar"
        x: 0
        y: 0
        z: 2
        width: root.width
        height: root.seekBarHeight

        Text {
            objectName: "elapsedLabel"
            x: 6
            y: 0
            width: 80
            height: 20
            verticalAlignment: Text.AlignVCenter
            color: "white"
            font.pixelSize: 12
            text: root.controller ? root.controller.elapsedText : ""
            Accessible.role: Accessible.StaticText
            Accessible.name: qsTr("Elapsed %1").arg(text)
        }
        Text {
            objectName: "remainingLabel"
            x: slider.width - 85
            y: 0
            width: 80
            height: 20
            horizontalAlignment: Text.AlignRight
            verticalAlignment: Text.AlignVCenter
            color: "white"
            font.pixelSize: 12
            text: root.controller ? root.controller.remainingText : ""
            Accessible.role: Accessible.StaticText
            Accessible.name: qsTr("Remaining %1").arg(text.substring(1))
        }
        LMSlider {
            id: slider
            objectName: "seekSlider"
            x: 0
            y: 15
            width: seekbar.width - 50
            height: 30
            value: root.controller ? root.controller.progress : 0
            totalTime: root.controller ? root.controller.totalSeconds : 0
            listening: root.controller ? root.controller.seekListening : false
            onSeekEnded: root.controller.endSeeking(value)
            Accessible.role: Accessible.Slider
            Accessible.name: qsTr("Seek bar")
            Accessible.description: root.controller ? root.controller.elapsedText : ""
            Accessible.onIncreaseAction: accessibilityIncrement()
            Accessible.onDecreaseAction: accessibilityDecrement()
        }
        AbstractButton {
            id: stepBack
            objectName: "stepBackButton"
            x: seekbar.width - 48
            y: 3
            width: 44
            height: 44
            focusPolicy: Qt.NoFocus
            Accessible.role: Accessible.Button
            Accessible.name: qsTr("Back %1 seconds").arg(root.controller ? root.controller.backStep : 30)
            Accessible.onPressAction: clicked()
            onClicked: root.controller.playBack()
            background: Icon {
                name: "rewind"
                tint: stepBack.down ? "#c0c0c0" : "#808080"
            }
            contentItem: Text {
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                topPadding: 2
                text: root.controller ? root.controller.backStep : ""
                color: Qt.rgba(0.8, 0.8, 0, 1)
                font.pixelSize: 10
                font.bold: true
            }
        }
    }

    Item {
        id: container
        objectName: "coverContainer"
        anchors { left: parent.left; right: parent.right; top: seekbar.bottom; bottom: panel.top }
        readonly property real coverTop: mediaInfo.y + mediaInfo.height + (root.tablet ? 16 : 6)
        readonly property real coverBottom: (lyrics.active ? lyrics.y - container.y : height) - 8
        readonly property real coverSide: Math.max(0, Math.min(root.tablet ? 640 : 300, width - 20,
                                                               coverBottom - coverTop))
        // The cover sits in the middle of the room between the lines and the lyrics.
        readonly property real coverY: coverTop + Math.max(0, (coverBottom - coverTop - coverSide) / 2)

        Text {
            id: artist
            objectName: "artistLabel"
            x: 10
            y: root.tablet ? 40 : 22
            width: container.width - 20
            height: 30
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
            color: root.theme ? root.theme.titleColor : "black"
            font.pixelSize: root.tablet ? 22 : 18
            font.bold: true
            text: root.controller ? root.controller.artist : ""
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        Text {
            id: album
            objectName: "albumLabel"
            x: 10
            y: artist.y + 35
            width: container.width - 20
            height: 25
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
            color: root.theme ? root.theme.subtitleColor : "gray"
            font.pixelSize: 16
            text: root.controller ? root.controller.album : ""
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        Text {
            id: mediaInfo
            objectName: "mediaInfoLabel"
            x: 10
            y: artist.y + 60
            width: container.width - 20
            height: 30
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
            color: root.theme ? root.theme.subtitleColor : "gray"
            font.pixelSize: 16
            text: root.controller ? root.controller.mediaInfo : ""
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        // Under the cover: shows (and takes taps) only while there is no picture.
        AbstractButton {
            id: importButton
            objectName: "importButton"
            width: 32
            height: 32
            x: (container.width - width) / 2
            y: container.coverY + (container.coverSide - height) / 2
            focusPolicy: Qt.NoFocus
            Accessible.ignored: true
            onClicked: root.controller.importCoverImage()
            background: Rectangle {
                radius: 6
                color: importButton.down ? Qt.rgba(0.5, 0.5, 0.5, 0.3) : "transparent"
            }
            contentItem: Icon {
                name: "import-image"
                tint: root.theme ? root.theme.subtitleColor : "gray"
            }
        }

        ImagePreview {
            id: cover
            objectName: "coverView"
            property real dragOffset: 0
            width: container.coverSide
            height: container.coverSide
            x: (container.width - width) / 2 + dragOffset
            y: container.coverY
            image: root.controller ? root.controller.cover : undefined
            opacity: root.controller && root.controller.hasCover ? 1 : 0
            visible: opacity > 0
            Accessible.role: Accessible.Graphic
            Accessible.name: qsTr("Cover Art")

            NumberAnimation {
                id: springBack
                target: cover
                property: "dragOffset"
                to: 0
                duration: ui.animations ? 300 : 0
                easing.type: Easing.OutQuad
            }
            // The cover follows a sideways drag and slides back to the middle.
            MouseArea {
                anchors.fill: parent
                property real startX: 0
                property real startOffset: 0
                preventStealing: true
                onPressed: (mouse) => {
                    springBack.stop()
                    startX = mapToItem(container, mouse.x, 0).x
                    startOffset = cover.dragOffset
                }
                onPositionChanged: (mouse) => {
                    cover.dragOffset = startOffset + mapToItem(container, mouse.x, 0).x - startX
                }
                onReleased: springBack.restart()
                onCanceled: springBack.restart()
            }
        }
    }

    Loader {
        id: lyrics
        objectName: "lyricsStrip"
        x: 0
        y: panel.y - root.lyricsHeight
        width: root.width
        height: root.lyricsHeight
        active: false
        sourceComponent: LRCView {
            objectName: "lyricsView"
            file: root.controller ? root.controller.lyricsPath : ""
            textColor: root.theme ? root.theme.titleColor : "black"
            themeBackgroundColor: root.theme ? root.theme.listBackgroundColor : "transparent"
            font.pixelSize: root.tablet ? 20 : 16
            animated: ui.animations
            currentTime: root.controller ? root.controller.lyricsTime : 0
            Accessible.role: Accessible.StaticText
            Accessible.name: qsTr("lyrics")
            Accessible.description: currentText
            Accessible.onPressAction: toggleBackground()
        }
        function rebuild() {
            active = false
            active = !!root.controller && root.controller.lyricsPath !== ""
        }
    }

    Item {
        id: panel
        objectName: "controlPanel"
        x: 0
        y: root.height - height
        width: root.width
        height: root.panelHeight
        readonly property real gap: (width - 230) / 2

        Rectangle {
            anchors.fill: parent
            color: "black"
            visible: !root.tablet
        }
        Icon {
            anchors.fill: parent
            name: root.tablet ? "volpanel~ipad" : "volpanel"
            fillMode: Image.Stretch
        }

        component TransportButton: AbstractButton {
            property string iconName
            width: 44
            height: 44
            y: 8
            focusPolicy: Qt.NoFocus
            Accessible.role: Accessible.Button
            Accessible.onPressAction: clicked()
            background: Item {}
            contentItem: Icon {
                name: parent.iconName
                opacity: parent.down ? 0.6 : 1
            }
        }

        TransportButton {
            objectName: "previousButton"
            x: panel.gap
            iconName: "backward"
            Accessible.name: qsTr("Previous track")
            onClicked: root.controller.prev()
        }
        TransportButton {
            objectName: "playButton"
            x: panel.width / 2 - width / 2
            iconName: root.controller ? root.controller.playImage : "play"
            Accessible.name: root.controller && root.controller.playing ? qsTr("Pause") : qsTr("Play")
            onClicked: root.controller.togglePlay()
        }
        TransportButton {
            objectName: "nextButton"
            x: panel.width - panel.gap - width
            iconName: "forward"
            Accessible.name: qsTr("Next track")
            onClicked: root.controller.next()
        }

        Slider {
            id: volume
            objectName: "volumeSlider"
            x: 40
            y: 58
            width: panel.width - 80
            height: 32
            from: 0
            to: 1
            value: root.controller ? root.controller.volume : 1
            focusPolicy: Qt.NoFocus
            onMoved: root.controller.volume = value
            Accessible.name: qsTr("Volume")
            background: Item {
                x: volume.leftPadding
                y: volume.topPadding + volume.availableHeight / 2 - height / 2
                width: volume.availableWidth
                height: 4
                Rectangle {
                    anchors.fill: parent
                    radius: 2
                    color: "#5a5a60"
                }
                Rectangle {
                    width: volume.visualPosition * parent.width
                    height: parent.height
                    radius: 2
                    color: "#e8e8ec"
                }
            }
            handle: Rectangle {
                x: volume.leftPadding + volume.visualPosition * (volume.availableWidth - width)
                y: volume.topPadding + volume.availableHeight / 2 - height / 2
                width: 22
                height: 22
                radius: 11
                color: volume.pressed ? "#d8d8dc" : "#fafafa"
                border.color: "#202024"
            }
        }
    }

    FileDialog {
        id: picker
        objectName: "coverPicker"
        title: qsTr("Choose a Cover")
        currentFolder: root.controller ? root.controller.picturesFolder : ""
        nameFilters: [qsTr("Pictures (*.jpg *.jpeg *.png *.bmp *.gif *.tif *.tiff *.webp)")]
        options: FileDialog.ReadOnly | FileDialog.DontUseNativeDialog
        onAccepted: root.controller.imageFilePicked(selectedFile)
        onRejected: root.controller.imagePickCancelled()
    }

    Connections {
        target: root.controller
        function onLyricsChanged() { lyrics.rebuild() }
        function onImagePickerRequested() {
            picker.open()
            root.controller.placePickerAt(importButton)
        }
    }
    Component.onCompleted: lyrics.rebuild()
    // The dialog's popup belongs to the window: it must not outlive the screen.
    Component.onDestruction: picker.close()
}
