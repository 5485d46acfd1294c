import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Asked before a file's proxies come into a list that holds some already:
// add them to it, or put them in its place.
Popup {
    id: choice
    objectName: "importChoice"

    property string text   // what the file holds
    property string source // the file's name
    property int listCount

    signal chosen(bool append)

    function ask(fileText, fileName, count) {
        text = fileText
        source = fileName
        listCount = count
        open()
        addButton.forceActiveFocus(Qt.TabFocusReason)
    }

    modal: true
    focus: true
    anchors.centerIn: Overlay.overlay
    width: Math.min(380, parent ? parent.width - 20 : 380)
    padding: 16
    closePolicy: Popup.CloseOnEscape
    background: Rectangle { radius: 10; color: "#FFFFFF"; border.color: "#BDBDBD" }

    ColumnLayout {
        width: parent.width
        Accessible.role: Accessible.Dialog
        Accessible.name: "Import " + choice.source
        spacing: 12

        Text {
            Layout.fillWidth: true
            text: "The list holds " + choice.listCount + (choice.listCount === 1 ? " proxy" : " proxies")
                  + ". Add the proxies of " + choice.source + " to it, or replace it with them?"
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font.pixelSize: 14
            color: "#333333"
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            StyledButton {
                id: addButton
                text: "Add to list"
                font.pixelSize: 13
                Layout.fillWidth: true
                onClicked: { choice.close(); choice.chosen(true) }
            }
            StyledButton {
                text: "Replace list"
                font.pixelSize: 13
                Layout.fillWidth: true
                onClicked: { choice.close(); choice.chosen(false) }
            }
            StyledButton {
                text: "Cancel"
                font.pixelSize: 13
                Layout.fillWidth: true
                onClicked: choice.close()
            }
        }
    }
}
