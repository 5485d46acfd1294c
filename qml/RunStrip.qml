import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillfen

// The run at a glance: a chip per outcome and "Copy working"; the progress of
// a run, how long the last one took or what a Stop left untested; Stop while
// it goes and Sort (or back to the list's order) once it is over, and the
// switch that shows the working proxies only; the levels found, what the
// target's own check said, and which levels the working proxies are taken of.
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
    // The live proxies per level: { elite, anonymous, transparent }.
    property var levels: ({ elite: 0, anonymous: 0, transparent: 0 })
    readonly property bool levelsShown: levels.elite + levels.anonymous + levels.transparent > 0
    property string targetMessage: "" // what the run found of the target itself; one line

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
        // The levels of the live proxies, once a run has found any.
        Chip { visible: strip.levelsShown; label: "Elite"; count: strip.levels.elite; fill: "#E3F2FD"; edge: "#1976D2" }
        Chip { visible: strip.levelsShown; label: "Anonymous"; count: strip.levels.anonymous; fill: "#E3F2FD"; edge: "#64B5F6" }
        Chip { visible: strip.levelsShown; label: "Transparent"; count: strip.levels.transparent; fill: "#F5F5F5"; edge: "#9E9E9E" }
    }

    // What the check of the target itself found, when it found something to say.
    Text {
        Layout.fillWidth: true
        visible: strip.targetMessage !== ""
        text: strip.targetMessage
        textFormat: Text.PlainText
        elide: Text.ElideRight
        font.pixelSize: 13
        color: "#5D4037"
        Accessible.role: Accessible.StaticText
        Accessible.name: text
        Accessible.ignored: !visible
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

        StyledCheckBox {
            id: workingOnlyBox
            text: "Working only"
        }

        StyledButton {
            text: "Copy working"
            font.pixelSize: 13
            Layout.preferredWidth: implicitWidth
            Layout.preferredHeight: 28
            onClicked: strip.copyWorkingClicked()
        }
    }

    // Which working proxies the grid shows, Copy working and Export working take.
    RowLayout {
        spacing: 8

        ComboBox {
            id: levelBox
            readonly property var levels: ["any", "anonymous", "elite"]
            model: ["Any level", "Anonymous or better", "Elite only"]
            currentIndex: Math.max(0, levels.indexOf(ListChoices.workingLevel))
            onActivated: (index) => ListChoices.workingLevel = levels[index]
            font.pixelSize: 13
            Layout.preferredHeight: 28
            Accessible.name: "Level: " + currentText
            Accessible.ignored: !visible
        }

        StyledCheckBox {
            text: "Include altered"
            checked: ListChoices.includeAltered
            onToggled: ListChoices.includeAltered = checked
        }
    }
}
