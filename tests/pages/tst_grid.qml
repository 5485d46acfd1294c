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
        ListChoices.workingLevel = "any"
        ListChoices.includeAltered = false
        model.clear()
        page = createTemporaryObject(pageComponent, testCase)
    }
    function cleanup() { proxyTest.cancelAll() }
    // Rows as [host, port, status, response, latency].
    function addRows(rows) {
        rows.forEach(function(r) { model.append({ host: r[0], port: r[1], status: r[2], response: r[3] || "", latency: r[4] || -1 }) })
        tryVerify(function() { return H.cardOf(page, rows.length - 1) !== null })
    }

    // A host from a file and an answer from a proxy, on the card and in its tooltip, are drawn as their characters;
    // a screen reader hears the answer's words without its markup.
    function test_untrustedTextIsShownLiterally() {
        var host = "<img src=\"http://127.0.0.1:9/h.png\">", answer = "<b>hi</b><img src=\"http://127.0.0.1:9/a.png\"> there"
        addRows([[host, 3128, "alive", answer]])
        var card = H.cardOf(page, 0), tooltip = Array.prototype.find.call(card.children[1].data, function(d) { return d.closePolicy !== undefined })
        mouseMove(card, card.width / 2, card.height / 2)
        tryCompare(tooltip, "visible", true)
        var drawn = function(i) { return i.textFormat !== undefined && i.visible }, shown = H.walk(card, drawn).concat(H.walk(tooltip.contentItem, drawn))
        compare(shown.map(function(t) { return t.text }).concat(card.Accessible.description), [host, ":3128", host, answer, "hi there"])
        shown.forEach(function(t) { verify(H.drawnAsText(t, metrics), t.text) })
    }

    // While the target URL cannot be tested, Test asks for one and probes nothing.
    function test_targetNeeded_data() { return ["https://quillfen.example.net/test.php", "", "127.0.0.1:9/t"].map(function(u) { return { tag: u, url: u } }) }
    function test_targetNeeded(data) {
        addRows([["127.0.0.1", env.silentPort, "alive", "x", 5]])
        var asked = 0
        page.targetNeeded.connect(function() { asked++ })
        proxyTest.setTargetUrl(data.url)
        mouseClick(H.findButton(page, "▶ Test"))
        proxyTest.setTargetUrl("http://127.0.0.1:9/t")
        compare([asked, proxyTest.running, H.rowsOf(model)[0][2]], [1, false, "alive"])
    }

    // Test over three rows, then results ([row, status, time or reason]) and other steps; then the rows (status, and
    // time or reason), the cards shown in their order, and the strip: the five counts, and what follows.
    function test_run_data() {
        var done = [[0, "alive", 300], [1, "dead", "Connection refused"], [2, "alive", 20]]
        return [{ tag: "part, working only shown", steps: ["Working only", [0, "timeout", "Timeout"], [1, "alive", 143]],
                  rows: ["timeout Timeout", "alive 143", "testing"], cards: ["alive, 143 ms"], strip: [1, 0, 1, 0, 1, "Finished 2 of 3", "Stop"] },
                { tag: "done, sorted", steps: done.concat("Sort"), rows: ["alive 300", "dead Connection refused", "alive 20"],
                  cards: ["alive, 20 ms", "alive, 300 ms", "dead"], strip: [2, 1, 0, 0, 0, "Done in N s", "List order"] },
                { tag: "sorted, then in list order", steps: done.concat("Sort", "List order"), cards: ["alive, 300 ms", "dead", "alive, 20 ms"],
                  strip: [2, 1, 0, 0, 0, "Done in N s", "Sort"] },
                { tag: "stopped", steps: [[1, "alive", 143], "Stop"], rows: ["unknown", "alive 143", "unknown"], strip: [1, 0, 0, 0, 0, "Stopped: 2 not tested", "Sort"] },
                // As Add, Paste and Import do: its rows stay "testing", but the run is over.
                { tag: "cancelled elsewhere", steps: [[1, "alive", 143], "cancel"], rows: ["testing", "alive 143", "testing"],
                  strip: [1, 0, 0, 0, 2, "Sort"] }]
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
            if (typeof step[2] === "number") // a time comes just before its "alive"
                proxyTest.proxyLatency(step[0], step[2])
            proxyTest.proxyResult(step[0], step[1] === "alive", "", step[2] || "", step[1])
        })
        if (data.rows)
            compare(H.rowsOf(model).map(function(r, i) { return r[2] + (r[2] === "alive" ? " " + model.get(i).latency : r[3] ? " " + r[3] : "") }), data.rows)
        var grid = page.children[0].children[0]
        if (data.cards) // results land by the list's index, the grid filtered or sorted or not
            tryCompare({ get names() { return Array.from({ length: grid.count }, function(_, i) { var c = grid.itemAtIndex(i); return c && c.Accessible.name.replace(/^[^,]*, /, "") }) } },
                       "names", data.cards)
        var strip = ["Alive: ", "Dead: ", "Timeout: ", "DNS fail: ", "Testing: "].map(function(label, i) { return label + data.strip[i] })
        // During a run the strip follows the counts a few times a second.
        tryCompare({ get names() { return H.walk(page.children[0].children[2], function(i) { return i.visible && i.Accessible.name && !/^The target/.test(i.Accessible.name) })
                                        .map(function(i) { return i.Accessible.name.replace(/^Done in \d+\.\d s$/, "Done in N s") }) } },
                   "names", strip.concat(data.strip.slice(5), "Working only", "Copy working", "Level: Any level", "Include altered"))
    }

    // What live proxies revealed lands on their cards and in the level counts; Working only, Copy working follow the
    // level chosen and "Include altered". Rows: elite DE, anonymous, altered transparent; then cards and lines copied.
    function test_levels_data() {
        return [{ tag: "any", level: "any", cards: ["alive, 143 ms, elite, DE", "alive, 20 ms, anonymous", "testing"], lines: 2 },
                { tag: "anonymous or better", level: "anonymous", working: true, cards: ["alive, 143 ms, elite, DE", "alive, 20 ms, anonymous"], lines: 2 },
                { tag: "elite", level: "elite", working: true, cards: ["alive, 143 ms, elite, DE"], lines: 1 },
                { tag: "altered included", level: "any", altered: true, working: true,
                  cards: ["alive, 143 ms, elite, DE", "alive, 20 ms, anonymous", "alive, 9 ms, altered"], lines: 3 }]
    }
    function test_levels(data) {
        addRows([["127.0.0.1", env.silentPort, "unknown"], ["127.0.0.1", env.silentPort, "unknown"], ["127.0.0.1", env.silentPort, "unknown"]])
        mouseClick(H.findButton(page, "▶ Test"))
        tryCompare(model, "testingCount", 3)
        proxyTest.targetChecked(false, "The target does not answer directly: refused")
        var profiles = [{ anonymity: "elite", country: "DE" }, { anonymity: "anonymous", country: "" }, { anonymity: "transparent", altered: true }]
        ;[143, 20, 9].forEach(function(ms, i) {
            if (i === 2 && !data.altered)
                return
            proxyTest.proxyProfile(i, profiles[i])
            proxyTest.proxyLatency(i, ms)
            proxyTest.proxyResult(i, true, "", "", "alive")
        })
        ListChoices.workingLevel = data.level
        ListChoices.includeAltered = data.altered === true
        if (data.working)
            mouseClick(H.findButton(page, "Working only"))
        var grid = page.children[0].children[0], strip = page.children[0].children[2]
        tryCompare({ get names() { return Array.from({ length: grid.count }, function(_, i) { var c = grid.itemAtIndex(i); return c && c.Accessible.name.replace(/^[^,]*, /, "") }) } },
                   "names", data.cards)
        var chips = H.walk(strip, function(i) { return i.visible && /^(Elite|Anonymous|Transparent): |^The target/.test(i.Accessible.name) })
        compare(chips.map(function(i) { return i.Accessible.name }), ["Elite: 1", "Anonymous: 1", "Transparent: " + (data.altered ? 1 : 0),
                                                                        "The target does not answer directly: refused"])
        mouseClick(H.findButton(strip, "Copy working"))
        compare(ListTools.clipboardText().split("\n").filter(function(l) { return l !== "" }).length, data.lines)
    }
}
