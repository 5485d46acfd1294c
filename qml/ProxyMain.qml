import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillfen

Item {
    id: mainPage

    property var proxyModel
    readonly property int columns: Math.max(2, Math.floor(width / 160))

    signal settingsClicked()

    // The outcomes of the current run, which the list counts per result.
    readonly property QtObject counts: QtObject {
        readonly property int alive: mainPage.proxyModel ? mainPage.proxyModel.aliveCount : 0
        readonly property int dead: mainPage.proxyModel ? mainPage.proxyModel.deadCount : 0 // dead and timeout
        readonly property int dnsFail: mainPage.proxyModel ? mainPage.proxyModel.dnsFailCount : 0
        readonly property int testing: mainPage.proxyModel ? mainPage.proxyModel.testingCount : 0
    }
    // A run cancelled elsewhere (Add, Paste, Import) leaves its rows "testing" but is over.
    readonly property bool running: counts.testing > 0 && proxyTest.running
    // What the strip shows: the counts as they are, but during a run at most
    // ten times a second, since every change of the strip costs a frame.
    property var shown: ({ alive: 0, dead: 0, dnsFail: 0, testing: 0 })
    function showCounts() {
        shown = { alive: counts.alive, dead: counts.dead, dnsFail: counts.dnsFail, testing: counts.testing }
    }
    Connections {
        target: mainPage.proxyModel
        function onCountsChanged() {
            if (!mainPage.running)
                mainPage.showCounts()
        }
    }
    Timer {
        interval: 100
        repeat: true
        running: mainPage.running
        onTriggered: mainPage.showCounts()
    }
    onProxyModelChanged: showCounts()
    property int runTotal: 0
    property double runStartedAt: -1 // ms since the epoch; -1 once the run has ended or was stopped
    property double runMs: -1        // how long the last finished run took

    onRunningChanged: {
        // A run that ended with rows still "testing" was cancelled: it has no duration.
        if (!running && runStartedAt >= 0 && counts.testing === 0)
            runMs = Date.now() - runStartedAt
        if (!running)
            runStartedAt = -1
        showCounts()
    }

    // Stop: the backend falls silent, and the rows it had not finished are untested again.
    function stopTesting() {
        runStartedAt = -1
        proxyTest.cancelAll()
        proxyModel.stopTesting()
    }

    // Enter presses the focused control, as Space does.
    function pressFocused(event) {
        var item = Window.activeFocusItem
        if (!item || item.clicked === undefined || !item.enabled)
            return
        if (item.checkable)
            item.toggle()
        item.clicked()
        event.accepted = true
    }
    Keys.onReturnPressed: (event) => pressFocused(event)
    Keys.onEnterPressed: (event) => pressFocused(event)

    // IPv4 addresses (and any name starting with a digit) stay whole; names keep their first label.
    function getShortName(host) {
        if (!host)
            return ""
        var text = String(host)
        var first = text.charAt(0)
        if (first >= "0" && first <= "9")
            return text
        var dot = text.indexOf(".")
        return dot < 0 ? text : text.substring(0, dot)
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 10
        spacing: 10

        GridView {
            id: gridView
            Layout.fillWidth: true
            Layout.fillHeight: true
            cellWidth: width / mainPage.columns
            cellHeight: 80
            clip: true
            model: strip.workingOnly ? workingModel : mainPage.proxyModel
            Accessible.role: Accessible.List
            Accessible.name: "Proxies"

            delegate: Item {
                id: cell
                required property var model
                width: gridView.cellWidth
                height: gridView.cellHeight

                ProxyCard {
                    anchors.fill: parent
                    anchors.margins: 5
                    model: cell.model
                    shortName: mainPage.getShortName(cell.model.host)
                }
            }
        }

        // The run at a glance.
        RunStrip {
            id: strip
            Layout.fillWidth: true
            shown: mainPage.shown
            running: mainPage.running
            runTotal: mainPage.runTotal
            runMs: mainPage.runMs
            onStopClicked: mainPage.stopTesting()
            onSortClicked: mainPage.proxyModel.sortByOutcome()
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignHCenter
            Layout.bottomMargin: 10
            spacing: 20

            Button {
                id: testButton
                text: "▶ Test"
                font.pixelSize: 16
                Layout.preferredWidth: 130
                Layout.preferredHeight: 46
                background: Rectangle {
                    color: testButton.pressed ? "#1976D2" : "#2196F3"
                    radius: 10
                    border.color: "#0D47A1"
                    border.width: testButton.visualFocus ? 2 : 0
                }
                contentItem: Text {
                    text: testButton.text
                    color: "white"
                    font: testButton.font
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
                onClicked: {
                    proxyTest.cancelAll()
                    // Every row back to "unknown" with no response, then
                    // proxyTest's run of the list in row order.
                    proxyTest.testRows(mainPage.proxyModel)
                    mainPage.runTotal = mainPage.proxyModel.count
                    mainPage.runStartedAt = Date.now()
                    mainPage.runMs = -1
                }
            }

            Button {
                id: settingsButton
                text: "⚙ Settings"
                font.pixelSize: 16
                Layout.preferredWidth: 130
                Layout.preferredHeight: 46
                background: Rectangle {
                    color: settingsButton.pressed ? "#E0E0E0" : "#FFFFFF"
                    border.color: settingsButton.visualFocus ? "#2196F3" : "#BDBDBD"
                    border.width: settingsButton.visualFocus ? 2 : 1
                    radius: 10
                }
                contentItem: Text {
                    text: settingsButton.text
                    color: "#333333"
                    font: settingsButton.font
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
                onClicked: mainPage.settingsClicked()
            }
        }
    }

    Connections {
        target: proxyTest
        // A result for a row that no longer exists is ignored.
        function onProxyResult(index, alive, info, errorMsg, status) {
            mainPage.proxyModel.applyResult(index, status, info)
        }
        // Comes just before the "alive" result of the same row.
        function onProxyLatency(index, milliseconds) {
            mainPage.proxyModel.applyLatency(index, milliseconds)
        }
    }

    // Filled only while it is shown.
    StatusFilterModel {
        id: workingModel
        sourceModel: strip.workingOnly ? mainPage.proxyModel : null
        status: "alive"
    }
}
