import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A flat white button with a rounded border: what the list's and the strip's
// buttons look like. A screen reader's "Press" presses it, as Enter and Space
// do, once the reader's call has returned (every button of the window does
// so): a slow press, such as a file dialog opening, never keeps it waiting.
Button {
    id: btn
    property string btnColor: "#FFFFFF"
    property string btnPressedColor: "#E0E0E0"
    property string txtColor: "#333333"
    property int borderWidth: 1

    Layout.preferredHeight: 40
    Layout.preferredWidth: 1 // a row of them shares its width evenly
    padding: 0
    leftPadding: 8
    rightPadding: 8
    font.pixelSize: 14
    font.bold: true
    Accessible.name: text
    Accessible.ignored: !visible
    Accessible.onPressAction: Qt.callLater(clicked)
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()
    background: Rectangle {
        color: btn.pressed ? btn.btnPressedColor : btn.btnColor
        border.color: btn.enabled ? "#BDBDBD" : "#E0E0E0"
        border.width: btn.borderWidth
        radius: 8
        FocusRing { shown: btn.visualFocus }
    }
    contentItem: Text {
        text: btn.text
        color: btn.enabled ? btn.txtColor : "#9E9E9E"
        font: btn.font
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
        Accessible.ignored: true
    }
}
