import QtQuick
import QtTest
import Quillfen
import "helpers.js" as H

// The grid page on its own, fed by a model of the test's and by the backend double.
Item {
    id: root
    width: 400
    height: 700

    property var page: null
    property var rowsAtRun: null

    Component { id: modelComponent; ProxyListModel {} }
    // Text in the default format, which renders markup and so fetches images.
    Component { id: markupText; Text {} }
    TextMetrics { id: metrics }

    Connections {
        target: proxyTest
        function onCallsChanged() {
            if (proxyTest.calls[proxyTest.calls.length - 1] === "testList")
                root.rowsAtRun = H.rowsOf(root.page.proxyModel)
        }
    }

    TestCase {
        name: "Grid"
        when: windowShown

        property var model: null

        function init() {
            proxyTest.reset()
            model = createTemporaryObject(modelComponent, root)
            var component = Qt.createComponent("qrc:/qt/qml/Quillfen/ProxyMain.qml")
            compare(component.status, Component.Ready, component.errorString())
            root.page = createTemporaryObject(component, root, { width: 400, height: 700, proxyModel: model })
        }

        // Rows as [host, port, status, response, latency, type].
        function addRows(rows) {
            rows.forEach(function(r) { model.append({ host: r[0], port: r[1], status: r[2], response: r[3], latency: r[4] === undefined ? -1 : r[4], type: r[5] || "http" }) })
            tryVerify(function() { return H.cardOf(root.page, rows.length - 1) !== null })
        }

        // The accessible names shown under item, in tree order.
        function names(item, out) {
            out = out || []
            if (item.visible && item.Accessible.name)
                out.push(item.Accessible.name)
            for (var i = 0; i < item.children.length; i++)
                names(item.children[i], out)
            return out
        }

        function strip() { return names(root.page.children[0].children[1]) }

        function test_shortName_data() {
            return [["IPv4 address", "192.168.1.20", "192.168.1.20"], ["starts with 0", "0proxy.example.com", "0proxy.example.com"],
                    ["starts with 9", "9proxy.example.com", "9proxy.example.com"], ["several labels", "proxy.eu.example.com", "proxy"],
                    ["no dot", "localhost", "localhost"], ["leading dot", ".example.com", ""], ["empty", "", ""], ["absent", undefined, ""]]
                .map(function(c) { return { tag: c[0], host: c[1], shortName: c[2] } })
        }

        function test_shortName(data) {
            compare(root.page.getShortName(data.host), data.shortName)
        }

        function test_columns_data() {
            return [[200, 2], [319, 2], [400, 2], [479, 2], [480, 3], [640, 4]]
                .map(function(c) { return { tag: String(c[0]), width: c[0], columns: c[1] } })
        }

        function test_columns(data) {
            root.page.width = data.width
            compare(root.page.columns, data.columns)
            var grid = H.gridOf(root.page) // columns come from the page's width, cells from the grid's
            compare(grid.cellWidth, grid.width / data.columns)
        }

        // At 400 × 700: cards of 180 × 70 in two columns (10 of margin plus 5 of
        // cell inset); both buttons on one line, centred, 20 above the bottom.
        function test_layout() {
            addRows([["127.0.0.1", 1, "unknown", ""], ["127.0.0.2", 2, "unknown", ""], ["127.0.0.3", 3, "unknown", ""]])
            var corners = [[15, 15], [205, 15], [15, 95]]
            for (var i = 0; i < corners.length; i++) {
                var card = H.cardOf(root.page, i)
                var at = card.mapToItem(root.page, 0, 0)
                compare([at.x, at.y, card.width, card.height], corners[i].concat([180, 70]))
            }
            var test = H.findButton(root.page, "▶ Test"), settings = H.findButton(root.page, "⚙ Settings")
            var t = test.mapToItem(root.page, 0, 0), s = settings.mapToItem(root.page, 0, 0)
            compare([test.width, test.height, settings.width, settings.height], [130, 46, 130, 46])
            compare([t.y + test.height, s.y + settings.height, s.x - t.x - test.width, t.x], [680, 680, 20, 400 - s.x - settings.width])
        }

        // [status, border, fill, short name] as the status table gives them.
        function test_cardColours_data() {
            return [["alive", "#4caf50", "#e8f5e9"], ["dead", "#f44336", "#ffebee"], ["timeout", "#f44336", "#ffebee"],
                    ["dns_fail", "#000000", "#e0e0e0", "#666666"], ["testing", "#ffc107", "#fff8e1"],
                    ["unknown", "#9e9e9e", "#f5f5f5"], ["Alive", "#9e9e9e", "#f5f5f5"]]
                .map(function(c) { return { tag: c[0], colours: [c[1], c[2], c[3] || "#333333"] } })
        }

        function test_cardColours(data) {
            addRows([["127.0.0.1", 3128, data.tag, ""]])
            var card = H.cardOf(root.page, 0)
            compare([card.border.color, card.color, H.texts(card)[0].color].map(String), data.colours)
        }

        // Shown while the pointer is on a card whose answer is not empty.
        function test_tooltip() {
            addRows([["proxy.example.com", 3128, "alive", ""]])
            var card = H.cardOf(root.page, 0), tooltip = H.tooltipOf(card)
            mouseMove(card, card.width / 2, card.height / 2)
            wait(20)
            verify(!tooltip.visible, "no tooltip without an answer")
            model.setProperty(0, "response", "hello")
            tryCompare(tooltip, "visible", true)
            model.setProperty(0, "response", "")
            tryCompare(tooltip, "visible", false)
            model.setProperty(0, "response", "hello again")
            tryCompare(tooltip, "visible", true)
            mouseMove(root.page, 12, 50) // the gap between cards
            tryCompare(tooltip, "visible", false)
        }

        // Hosts and answers are shown as their characters, and no image they
        // name is fetched.
        function test_untrustedTextIsShownLiterally() {
            var base = "http://127.0.0.1:" + recorder.port
            var host = "<img src=\"" + base + "/host.png\">", port = 3128, answer = "<b>hi</b><img src=\"" + base + "/answer.png\">"
            addRows([[host, port, "alive", answer]])
            var card = H.cardOf(root.page, 0), tooltip = H.tooltipOf(card)
            mouseMove(card, card.width / 2, card.height / 2)
            tryCompare(tooltip, "visible", true)
            waitForRendering(root)

            var shown = H.texts(card).concat(H.texts(tooltip.contentItem)).filter(function(t) { return t.visible })
            compare(shown.map(function(t) { return t.text }), [root.page.getShortName(host), ":" + port, host, answer])
            for (var i = 0; i < shown.length; i++) { // laid out as the characters themselves, tags included
                metrics.font = shown[i].font
                metrics.text = shown[i].text
                verify(Math.abs(shown[i].implicitWidth - metrics.advanceWidth) < 2,
                       shown[i].text + ": " + shown[i].implicitWidth + " vs " + metrics.advanceWidth)
            }
            // Once a markup Text's own fetch is in, any fetch by the page would be in too.
            createTemporaryObject(markupText, root, { text: "<img src=\"" + base + "/control.png\">" })
            tryVerify(function() { return recorder.requests.join().indexOf("/control.png") >= 0 }, 20000, "no control fetch")
            wait(200)
            compare(recorder.requests.filter(function(r) { return r.indexOf("/control.png") < 0 }), [])
        }

        // cancelAll, the rows reset to "unknown" with no answer, then the run of
        // the list in row order.
        function test_testButton() {
            mouseClick(H.findButton(root.page, "▶ Test"))
            compare([proxyTest.calls, proxyTest.lastProxies], [["cancelAll", "testList"], []])
            proxyTest.reset()
            addRows([["127.0.0.1", 8080, "alive", "ok"], ["proxy.example.com", 3128, "dead", ""], ["", 1, "testing", ""]])
            mouseClick(H.findButton(root.page, "▶ Test"))
            compare(proxyTest.calls, ["cancelAll", "testList"])
            compare(proxyTest.lastProxies, [{ host: "127.0.0.1", port: 8080 }, { host: "proxy.example.com", port: 3128 }, { host: "", port: 1 }])
            compare(root.rowsAtRun, [["127.0.0.1", 8080, "unknown", ""], ["proxy.example.com", 3128, "unknown", ""],
                                         ["", 1, "unknown", ""]], "rows are reset before the run")
        }

        // Status and answer written by index; indices out of range dropped without a message.
        function test_resultsByIndex() {
            failOnWarning(/.*/)
            addRows([["127.0.0.1", 1, "alive", "old"], ["127.0.0.2", 2, "unknown", ""], ["127.0.0.3", 3, "unknown", ""]])
            proxyTest.proxyResult(1, true, "hello", "", "alive")
            proxyTest.proxyResult(2, false, "", "DNS fail", "dns_fail")
            proxyTest.proxyResult(0, false, "", "Testing", "testing")
            var expected = [["127.0.0.1", 1, "testing", ""], ["127.0.0.2", 2, "alive", "hello"], ["127.0.0.3", 3, "dns_fail", ""]]
            compare(H.rowsOf(model), expected)
            ;[-1, 3, 100].forEach(function(i) { proxyTest.proxyResult(i, true, "x", "", "alive") })
            compare(H.rowsOf(model), expected)
        }

        // After a Test over three rows, results in order ([row, status, time
        // first if any]), buttons pressed and a removal of row 0; then the rows'
        // statuses (with the times of alive ones) and the strip's names.
        function test_counts_data() {
            var t = [[0, "testing"], [1, "testing"], [2, "testing"]], busy = ["Stop", "Working only"], idle = ["Sort", "Working only"]
            return [
                { tag: "started", steps: t, statuses: ["testing", "testing", "testing"],
                  strip: ["Alive: 0", "Dead: 0", "DNS fail: 0", "Testing: 3", "Finished 0 of 3"].concat(busy) },
                { tag: "part", steps: t.concat([[0, "timeout"], [1, "alive", 143]]), statuses: ["timeout", "alive 143", "testing"],
                  strip: ["Alive: 1", "Dead: 1", "DNS fail: 0", "Testing: 1", "Finished 2 of 3"].concat(busy) },
                { tag: "done", steps: t.concat([[0, "alive"], [1, "dns_fail"], [2, "dead"]]), statuses: ["alive -1", "dns_fail", "dead"],
                  strip: ["Alive: 1", "Dead: 1", "DNS fail: 1", "Testing: 0", "Done in N s"].concat(idle) },
                { tag: "row again", steps: t.concat([[0, "alive", 143], [0, "testing"], [0, "dead"]]), statuses: ["dead", "testing", "testing"],
                  strip: ["Alive: 0", "Dead: 1", "DNS fail: 0", "Testing: 2", "Finished 1 of 3"].concat(busy) },
                { tag: "sorted", steps: t.concat([[0, "dead"], [1, "alive", 143], [2, "timeout"], "Sort"]), statuses: ["alive 143", "timeout", "dead"],
                  strip: ["Alive: 1", "Dead: 2", "DNS fail: 0", "Testing: 0", "Done in N s"].concat(idle) },
                { tag: "stopped", steps: t.concat([[1, "alive", 143], "Stop"]), statuses: ["unknown", "alive 143", "unknown"],
                  strip: ["Alive: 1", "Dead: 0", "DNS fail: 0", "Testing: 0"].concat(idle) },
                { tag: "cancelled elsewhere", steps: t.concat([[1, "alive", 143], "cancel"]), statuses: ["testing", "alive 143", "testing"],
                  strip: ["Alive: 1", "Dead: 0", "DNS fail: 0", "Testing: 2"].concat(idle) },
                { tag: "row removed", steps: t.concat([[0, "alive", 143], [1, "dead"], "remove"]), statuses: ["dead", "testing"],
                  strip: ["Alive: 0", "Dead: 1", "DNS fail: 0", "Testing: 1", "Finished 1 of 3"].concat(busy) }]
        }

        function test_counts(data) {
            addRows([["127.0.0.1", 1, "alive", "x", 5], ["127.0.0.2", 2, "dead", ""], ["127.0.0.3", 3, "testing", ""]])
            mouseClick(H.findButton(root.page, "▶ Test"))
            data.steps.forEach(function(step) {
                if (step === "remove")
                    return model.remove(0)
                if (step === "cancel")
                    return proxyTest.cancelAll()
                if (typeof step === "string")
                    return mouseClick(H.findButton(root.page, step))
                if (step[2])
                    proxyTest.proxyLatency(step[0], step[2])
                proxyTest.proxyResult(step[0], step[1] === "alive", "", "", step[1])
            })
            compare(H.rowsOf(model).map(function(r, i) { return r[2] === "alive" ? "alive " + model.get(i).latency : r[2] }), data.statuses)
            compare(proxyTest.calls.slice(-1), [/stopped|cancelled/.test(data.tag) ? "cancelAll" : "testList"])
            // During a run the strip follows the counts a few times a second.
            tryCompare({ get names() { return strip().map(function(n) { return n.replace(/^Done in \d+\.\d s$/, "Done in N s") }) } },
                       "names", data.strip)
        }

        // Alive by time, then timeout, dead, dns_fail and the rest; ties keep their order.
        function test_sort() {
            var statuses = ["unknown", "dead", "alive", "dns_fail", "timeout", "alive", "unknown", "dead", "alive", "alive"]
            var latencies = [-1, -1, 300, -1, -1, 20, -1, -1, -1, 20]
            addRows(statuses.map(function(s, i) { return ["127.0.0." + i, i, s, "", latencies[i]] }))
            mouseClick(H.findButton(root.page, "Sort"))
            compare(H.rowsOf(model).map(function(r) { return r[1] }), [5, 9, 2, 8, 4, 1, 7, 3, 0, 6])
            compare(H.rowsOf(model).map(function(r, i) { return model.get(i).latency }), [20, 20, 300, -1, -1, -1, -1, -1, -1, -1])
        }

        // Only alive cards while checked, the list unchanged; results still land by the list's index.
        function test_workingOnly() {
            addRows([["127.0.0.1", 1, "alive", ""], ["127.0.0.2", 2, "dead", ""], ["127.0.0.3", 3, "alive", ""]])
            var before = H.rowsOf(model), grid = H.gridOf(root.page)
            mouseClick(H.findButton(root.page, "Working only"))
            tryCompare(grid, "count", 2)
            proxyTest.proxyResult(1, true, "", "", "alive")
            proxyTest.proxyResult(0, false, "", "", "dead")
            waitForItemPolished(grid)
            compare([0, 1].map(function(i) { return H.cardOf(root.page, i).Accessible.name }), ["127.0.0.2:2, alive", "127.0.0.3:3, alive"])
            before[0][2] = "dead"
            before[1][2] = "alive"
            compare(H.rowsOf(model), before)
            keyClick(Qt.Key_Return) // the box has focus from the click
            tryCompare(grid, "count", 3)
        }

        // [status, latency, type] → the card's accessible name and the lines it shows.
        function test_cardNames_data() {
            return [["alive", 143, "http", "127.0.0.1:8080, alive, 143 ms", ["127.0.0.1", ":8080", "143 ms"]],
                    ["alive", -1, "http", "127.0.0.1:8080, alive", ["127.0.0.1", ":8080"]],
                    ["dead", 143, "socks5", "127.0.0.1:8080, dead", ["127.0.0.1", ":8080", "SOCKS5"]],
                    ["dns_fail", -1, "socks4", "127.0.0.1:8080, dns_fail", ["127.0.0.1", ":8080", "SOCKS4"]]]
                .map(function(c) { return { tag: c[0] + " " + c[1] + " " + c[2], row: ["127.0.0.1", 8080, c[0], "", c[1], c[2]], name: c[3], lines: c[4] } })
        }

        function test_cardNames(data) {
            addRows([data.row])
            var card = H.cardOf(root.page, 0)
            compare(card.Accessible.name, data.name)
            compare(H.texts(card).filter(function(t) { return t.visible }).map(function(t) { return t.text }), data.lines)
        }
    }
}
