import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Qt5Compat.GraphicalEffects

Item {
    id: mainPage

    property var proxyModel
    readonly property int columns: Math.max(2, Math.floor(width / 160))

    signal settingsClicked()

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
            model: mainPage.proxyModel

            delegate: Item {
                id: delegateItem
                width: gridView.cellWidth
                height: gridView.cellHeight

                Rectangle {
                    id: card
                    anchors.fill: parent
                    anchors.margins: 5
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

                        Text {
                            text: ":" + model.port
                            textFormat: Text.PlainText
                            font.pixelSize: 12
                            color: "#666666"
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
                    mainPage.proxyModel.startRun(proxyTest)
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
                    border.color: "#BDBDBD"
                    border.width: 1
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
    }
}
