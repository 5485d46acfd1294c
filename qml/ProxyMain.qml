import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Qt5Compat.GraphicalEffects
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
            model: workingOnly.checked ? workingModel : mainPage.proxyModel
            Accessible.role: Accessible.List
            Accessible.name: "Proxies"

            delegate: Item {
                id: delegateItem
                width: gridView.cellWidth
                height: gridView.cellHeight

                Rectangle {
                    id: card
                    // A list model may lack the newer roles: no time, plain HTTP.
                    readonly property int latency: model.status === "alive" && typeof model.latency === "number" ? model.latency : -1
                    readonly property string type: typeof model.type === "string" && model.type !== "" ? model.type : "http"
                    readonly property string latencyText: latency >= 0 ? latency + " ms" : ""

                    anchors.fill: parent
                    anchors.margins: 5
                    Accessible.role: Accessible.ListItem
                    Accessible.name: model.host + ":" + model.port + ", " + model.status
                                     + (latencyText ? ", " + latencyText : "")
                    Accessible.description: model.response
                    radius: 10
                    border.width: 2
                    border.color: model.status === "alive" ? "#4CAF50"
                                : model.status === "dead" ? "#F44336"
                                : model.status === "timeout" ? "#F44336"
                                : model.status === "dns_fail" ? "#000000"
                                : model.status === "testing" ? "#FFC107"
                                : "#9E9E9E"
                    color: model.status === "alive" ? "#E8F5E9"
                         : model.status === "dead" ? "#FFEBEE"
                         : model.status === "timeout" ? "#FFEBEE"
                         : model.status === "dns_fail" ? "#E0E0E0"
                         : model.status === "testing" ? "#FFF8E1"
                         : "#F5F5F5"

                    layer.enabled: true
                    layer.effect: DropShadow {
                        color: "#30000000"
                        horizontalOffset: 0
                        verticalOffset: 1
                        radius: 6
                        samples: 13
                    }

                    MouseArea {
                        id: hoverArea
                        anchors.fill: parent
                        hoverEnabled: true
                    }

                    Column {
                        anchors.centerIn: parent
                        width: card.width - 8
                        spacing: 2

                        Text {
                            text: mainPage.getShortName(model.host)
                            textFormat: Text.PlainText
                            font.pixelSize: 14
                            font.bold: true
                            color: model.status === "dns_fail" ? "#666666" : "#333333"
                            anchors.horizontalCenter: parent.horizontalCenter
                            horizontalAlignment: Text.AlignHCenter
                            wrapMode: Text.WrapAnywhere
                            width: parent.width
                            maximumLineCount: 2
                            elide: Text.ElideRight
                        }

                        Row {
                            anchors.horizontalCenter: parent.horizontalCenter
                            spacing: 4

                            Text {
                                text: ":" + model.port
                                textFormat: Text.PlainText
                                font.pixelSize: 12
                                color: "#666666"
                            }

                            Text {
                                visible: card.type !== "http"
                                text: card.type.toUpperCase()
                                textFormat: Text.PlainText
                                font.pixelSize: 9
                                font.bold: true
                                color: "#666666"
                                anchors.baseline: parent.children[0].baseline
                            }
                        }

                        Text {
                            visible: card.latencyText !== ""
                            text: card.latencyText
                            textFormat: Text.PlainText
                            font.pixelSize: 11
                            color: "#2E7D32"
                            anchors.horizontalCenter: parent.horizontalCenter
                        }
                    }

                    Popup {
                        id: tooltipPopup
                        visible: hoverArea.containsMouse && model.response !== ""
                        x: card.width / 2 - width / 2
                        y: card.height + 2
                        background: null
                        closePolicy: Popup.NoAutoClose

                        Rectangle {
                            width: Math.min(tooltipLayout.implicitWidth + 24, 320)
                            height: tooltipLayout.implicitHeight + 16
                            color: "#37474F"
                            radius: 6
                            border.color: "#263238"
                            border.width: 1
                            x: -width / 2

                            ColumnLayout {
                                id: tooltipLayout
                                anchors.centerIn: parent
                                width: parent.width - 24
                                spacing: 4

                                // Host names come from files and answers from proxies: never markup.
                                Text {
                                    text: model.host
                                    textFormat: Text.PlainText
                                    color: "#B0BEC5"
                                    font.pixelSize: 11
                                    font.bold: true
                                    wrapMode: Text.Wrap
                                    horizontalAlignment: Text.AlignHCenter
                                    Layout.fillWidth: true
                                }

                                Text {
                                    visible: card.latencyText !== ""
                                    text: card.latencyText
                                    textFormat: Text.PlainText
                                    color: "#A5D6A7"
                                    font.pixelSize: 11
                                    horizontalAlignment: Text.AlignHCenter
                                    Layout.fillWidth: true
                                }

                                Text {
                                    text: model.response
                                    textFormat: Text.PlainText
                                    color: "#FFFFFF"
                                    font.pixelSize: 12
                                    wrapMode: Text.Wrap
                                    horizontalAlignment: Text.AlignHCenter
                                    Layout.fillWidth: true
                                }
                            }
                        }
                    }
                }
            }
        }

        // The run at a glance.
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 6

            RowLayout {
                spacing: 6
                Chip { label: "Alive"; count: mainPage.shown.alive; fill: "#E8F5E9"; edge: "#4CAF50" }
                Chip { label: "Dead"; count: mainPage.shown.dead; fill: "#FFEBEE"; edge: "#F44336" }
                Chip { label: "DNS fail"; count: mainPage.shown.dnsFail; fill: "#E0E0E0"; edge: "#000000" }
                Chip { label: "Testing"; count: mainPage.shown.testing; fill: "#FFF8E1"; edge: "#FFC107" }
            }

            RowLayout {
                spacing: 8

                Item {
                    Layout.fillWidth: true
                    Layout.preferredHeight: 28

                    ProgressBar {
                        id: progress
                        readonly property int finished: mainPage.shown.alive + mainPage.shown.dead + mainPage.shown.dnsFail
                        visible: mainPage.running
                        anchors.verticalCenter: parent.verticalCenter
                        width: parent.width
                        value: mainPage.runTotal > 0 ? finished / mainPage.runTotal : 0
                        Accessible.name: "Finished " + finished + " of " + mainPage.runTotal
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
                        visible: !mainPage.running && mainPage.runMs >= 0
                        anchors.verticalCenter: parent.verticalCenter
                        text: mainPage.runMs >= 0 ? "Done in " + (mainPage.runMs / 1000).toFixed(1) + " s" : ""
                        font.pixelSize: 13
                        color: "#333333"
                        Accessible.name: text
                    }
                }

                StripButton {
                    text: "Stop"
                    visible: mainPage.running
                    onClicked: mainPage.stopTesting()
                    // Sort takes its place, and the keyboard's focus with it.
                    onVisibleChanged: if (!visible && activeFocus) sortButton.forceActiveFocus(visualFocus ? Qt.TabFocusReason : Qt.OtherFocusReason)
                }

                StripButton {
                    id: sortButton
                    text: "Sort"
                    visible: !mainPage.running
                    onClicked: mainPage.proxyModel.sortByOutcome()
                }

                CheckBox {
                    id: workingOnly
                    text: "Working only"
                    Accessible.name: text
                    font.pixelSize: 13
                    padding: 2
                    spacing: 6
                    indicator: Rectangle {
                        x: workingOnly.leftPadding
                        anchors.verticalCenter: parent.verticalCenter
                        width: 18
                        height: 18
                        radius: 4
                        color: workingOnly.checked ? "#4CAF50" : "#FFFFFF"
                        border.color: workingOnly.visualFocus ? "#2196F3" : workingOnly.checked ? "#4CAF50" : "#9E9E9E"
                        border.width: workingOnly.visualFocus ? 2 : 1

                        Text {
                            anchors.centerIn: parent
                            visible: workingOnly.checked
                            text: "✓"
                            color: "white"
                            font.pixelSize: 13
                            font.bold: true
                            Accessible.ignored: true
                        }
                    }
                    contentItem: Text {
                        leftPadding: workingOnly.indicator.width + workingOnly.spacing
                        text: workingOnly.text
                        font: workingOnly.font
                        color: "#333333"
                        verticalAlignment: Text.AlignVCenter
                        Accessible.ignored: true
                    }
                }
            }
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
            mainPage.proxyModel.setProperty(index, "latency", milliseconds)
        }
    }

    // Filled only while it is shown.
    StatusFilterModel {
        id: workingModel
        sourceModel: workingOnly.checked ? mainPage.proxyModel : null
        status: "alive"
    }

    component Chip: Rectangle {
        property string label
        property int count
        property color fill
        property color edge

        Layout.fillWidth: true
        Layout.preferredWidth: chipText.implicitWidth + 14
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
        }
    }

    component StripButton: Button {
        id: stripButton
        Accessible.name: text
        font.pixelSize: 13
        implicitWidth: 64
        implicitHeight: 28
        background: Rectangle {
            color: stripButton.pressed ? "#E0E0E0" : "#FFFFFF"
            border.color: stripButton.visualFocus ? "#2196F3" : "#BDBDBD"
            border.width: stripButton.visualFocus ? 2 : 1
            radius: 8
        }
        contentItem: Text {
            text: stripButton.text
            color: "#333333"
            font: stripButton.font
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            Accessible.ignored: true
        }
    }
}
