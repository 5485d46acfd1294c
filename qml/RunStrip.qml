import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The run at a glance: a chip per outcome and "Copy working"; the progress of
// a run, how long the last one took or what a Stop left untested; Stop while
// it goes and Sort (or back to the list's order) once it is over, and the
// switch that shows the working proxies only.
ColumnLayout {
    id: strip

    // The counts to show: { alive, dead, timeout, dnsFail, testing }.
    property var shown: ({ alive: 0, dead: 0, timeout: 0, dnsFail: 0, testing: 0 })
    property bool running: false
    property int runTotal: 0   // the rows of the run going
    property double runMs: -1  // how long the last finished run took; -1: none to tell
    property int stoppedUntested: -1 // what the last Stop left untested; -1: no Stop to tell
    property bool sorted: false
    readonly property bool workingOnly: workingOnlyBox.checked

    signal stopClicked()
    signal sortClicked()
    signal copyWorkingClicked()

    spacing: 6

    Flow {
        Layout.fillWidth: true
        spacing: 6
        Chip { label: "Alive"; count: strip.shown.alive; fill: "#E8F5E9"; edge: "#4CAF50" }
        Chip { label: "Dead"; count: strip.shown.dead; fill: "#FFEBEE"; edge: "#F44336" }
        Chip { label: "Timeout"; count: strip.shown.timeout; fill: "#FFEBEE"; edge: "#F44336" }
        Chip { label: "DNS fail"; count: strip.shown.dnsFail; fill: "#E0E0E0"; edge: "#000000" }
        Chip { label: "Testing"; count: strip.shown.testing; fill: "#FFF8E1"; edge: "#FFC107" }
    }

    Item {
        Layout.fillWidth: true
        Layout.preferredHeight: 20

        ProgressBar {
            id: progress
            readonly property int finished: strip.shown.alive + strip.shown.dead + strip.shown.timeout + strip.shown.dnsFail
            visible: strip.running
            anchors.verticalCenter: parent.verticalCenter
            width: parent.width
            value: strip.runTotal > 0 ? finished / strip.runTotal : 0
            Accessible.name: "Finished " + finished + " of " + strip.runTotal
            Accessible.ignored: !visible
            background: Rectangle {
                implicitHeight: 8
                radius: 4
                color: "#E0E0E0"
            }
            contentItem: Item {
                Rectangle {
                    width: progress.visualPosition * parent.width
                    height: parent.height
                    radius: 4
                    color: "#2196F3"
                }
            }
        }

        Text {
            visible: !strip.running && text !== ""
            anchors.verticalCenter: parent.verticalCenter
            text: strip.stoppedUntested >= 0 ? "Stopped: " + strip.stoppedUntested + " not tested"
                : strip.runMs >= 0 ? "Done in " + (strip.runMs / 1000).toFixed(1) + " s" : ""
            font.pixelSize: 13
            color: "#333333"
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Accessible.ignored: !visible
        }
    }

    RowLayout {
        spacing: 8

        StyledButton {
            text: "Stop"
            visible: strip.running
            font.pixelSize: 13
            Layout.preferredWidth: implicitWidth
            Layout.preferredHeight: 28
            onClicked: strip.stopClicked()
            // Sort takes its place, and the keyboard's focus with it.
            onVisibleChanged: if (!visible && activeFocus) sortButton.forceActiveFocus(visualFocus ? Qt.TabFocusReason : Qt.OtherFocusReason)
        }

        StyledButton {
            id: sortButton
            text: strip.sorted ? "List order" : "Sort"
            visible: !strip.running
            font.pixelSize: 13
            Layout.preferredWidth: implicitWidth
            Layout.preferredHeight: 28
            onClicked: strip.sortClicked()
        }

        CheckBox {
            id: workingOnlyBox
            text: "Working only"
            Accessible.name: text
            Accessible.ignored: !visible
            Accessible.onPressAction: Qt.callLater(toggle)
            Accessible.onToggleAction: Qt.callLater(toggle)
            font.pixelSize: 13
            padding: 2
            spacing: 6
            indicator: Rectangle {
                x: workingOnlyBox.leftPadding
                anchors.verticalCenter: parent.verticalCenter
                width: 18
                height: 18
                radius: 4
                color: workingOnlyBox.checked ? "#4CAF50" : "#FFFFFF"
                border.color: workingOnlyBox.checked ? "#4CAF50" : "#9E9E9E"
                border.width: 1
                FocusRing { shown: workingOnlyBox.visualFocus }

                Text {
                    anchors.centerIn: parent
                    visible: workingOnlyBox.checked
                    text: "✓"
                    color: "white"
                    font.pixelSize: 13
                    font.bold: true
                    Accessible.ignored: true
                }
            }
            contentItem: Text {
                leftPadding: workingOnlyBox.indicator.width + workingOnlyBox.spacing
                text: workingOnlyBox.text
                font: workingOnlyBox.font
                color: "#333333"
                verticalAlignment: Text.AlignVCenter
                Accessible.ignored: true
            }
        }

        StyledButton {
            text: "Copy working"
            font.pixelSize: 13
            Layout.preferredWidth: implicitWidth
            Layout.preferredHeight: 28
            onClicked: strip.copyWorkingClicked()
        }
    }
}
