import QtQuick
import QtTest
import "helpers.js" as H

// The main window over a settings store that each case seeds afresh.
TestCase {
    id: testCase
    name: "Window"
    when: windowShown

    readonly property string defaultTarget: "https://quillfen.example.net/test.php"
    readonly property var loopbackSettings: ({
        savedTargetUrl: "http://127.0.0.1:9/test.php",
        savedAvoidCache: false,
        savedTimeoutMs: 2000
    })
    property var win: null

    function defaultRows() {
        var rows = []
        for (var i = 1; i <= 20; i++)
            rows.push({ host: "192.168.1." + i, port: 3128, status: "unknown", response: "" })
        return rows
    }

    function compactJson(rows) {
        return "[" + rows.map(function(r) {
            return "{\"host\":\"" + r.host + "\",\"port\":" + r.port + "}"
        }).join(",") + "]"
    }

    function seeded(savedProxies) {
        var seed = Object.assign({}, loopbackSettings)
        seed.savedProxies = savedProxies
        return seed
    }

    function open() {
        proxyTest.reset()
        var component = Qt.createComponent("qrc:/qt/qml/Quillfen/main.qml")
        compare(component.status, Component.Ready, component.errorString())
        win = component.createObject(null)
        verify(win)
    }

    // Destroying the window flushes whatever its settings object still holds.
    function close() {
        if (!win)
            return
        win.destroy()
        win = null
        wait(50)
    }

    function cleanup() {
        close()
    }

    function find(predicate) {
        var data = win.contentItem.data
        for (var i = 0; i < data.length; i++) {
            if (predicate(data[i]))
                return data[i]
        }
        return null
    }

    function proxyModel() {
        return find(function(o) { return String(o).indexOf("QQmlListModel") === 0 })
    }

    function stack() {
        return find(function(o) { return o.depth !== undefined && o.currentItem !== undefined })
    }

    function waitForGrid() {
        tryVerify(function() { return stack().currentItem.settingsClicked !== undefined && !stack().busy },
                  15000, "the grid page replaces the splash")
        return stack().currentItem
    }

    function test_emptyStore() {
        store.fresh()
        open()
        compare(H.rowsOf(proxyModel()), defaultRows())
        compare(proxyTest.calls, ["setTargetUrl", "setAvoidCache", "setTimeoutMs"])
        close()

        compare(store.value("savedProxies"), compactJson(defaultRows()))
        compare(store.value("savedTargetUrl"), defaultTarget)
        compare(store.value("savedAvoidCache"), "true")
        compare(store.value("savedTimeoutMs"), "15000")
    }

    function test_storedList_data() {
        var first = { host: "10.0.0.1", port: 8080, status: "unknown", response: "" }
        return [
            { tag: "empty array", stored: "[]", rows: [], saved: "[]" },
            { tag: "not JSON", stored: "not json", rows: defaultRows(), saved: compactJson(defaultRows()) },
            { tag: "JSON object", stored: "{\"host\":\"10.0.0.1\",\"port\":8080}", rows: [],
              saved: "{\"host\":\"10.0.0.1\",\"port\":8080}" },
            { tag: "second element null", stored: "[{\"host\":\"10.0.0.1\",\"port\":8080},null]",
              rows: [first].concat(defaultRows()), saved: compactJson([first].concat(defaultRows())) },
            { tag: "indented, members reordered", stored: "[\n    {\n        \"port\": 8080,\n        \"host\": \"10.0.0.1\"\n    }\n]",
              rows: [first], saved: "[\n    {\n        \"port\": 8080,\n        \"host\": \"10.0.0.1\"\n    }\n]" }
        ]
    }

    function test_storedList(data) {
        store.fresh(seeded(data.stored))
        open()
        compare(H.rowsOf(proxyModel()), data.rows)
        compare(proxyTest.targetUrl, loopbackSettings.savedTargetUrl)
        compare(proxyTest.avoidCache, false)
        compare(proxyTest.timeoutMs, 2000)
        close()
        compare(store.value("savedProxies"), data.saved)
        compare(store.value("savedTargetUrl"), loopbackSettings.savedTargetUrl)
    }

    function test_pagesAndLayout() {
        store.fresh(seeded("[{\"host\":\"10.0.0.1\",\"port\":1},{\"host\":\"10.0.0.2\",\"port\":2},{\"host\":\"10.0.0.3\",\"port\":3}]"))
        open()
        compare(win.width, 400)
        compare(win.height, 700)
        compare(win.title, "Quillfen")
        verify(stack().currentItem.timeout !== undefined, "the window opens on the splash page")

        var page = waitForGrid()
        compare(stack().depth, 1)
        compare(page.proxyModel, proxyModel())
        compare(page.width, 400)
        compare(page.height, 700)
        compare(page.columns, 2)
        tryVerify(function() { return H.cardOf(page, 2) !== null })

        // Cards of 180 × 70 in two columns, 10 from the window's edge plus 5 of cell inset.
        var corners = [[15, 15], [205, 15], [15, 95]]
        for (var i = 0; i < corners.length; i++) {
            var card = H.cardOf(page, i)
            compare(card.width, 180)
            compare(card.height, 70)
            var at = card.mapToItem(page, 0, 0)
            compare([at.x, at.y], corners[i])
        }

        // Both buttons on one line, centred, 20 above the bottom edge.
        var test = H.findButton(page, "▶ Test")
        var settings = H.findButton(page, "⚙ Settings")
        var testAt = test.mapToItem(page, 0, 0)
        var settingsAt = settings.mapToItem(page, 0, 0)
        compare([test.width, test.height, settings.width, settings.height], [130, 46, 130, 46])
        compare(testAt.y, settingsAt.y)
        compare(testAt.y + test.height, 680)
        compare(settingsAt.x - (testAt.x + test.width), 20)
        compare(testAt.x, 400 - (settingsAt.x + settings.width))
    }

    function test_backSavesAndRestartForgetsStatus() {
        store.fresh(seeded("[{\"host\":\"10.0.0.1\",\"port\":8080},{\"host\":\"10.0.0.2\",\"port\":8081}]"))
        open()
        var grid = waitForGrid()
        var model = proxyModel()
        proxyTest.sendResult(0, true, "ok", "", "alive")
        proxyTest.sendResult(1, false, "", "Timeout", "timeout")
        model.setProperty(0, "port", 7070)

        mouseClick(H.findButton(grid, "⚙ Settings"))
        tryVerify(function() { return stack().depth === 2 && !stack().busy })
        var settingsPage = stack().currentItem
        compare(settingsPage.proxyModel, model)

        model.setProperty(1, "port", 9090)
        model.append({ host: "10.0.0.3", port: 8082, status: "unknown", response: "" })
        proxyTest.setTargetUrl("http://127.0.0.1:9/other.php")
        proxyTest.setAvoidCache(true)
        proxyTest.setTimeoutMs(5000)
        wait(700)
        compare(store.value("savedProxies"), "[{\"host\":\"10.0.0.1\",\"port\":8080},{\"host\":\"10.0.0.2\",\"port\":8081}]",
                "nothing is saved before Back")

        mouseClick(H.findButton(settingsPage, "Back"))
        tryVerify(function() { return stack().depth === 1 && !stack().busy })
        compare(stack().currentItem, grid)
        compare(H.rowsOf(model), [{ host: "10.0.0.1", port: 7070, status: "alive", response: "ok" },
                                  { host: "10.0.0.2", port: 9090, status: "timeout", response: "" },
                                  { host: "10.0.0.3", port: 8082, status: "unknown", response: "" }])
        var saved = "[{\"host\":\"10.0.0.1\",\"port\":7070},{\"host\":\"10.0.0.2\",\"port\":9090},{\"host\":\"10.0.0.3\",\"port\":8082}]"
        tryVerify(function() { return store.value("savedProxies") === saved }, 5000, store.value("savedProxies"))
        compare(store.value("savedTargetUrl"), "http://127.0.0.1:9/other.php")
        compare(store.value("savedAvoidCache"), "true")
        compare(store.value("savedTimeoutMs"), "5000")

        close()
        open()
        compare(H.rowsOf(proxyModel()), [{ host: "10.0.0.1", port: 7070, status: "unknown", response: "" },
                                         { host: "10.0.0.2", port: 9090, status: "unknown", response: "" },
                                         { host: "10.0.0.3", port: 8082, status: "unknown", response: "" }])
        compare(proxyTest.targetUrl, "http://127.0.0.1:9/other.php")
        compare(proxyTest.avoidCache, true)
        compare(proxyTest.timeoutMs, 5000)
        var page = waitForGrid()
        compare(page.proxyModel, proxyModel())
    }
}
