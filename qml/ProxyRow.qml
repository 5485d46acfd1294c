import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One proxy of the list editor: its host, its port, and Remove. A proxy that
// is not plain HTTP shows its type (and user) in a badge beside the host, and
// its whole entry but the port while the host is edited.
RowLayout {
    id: rowEditor

    required property int index
    required property var host
    required property var port
    required property var model
    property bool plain: true   // plain HTTP, no credentials: the host alone says it all
    property string editText    // what the host field shows while it is edited, when not plain
    readonly property string details: (model.type || "http").toUpperCase() + (model.user ? " · " + model.user : "")

    signal hostEdited(string text)
    signal portEdited(string text)
    signal removeClicked()

    // Gives the keyboard to the host field: a new row is edited at once.
    function edit() { hostField.forceActiveFocus(Qt.TabFocusReason) }

    spacing: 10

    TextField {
        id: hostField
        objectName: "hostField"
        Layout.fillWidth: true
        text: rowEditor.host ?? ""
        font.pixelSize: 14
        padding: 8
        rightPadding: badge.visible ? badge.width + 12 : 8
        Accessible.name: "Host"
        Accessible.description: rowEditor.plain ? "" : rowEditor.details
        background: Rectangle {
            color: "white"
            border.color: hostField.activeFocus ? "#2196F3" : "#BDBDBD"
            border.width: hostField.activeFocus ? 2 : 1
            radius: 8
        }
        onActiveFocusChanged: {
            if (activeFocus && !rowEditor.plain)
                text = rowEditor.editText
        }
        onEditingFinished: {
            rowEditor.hostEdited(text)
            text = Qt.binding(function() { return rowEditor.host ?? "" })
        }

        // The type, and the user when there is one, of a proxy
        // that is not plain HTTP.
        Rectangle {
            id: badge
            objectName: "typeBadge"
            visible: !rowEditor.plain && !hostField.activeFocus
            anchors.right: parent.right
            anchors.rightMargin: 6
            anchors.verticalCenter: parent.verticalCenter
            width: Math.min(badgeText.implicitWidth + 10, 110)
            height: badgeText.implicitHeight + 4
            radius: 4
            color: "#E3F2FD"
            Text {
                id: badgeText
                anchors.fill: parent
                anchors.leftMargin: 5
                anchors.rightMargin: 5
                text: rowEditor.details
                textFormat: Text.PlainText // the user name comes from files and the clipboard
                color: "#1565C0"
                font.pixelSize: 10
                font.bold: true
                elide: Text.ElideRight
                verticalAlignment: Text.AlignVCenter
            }
        }
    }

    TextField {
        id: portField
        objectName: "portField"
        Layout.preferredWidth: 80
        text: String(rowEditor.port ?? "")
        font.pixelSize: 14
        padding: 8
        validator: IntValidator { bottom: 1; top: 65535 }
        Accessible.name: "Port"
        background: Rectangle {
            color: "white"
            border.color: portField.activeFocus ? "#2196F3" : "#BDBDBD"
            border.width: portField.activeFocus ? 2 : 1
            radius: 8
        }
        onEditingFinished: rowEditor.portEdited(text)
    }

    Button {
        id: removeButton
        objectName: "removeButton"
        Layout.preferredWidth: 40
        Layout.preferredHeight: 40
        Accessible.name: "Remove " + (String(rowEditor.host).indexOf(":") >= 0 ? "[" + rowEditor.host + "]" : rowEditor.host) + ":" + rowEditor.port
        Accessible.onPressAction: Qt.callLater(clicked)
        background: Rectangle {
            color: removeButton.pressed ? "#FFCDD2" : "#FFEBEE"
            radius: 8
            FocusRing { shown: removeButton.visualFocus }
        }
        Keys.onReturnPressed: clicked()
        Keys.onEnterPressed: clicked()
        contentItem: Text {
            text: "✕"
            color: "#D32F2F"
            font.pixelSize: 18
            font.bold: true
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            Accessible.ignored: true
        }
        onClicked: rowEditor.removeClicked()
    }
}
