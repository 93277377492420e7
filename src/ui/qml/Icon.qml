// An icon of the bundle, drawn at the item's size in device pixels; tinted when `tint`
// is a colour, in its own colours when it is undefined.
import QtQuick
import QtQuick.Window

Image {
    id: icon
    property string name
    property var tint
    readonly property string tintHex: tint === undefined || tint === null ? "" : String(tint).substring(1)

    source: name === "" ? "" : "image://icon/" + name + (tintHex === "" ? "" : "?tint=" + tintHex)
    sourceSize.width: Math.max(1, Math.ceil(width * Screen.devicePixelRatio))
    sourceSize.height: Math.max(1, Math.ceil(height * Screen.devicePixelRatio))
    fillMode: Image.PreserveAspectFit
    smooth: true
    Accessible.ignored: true
}
