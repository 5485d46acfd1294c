import QtQuick

// The keyboard's focus, drawn around its parent: a dark ring just outside it.
Rectangle {
    property bool shown: false

    anchors.fill: parent
    anchors.margins: -4
    radius: (parent && parent.radius !== undefined ? parent.radius : 0) + 4
    color: "transparent"
    border.color: "#0D47A1"
    border.width: 3
    visible: shown
}
