import QtQuick
import QtTest
import Quillfen
import "helpers.js" as H

// The grid page over a list of the test's. Test runs the real backend against a
// loopback proxy that never answers, so rows stay "testing" until a case says otherwise.
TestCase {
    id: testCase
    name: "Grid"
    when: windowShown
    visible: true // to take the pointer
    width: 400
    height: 700
    property var page

    ProxyListModel { id: model }
    Component { id: pageComponent; ProxyMain { width: 400; height: 700; proxyModel: model } }
    TextMetrics { id: metrics }

    function init() {
        model.clear()
        page = createTemporaryObject(pageComponent, testCase)
    }
    function cleanup() { proxyTest.cancelAll() }
    // Rows as [host, port, status, response, latency].
    function addRows(rows) {
        rows.forEach(function(r) { model.append({ host: r[0], port: r[1], status: r[2], response: r[3] || "", latency: r[4] || -1 }) })
        tryVerify(function() { return H.cardOf(page, rows.length - 1) !== null })
    }

    // An address (any host that starts with a digit) stays whole; a name keeps its first label.
    function test_shortName() {
        compare(["192.168.1.20", "0proxy.example.com", "proxy.eu.example.com", "localhost", ""].map(function(h) { return page.getShortName(h) }),
                ["192.168.1.20", "0proxy.example.com", "proxy", "localhost", ""])
    }

    // A host from a file and an answer from a proxy, on the card and in its tooltip, are drawn as their characters.
    function test_untrustedTextIsShownLiterally() {
        var host = "<img src=\"http://127.0.0.1:9/h.png\">", answer = "<b>hi</b><img src=\"http://127.0.0.1:9/a.png\">"
        addRows([[host, 3128, "alive", answer]])
        var card = H.cardOf(page, 0), tooltip = Array.prototype.find.call(card.data, function(d) { return d.closePolicy !== undefined })
        mouseMove(card, card.width / 2, card.height / 2)
        tryCompare(tooltip, "visible", true)
        var drawn = function(i) { return i.textFormat !== undefined && i.visible }, shown = H.walk(card, drawn).concat(H.walk(tooltip.contentItem, drawn))
        compare(shown.map(function(t) { return t.text }), [page.getShortName(host), ":3128", host, answer])
        shown.forEach(function(t) { verify(H.drawnAsText(t, metrics), t.text) })
    }

    // Test over three rows, then results ([row, status, time if any]) and other steps; then the rows' statuses (alive
    // ones with their times), the cards shown, and the strip: alive, dead, dns_fail and testing counts, and what follows.
    function test_run_data() {
        return [{ tag: "part, working only shown", steps: ["Working only", [0, "timeout"], [1, "alive", 143]], cards: 1,
                  statuses: ["timeout", "alive 143", "testing"], strip: [1, 1, 0, 1, "Finished 2 of 3", "Stop"] },
                { tag: "done, sorted", steps: [[0, "alive", 300], [1, "dns_fail"], [2, "alive", 20], "Sort"],
                  statuses: ["alive 20", "alive 300", "dns_fail"], strip: [2, 0, 1, 0, "Done in N s", "Sort"] },
                { tag: "stopped", steps: [[1, "alive", 143], "Stop"], statuses: ["unknown", "alive 143", "unknown"], strip: [1, 0, 0, 0, "Sort"] },
                // As Add, Paste and Import do: its rows stay "testing", but the run is over.
                { tag: "cancelled elsewhere", steps: [[1, "alive", 143], "cancel"], statuses: ["testing", "alive 143", "testing"],
                  strip: [1, 0, 0, 2, "Sort"] }]
    }
    function test_run(data) {
        addRows([["127.0.0.1", env.silentPort, "alive", "x", 5], ["127.0.0.1", env.silentPort, "dead"], ["127.0.0.1", env.silentPort, "testing"]])
        mouseClick(H.findButton(page, "▶ Test"))
        tryCompare(model, "testingCount", 3)
        compare(H.rowsOf(model)[0][3], "", "the last run's answers are gone")
        data.steps.forEach(function(step) {
            if (step === "cancel")
                return proxyTest.cancelAll()
            if (typeof step === "string")
                return mouseClick(H.findButton(page, step))
            if (step[2]) // a time comes just before its "alive"
                proxyTest.proxyLatency(step[0], step[2])
            proxyTest.proxyResult(step[0], step[1] === "alive", "", "", step[1])
        })
        compare(H.rowsOf(model).map(function(r, i) { return r[2] === "alive" ? "alive " + model.get(i).latency : r[2] }), data.statuses)
        tryCompare(page.children[0].children[0], "count", data.cards || 3) // results land by the list's index, filtered or not
        var strip = ["Alive: ", "Dead: ", "DNS fail: ", "Testing: "].map(function(label, i) { return label + data.strip[i] })
        // During a run the strip follows the counts a few times a second.
        tryCompare({ get names() { return H.walk(page.children[0].children[1], function(i) { return i.visible && i.Accessible.name })
                                        .map(function(i) { return i.Accessible.name.replace(/^Done in \d+\.\d s$/, "Done in N s") }) } },
                   "names", strip.concat(data.strip.slice(4), "Working only"))
    }
}
