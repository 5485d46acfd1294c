import QtQuick
import QtQuick.Controls

// A check box of the run strip: a green box with a tick, its label beside it.
CheckBox {
    id: box
    Accessible.name: text
    Accessible.ignored: !visible
    Accessible.onPressAction: Qt.callLater(toggle)
    Accessible.onToggleAction: Qt.callLater(toggle)
    font.pixelSize: 13
    padding: 2
    spacing: 6
    indicator: Rectangle {
        x: box.leftPadding
        anchors.verticalCenter: parent.verticalCenter
        width: 18
        height: 18
        radius: 4
        color: box.checked ? "#4CAF50" : "#FFFFFF"
        border.color: box.checked ? "#4CAF50" : "#9E9E9E"
        border.width: 1
        FocusRing { shown: box.visualFocus }

        Text {
            anchors.centerIn: parent
            visible: box.checked
            text: "✓"
            color: "white"
            font.pixelSize: 13
            font.bold: true
            Accessible.ignored: true
        }
    }
    contentItem: Text {
        leftPadding: box.indicator.width + box.spacing
        text: box.text
        font: box.font
        color: "#333333"
        verticalAlignment: Text.AlignVCenter
        Accessible.ignored: true
    }
}
