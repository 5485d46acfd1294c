import QtQuick

// A one-line message that goes away by itself, over the page.
Rectangle {
    id: notice
    property alias text: noticeText.text
    property bool shown: false

    function show(message) {
        text = message
        shown = true
        noticeTimer.restart()
    }

    anchors.horizontalCenter: parent.horizontalCenter
    width: Math.min(noticeText.implicitWidth + 24, parent.width - 30)
    height: noticeText.implicitHeight + 16
    radius: 8
    color: "#37474F"
    border.color: "#263238"
    opacity: shown ? 1 : 0
    visible: opacity > 0
    Behavior on opacity { NumberAnimation { duration: 200 } }
    Accessible.role: Accessible.AlertMessage
    Accessible.name: text
    Accessible.ignored: !visible

    Text {
        id: noticeText
        textFormat: Text.PlainText
        anchors.centerIn: parent
        width: Math.min(implicitWidth, notice.parent.width - 54)
        color: "#FFFFFF"
        font.pixelSize: 13
        wrapMode: Text.Wrap
        horizontalAlignment: Text.AlignHCenter
        Accessible.ignored: true
    }

    Timer {
        id: noticeTimer
        interval: 5000
        onTriggered: notice.shown = false
    }
}
