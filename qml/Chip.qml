import QtQuick

// One count of the run strip: "Alive: 3", in the colours of the cards it counts.
Rectangle {
    property string label
    property int count
    property color fill
    property color edge

    implicitWidth: chipText.implicitWidth + 14
    implicitHeight: 24
    radius: 12
    color: fill
    border.color: edge
    border.width: 1

    Text {
        id: chipText
        anchors.centerIn: parent
        text: parent.label + ": " + parent.count
        font.pixelSize: 12
        color: "#333333"
        Accessible.name: text
        Accessible.ignored: !visible
    }
}
