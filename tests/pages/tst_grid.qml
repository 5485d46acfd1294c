import QtQuick
import QtTest
import "helpers.js" as H

// The grid page on its own, fed by a model of the test's and by the backend double.
Item {
    id: root
    width: 400
    height: 700

    property var page: null
    property var rowsAtTestAll: null

    Component {
        id: modelComponent
        ListModel {}
    }

    // Text in the default format, which renders markup: proves that the recorder
    // would see an image fetched by a Text.
    Component {
        id: markupText
        Text {}
    }

    TextMetrics {
        id: metrics
    }

    Connections {
        target: proxyTest
        function onTestAllCalled() {
            root.rowsAtTestAll = H.rowsOf(root.page.proxyModel)
        }
    }

    TestCase {
        name: "Grid"
        when: windowShown

        property var model: null

        function init() {
            proxyTest.reset()
            root.rowsAtTestAll = null
            model = createTemporaryObject(modelComponent, root)
            var component = Qt.createComponent("qrc:/qt/qml/Quillfen/ProxyMain.qml")
            compare(component.status, Component.Ready, component.errorString())
            root.page = createTemporaryObject(component, root, { width: 400, height: 700, proxyModel: model })
            verify(root.page)
        }

        function addRows(rows) {
            for (var i = 0; i < rows.length; i++)
                model.append(rows[i])
            tryVerify(function() { return H.cardOf(root.page, rows.length - 1) !== null })
        }

        function row(host, port, status, response) {
            return { host: host, port: port, status: status, response: response }
        }

        function test_shortName_data() {
            return [
                { tag: "IPv4 address", host: "192.168.1.20", shortName: "192.168.1.20" },
                { tag: "name starting with a digit", host: "0proxy.example.com", shortName: "0proxy.example.com" },
                { tag: "name starting with 9", host: "9proxy.example.com", shortName: "9proxy.example.com" },
                { tag: "several labels", host: "proxy.eu.example.com", shortName: "proxy" },
                { tag: "no dot", host: "localhost", shortName: "localhost" },
                { tag: "leading dot", host: ".example.com", shortName: "" },
                { tag: "empty", host: "", shortName: "" },
                { tag: "absent", host: undefined, shortName: "" }
            ]
        }

        function test_shortName(data) {
            compare(root.page.getShortName(data.host), data.shortName)
        }

        function test_columns_data() {
            return [
                { tag: "200", width: 200, columns: 2 },
                { tag: "319", width: 319, columns: 2 },
                { tag: "400", width: 400, columns: 2 },
                { tag: "479", width: 479, columns: 2 },
                { tag: "480", width: 480, columns: 3 },
                { tag: "640", width: 640, columns: 4 }
            ]
        }

        function test_columns(data) {
            root.page.width = data.width
            compare(root.page.columns, data.columns)
            // Columns come from the page's width, cells from the grid's.
            var grid = H.gridOf(root.page)
            compare(grid.cellWidth, grid.width / data.columns)
        }

        function test_cardColours_data() {
            return [
                { tag: "alive", status: "alive", border: "#4CAF50", fill: "#E8F5E9", name: "#333333" },
                { tag: "dead", status: "dead", border: "#F44336", fill: "#FFEBEE", name: "#333333" },
                { tag: "timeout", status: "timeout", border: "#F44336", fill: "#FFEBEE", name: "#333333" },
                { tag: "dns_fail", status: "dns_fail", border: "#000000", fill: "#E0E0E0", name: "#666666" },
                { tag: "testing", status: "testing", border: "#FFC107", fill: "#FFF8E1", name: "#333333" },
                { tag: "unknown", status: "unknown", border: "#9E9E9E", fill: "#F5F5F5", name: "#333333" },
                { tag: "other case", status: "Alive", border: "#9E9E9E", fill: "#F5F5F5", name: "#333333" }
            ]
        }

        function test_cardColours(data) {
            addRows([row("10.0.0.1", 3128, data.status, "")])
            var card = H.cardOf(root.page, 0)
            verify(Qt.colorEqual(card.border.color, data.border), "border " + card.border.color)
            verify(Qt.colorEqual(card.color, data.fill), "fill " + card.color)
            var labels = H.texts(card)
            compare(labels[0].text, "10.0.0.1")
            verify(Qt.colorEqual(labels[0].color, data.name), "short name " + labels[0].color)
            compare(labels[1].text, ":3128")
            verify(Qt.colorEqual(labels[1].color, "#666666"))
        }

        function test_tooltipFollowsHoverAndResponse() {
            addRows([row("proxy.example.com", 3128, "alive", ""), row("10.0.0.2", 3128, "unknown", "")])
            var card = H.cardOf(root.page, 0)
            var tooltip = H.tooltipOf(card)

            mouseMove(card, card.width / 2, card.height / 2)
            wait(20)
            verify(!tooltip.visible, "no tooltip without a response")

            model.setProperty(0, "response", "hello")
            tryCompare(tooltip, "visible", true)
            var shown = H.texts(tooltip.contentItem).map(function(t) { return t.text })
            compare(shown, ["proxy.example.com", "hello"])

            model.setProperty(0, "response", "")
            tryCompare(tooltip, "visible", false)

            model.setProperty(0, "response", "hello again")
            tryCompare(tooltip, "visible", true)
            // The gap between cards is not the card.
            mouseMove(root.page, 12, 50)
            tryCompare(tooltip, "visible", false)
        }

        function test_untrustedTextIsShownLiterally() {
            var base = "http://127.0.0.1:" + recorder.port
            var host = "<img src=\"" + base + "/host.png\">"
            var port = "<img src=\"" + base + "/port.png\">"
            var answer = "<b>hi</b><img src=\"" + base + "/answer.png\">"
            addRows([row(host, port, "alive", answer)])

            var card = H.cardOf(root.page, 0)
            var tooltip = H.tooltipOf(card)
            mouseMove(card, card.width / 2, card.height / 2)
            tryCompare(tooltip, "visible", true)
            waitForRendering(root)

            var shown = H.texts(card).concat(H.texts(tooltip.contentItem))
            compare(shown.map(function(t) { return t.text }),
                    [root.page.getShortName(host), ":" + port, host, answer])
            for (var i = 0; i < shown.length; i++) {
                // Laid out as the characters themselves, tags included.
                metrics.font = shown[i].font
                metrics.text = shown[i].text
                verify(Math.abs(shown[i].implicitWidth - metrics.advanceWidth) < 2,
                       shown[i].text + ": " + shown[i].implicitWidth + " vs " + metrics.advanceWidth)
            }

            // A Text that does render markup fetches its image; once that request is in,
            // any fetch caused by the page would be in as well.
            createTemporaryObject(markupText, root, { text: "<img src=\"" + base + "/control.png\">" })
            tryVerify(function() { return recorder.requests.join("\n").indexOf("/control.png") >= 0 }, 20000,
                      "the markup control was never fetched")
            wait(200)
            var requests = recorder.requests.join("\n")
            verify(requests.indexOf("/host.png") < 0, requests)
            verify(requests.indexOf("/port.png") < 0, requests)
            verify(requests.indexOf("/answer.png") < 0, requests)
        }

        function test_testButton() {
            addRows([row("10.0.0.1", 8080, "alive", "ok"),
                     row("proxy.example.com", 3128, "dead", ""),
                     row("", 1, "testing", "")])
            mouseClick(H.findButton(root.page, "▶ Test"))

            compare(proxyTest.calls, ["cancelAll", "testAll"])
            compare(proxyTest.lastProxies, [{ host: "10.0.0.1", port: 8080 },
                                            { host: "proxy.example.com", port: 3128 },
                                            { host: "", port: 1 }])
            var reset = [row("10.0.0.1", 8080, "unknown", ""),
                         row("proxy.example.com", 3128, "unknown", ""),
                         row("", 1, "unknown", "")]
            compare(root.rowsAtTestAll, reset, "rows are reset before testAll")
            compare(H.rowsOf(model), reset)
        }

        function test_testButtonOnEmptyList() {
            mouseClick(H.findButton(root.page, "▶ Test"))
            compare(proxyTest.calls, ["cancelAll", "testAll"])
            compare(proxyTest.lastProxies, [])
        }

        function test_resultsByIndex() {
            failOnWarning(/.*/) // results out of range are dropped without a message
            addRows([row("10.0.0.1", 1, "unknown", ""),
                     row("10.0.0.2", 2, "unknown", ""),
                     row("10.0.0.3", 3, "unknown", "")])

            proxyTest.sendResult(1, true, "hello", "", "alive")
            compare(H.rowsOf(model), [row("10.0.0.1", 1, "unknown", ""),
                                      row("10.0.0.2", 2, "alive", "hello"),
                                      row("10.0.0.3", 3, "unknown", "")])
            verify(Qt.colorEqual(H.cardOf(root.page, 1).border.color, "#4CAF50"))

            proxyTest.sendResult(0, false, "", "Testing", "testing")
            proxyTest.sendResult(2, false, "", "DNS fail", "dns_fail")
            // A later result replaces the answer too, so the tooltip goes.
            proxyTest.sendResult(1, false, "", "Timeout", "timeout")
            var expected = [row("10.0.0.1", 1, "testing", ""),
                            row("10.0.0.2", 2, "timeout", ""),
                            row("10.0.0.3", 3, "dns_fail", "")]
            compare(H.rowsOf(model), expected)
            verify(Qt.colorEqual(H.cardOf(root.page, 2).border.color, "#000000"))

            proxyTest.sendResult(-1, true, "x", "", "alive")
            proxyTest.sendResult(3, true, "x", "", "alive")
            proxyTest.sendResult(100, true, "x", "", "alive")
            compare(H.rowsOf(model), expected)
        }
    }
}
