import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quillfen

Item {
    id: mainPage

    property var proxyModel
    // The list holds the sample proxies the program starts with.
    property bool sampleList: false
    readonly property int columns: Math.max(2, Math.floor(width / 160))

    signal settingsClicked()
    // "▶ Test" was pressed while the target URL cannot be tested.
    signal targetNeeded()

    // The outcomes of the current run, which the list counts per result.
    readonly property QtObject counts: QtObject {
        readonly property int alive: mainPage.proxyModel ? mainPage.proxyModel.aliveCount : 0
        readonly property int dead: mainPage.proxyModel ? mainPage.proxyModel.deadCount : 0
        readonly property int timeout: mainPage.proxyModel ? mainPage.proxyModel.timeoutCount : 0
        readonly property int dnsFail: mainPage.proxyModel ? mainPage.proxyModel.dnsFailCount : 0
        readonly property int testing: mainPage.proxyModel ? mainPage.proxyModel.testingCount : 0
    }
    // A run cancelled elsewhere (Add, Paste, Import) leaves its rows "testing" but is over.
    readonly property bool running: counts.testing > 0 && proxyTest.running
    // What the strip shows: the counts as they are, but during a run at most
    // ten times a second, since every change of the strip costs a frame.
    property var shown: ({ alive: 0, dead: 0, timeout: 0, dnsFail: 0, testing: 0 })
    function showCounts() {
        shown = { alive: counts.alive, dead: counts.dead, timeout: counts.timeout, dnsFail: counts.dnsFail, testing: counts.testing }
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
    property int stoppedUntested: -1 // the rows a Stop left untested; -1: no stop to tell
    property bool sorted: false      // the grid by outcome, the list in its own order
    property string targetMessage: "" // what the run found of the target itself

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
        stoppedUntested = counts.testing
        proxyTest.cancelAll()
        proxyModel.stopTesting()
    }

    function test() {
        if (TargetCheck.problem(proxyTest.targetUrl) !== "")
            return targetNeeded()
        proxyTest.cancelAll()
        // Every row back to "unknown" with no response, then
        // proxyTest's run of the list in row order.
        proxyTest.testRows(proxyModel)
        runTotal = proxyModel.count
        runStartedAt = Date.now()
        runMs = -1
        stoppedUntested = -1
        targetMessage = ""
        sorted = false
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

    ListEdits {
        id: edits
        model: mainPage.proxyModel
        onTold: (message) => notice.show(message)
        onAdded: (first, count) => gridView.positionViewAtIndex(mainPage.sorted || strip.workingOnly ? 0 : first, GridView.Beginning)
    }
    Shortcut {
        sequences: [StandardKey.Paste]
        context: Qt.ApplicationShortcut // the one window, whether or not a window manager has made it active
        enabled: mainPage.visible
        onActivated: edits.paste()
    }
    Shortcut {
        sequences: [StandardKey.Undo]
        context: Qt.ApplicationShortcut
        enabled: mainPage.visible
        onActivated: edits.undo()
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 10
        spacing: 10

        GridView {
            id: gridView
            property bool detailsShown: false
            Layout.fillWidth: true
            Layout.fillHeight: true
            cellWidth: width / mainPage.columns
            cellHeight: 80
            clip: true
            model: strip.workingOnly || mainPage.sorted ? viewModel : mainPage.proxyModel
            activeFocusOnTab: true
            keyNavigationWraps: false
            highlightFollowsCurrentItem: false
            Accessible.role: Accessible.List
            Accessible.name: "Proxies"
            Accessible.ignored: !visible
            onCurrentIndexChanged: detailsShown = false
            onActiveFocusChanged: if (!activeFocus) detailsShown = false
            Keys.onReturnPressed: detailsShown = !detailsShown
            Keys.onEnterPressed: detailsShown = !detailsShown
            Keys.onEscapePressed: (event) => { event.accepted = detailsShown; detailsShown = false }

            delegate: ProxyCard {
                width: gridView.cellWidth
                height: gridView.cellHeight
                detailsShown: gridView.detailsShown
            }

            // The list is empty: where proxies come from.
            Text {
                anchors.centerIn: parent
                width: parent.width - 40
                visible: gridView.count === 0 && !strip.workingOnly
                text: "No proxies yet. Add them in Settings, paste a list with Ctrl+V, or drop a list file here."
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
                font.pixelSize: 14
                color: "#666666"
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                Accessible.ignored: !visible
            }
        }

        // The sample list of a first start, said as such.
        Text {
            Layout.fillWidth: true
            visible: mainPage.sampleList
            text: "Sample proxies: replace them with your own in Settings"
            wrapMode: Text.Wrap
            font.pixelSize: 13
            color: "#5D4037"
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Accessible.ignored: !visible
        }

        // The run at a glance.
        RunStrip {
            id: strip
            Layout.fillWidth: true
            shown: mainPage.shown
            running: mainPage.running
            runTotal: mainPage.runTotal
            runMs: mainPage.runMs
            stoppedUntested: mainPage.stoppedUntested
            sorted: mainPage.sorted
            targetMessage: mainPage.targetMessage
            levels: ({ elite: mainPage.proxyModel ? mainPage.proxyModel.eliteCount : 0,
                       anonymous: mainPage.proxyModel ? mainPage.proxyModel.anonymousCount : 0,
                       transparent: mainPage.proxyModel ? mainPage.proxyModel.transparentCount : 0 })
            onStopClicked: mainPage.stopTesting()
            onSortClicked: mainPage.sorted = !mainPage.sorted
            onCopyWorkingClicked: edits.copyWorking()
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
                Accessible.name: "Test"
                Accessible.ignored: !visible
                Accessible.onPressAction: Qt.callLater(clicked)
                background: Rectangle {
                    color: testButton.pressed ? "#1976D2" : "#2196F3"
                    radius: 10
                    FocusRing { shown: testButton.visualFocus }
                }
                contentItem: Text {
                    text: testButton.text
                    color: "white"
                    font: testButton.font
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
                onClicked: mainPage.test()
            }

            Button {
                id: settingsButton
                text: "⚙ Settings"
                font.pixelSize: 16
                Layout.preferredWidth: 130
                Layout.preferredHeight: 46
                Accessible.name: "Settings"
                Accessible.ignored: !visible
                Accessible.onPressAction: Qt.callLater(clicked)
                background: Rectangle {
                    color: settingsButton.pressed ? "#E0E0E0" : "#FFFFFF"
                    border.color: "#BDBDBD"
                    border.width: 1
                    radius: 10
                    FocusRing { shown: settingsButton.visualFocus }
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

    Notice {
        id: notice
        anchors.bottom: parent.bottom
        anchors.bottomMargin: strip.height + 90
    }

    Connections {
        target: proxyTest
        // A result for a row that no longer exists is ignored. A row that did
        // not come alive keeps why ("Connection refused", "Timeout").
        function onProxyResult(index, alive, info, errorMsg, status) {
            mainPage.proxyModel.applyResult(index, status, status === "alive" ? info : status === "testing" ? "" : errorMsg)
        }
        // Comes just before the "alive" result of the same row.
        function onProxyLatency(index, milliseconds) {
            mainPage.proxyModel.applyLatency(index, milliseconds)
        }
        // What a live proxy revealed, also before its "alive" result.
        function onProxyProfile(index, profile) {
            mainPage.proxyModel.applyProfile(index, profile)
        }
        function onTargetChecked(reachable, message) {
            mainPage.targetMessage = message
        }
    }

    // The grid's rows when it shows the working ones only or by outcome;
    // filled only then.
    StatusFilterModel {
        id: viewModel
        sourceModel: strip.workingOnly || mainPage.sorted ? mainPage.proxyModel : null
        status: strip.workingOnly ? "alive" : ""
        minimumLevel: strip.workingOnly && ListChoices.workingLevel !== "any" ? ListChoices.workingLevel : ""
        byOutcome: mainPage.sorted
    }
}
