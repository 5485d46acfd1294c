import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Qt5Compat.GraphicalEffects

// One proxy of the grid: its host, port, type and time, in the colours of its
// status; hovered, a tooltip with the whole host and the proxy's answer, or
// why it failed. A grid's delegate: the current card takes the keyboard's
// focus when the grid has it, wears the focus ring, and shows its details
// (`detailsShown`, Enter) even when there is no answer yet.
Item {
    id: cell

    // The row of the list model, as a view hands it to its delegate.
    required property var model
    property bool detailsShown: false

    // A list model may lack the newer roles: no time, plain HTTP.
    readonly property int latency: model.status === "alive" && typeof model.latency === "number" ? model.latency : -1
    readonly property string type: typeof model.type === "string" && model.type !== "" ? model.type : "http"
    readonly property string latencyText: latency >= 0 ? latency + " ms" : ""
    // What a live proxy revealed: its level ("altered" when it changed the
    // target's answer, which says nothing of its level) and its exit's country.
    readonly property bool live: model.status === "alive"
    readonly property string levelText: !live ? "" : model.altered === true ? "altered"
                                      : typeof model.anonymity === "string" ? model.anonymity : ""
    readonly property string countryText: live && typeof model.country === "string" ? model.country : ""
    readonly property string address: (String(model.host).indexOf(":") >= 0 ? "[" + model.host + "]" : model.host) + ":" + model.port
    readonly property string statusText: model.status === "dns_fail" ? "DNS fail" : model.status
    // The answer of an alive proxy, or why another one failed.
    readonly property string response: typeof model.response === "string" ? model.response : ""
    readonly property string details: response !== "" ? response
                                    : model.status === "unknown" ? "Not tested yet" : model.status === "testing" ? "Testing…" : ""

    Accessible.role: Accessible.ListItem
    Accessible.ignored: !visible
    Accessible.name: address + (type !== "http" ? ", " + type.toUpperCase() : "") + (model.user ? ", " + model.user : "")
                     + ", " + statusText + [latencyText, levelText, countryText].filter(function(t) { return t !== "" }).map(function(t) { return ", " + t }).join("")
    // An answer read as words: its markup left out.
    Accessible.description: response.replace(/<[^>]*>/g, " ").replace(/&nbsp;/g, " ").replace(/\s+/g, " ").trim()
    focus: true

    FocusRing {
        anchors.margins: 1
        radius: 14
        shown: cell.activeFocus
    }

    Rectangle {
        id: card
        readonly property var model: cell.model
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

            // The whole host, shortened in its middle when it does not fit.
            Text {
                text: card.model.host
                textFormat: Text.PlainText
                font.pixelSize: 14
                font.bold: true
                color: card.model.status === "dns_fail" ? "#666666" : "#333333"
                horizontalAlignment: Text.AlignHCenter
                width: parent.width
                elide: Text.ElideMiddle
            }

            Row {
                anchors.horizontalCenter: parent.horizontalCenter
                spacing: 4

                Text {
                    text: ":" + card.model.port
                    textFormat: Text.PlainText
                    font.pixelSize: 12
                    color: "#666666"
                }

                Text {
                    visible: cell.type !== "http"
                    text: cell.type.toUpperCase()
                    textFormat: Text.PlainText
                    font.pixelSize: 9
                    font.bold: true
                    color: "#666666"
                    anchors.baseline: parent.children[0].baseline
                }
            }

            // The time, then the level and the country, a short badge each.
            Row {
                anchors.horizontalCenter: parent.horizontalCenter
                spacing: 4

                Text {
                    visible: cell.latencyText !== ""
                    text: cell.latencyText
                    textFormat: Text.PlainText
                    font.pixelSize: 11
                    color: "#2E7D32"
                }

                Repeater {
                    model: [cell.levelText, cell.countryText]

                    Text {
                        required property string modelData
                        visible: modelData !== ""
                        text: modelData
                        textFormat: Text.PlainText
                        font.pixelSize: 10
                        color: modelData === "altered" ? "#B71C1C" : "#455A64"
                    }
                }
            }
        }

        Popup {
            id: tooltipPopup
            visible: hoverArea.containsMouse && cell.response !== "" || cell.activeFocus && cell.detailsShown
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
                Accessible.role: Accessible.ToolTip
                Accessible.ignored: !visible
                Accessible.name: cell.details

                ColumnLayout {
                    id: tooltipLayout
                    anchors.centerIn: parent
                    width: parent.width - 24
                    spacing: 4

                    // Host names come from files and answers from proxies: never markup.
                    Text {
                        text: card.model.host
                        textFormat: Text.PlainText
                        color: "#B0BEC5"
                        font.pixelSize: 11
                        font.bold: true
                        wrapMode: Text.Wrap
                        horizontalAlignment: Text.AlignHCenter
                        Layout.fillWidth: true
                    }

                    Text {
                        visible: cell.latencyText !== ""
                        text: cell.latencyText
                        textFormat: Text.PlainText
                        color: "#A5D6A7"
                        font.pixelSize: 11
                        horizontalAlignment: Text.AlignHCenter
                        Layout.fillWidth: true
                    }

                    Text {
                        text: cell.details
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
