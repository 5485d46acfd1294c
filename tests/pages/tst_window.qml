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

    // A store edited or damaged outside the program. Every case starts; a time-out
    // outside what the settings page accepts (1000 to 60000) gives way to 15000,
    // values that the Settings type cannot convert keep their defaults, a list
    // that cannot be read gives the twenty defaults, saved at once, and the rows
    // of a list that can be read are text hosts and numeric ports.
    function test_damagedStore_data() {
        var ini = "[ProxyConfig]\n" +
                  "savedProxies=\"[{\\\"host\\\":\\\"10.0.0.1\\\",\\\"port\\\":8080}]\"\n" +
                  "savedTargetUrl=http://127.0.0.1:9/t\nsavedAvoidCache=false\nsavedTimeoutMs=2000\n"
        function key(name, raw) { return ini.replace(new RegExp("^" + name + "=.*$", "m"), name + "=" + raw) }
        var nanVariant = "@Variant(\\0\\0\\0\\x6\\x7f\\xf8\\0\\0\\0\\0\\0\\0)" // a double NaN
        var intVariant = "@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)" // the int 5
        var seededRow = [{ host: "10.0.0.1", port: 8080, status: "unknown", response: "" }]
        var settings = { url: "http://127.0.0.1:9/t", avoid: false, timeout: 2000 }
        var cases = [
            { tag: "time-out abc", bytes: key("savedTimeoutMs", "abc"), timeout: 15000 },
            { tag: "time-out 0", bytes: key("savedTimeoutMs", "0"), timeout: 15000 },
            { tag: "time-out -5", bytes: key("savedTimeoutMs", "-5"), timeout: 15000 },
            { tag: "time-out 60001", bytes: key("savedTimeoutMs", "60001"), timeout: 15000 },
            { tag: "time-out beyond int", bytes: key("savedTimeoutMs", "99999999999"), timeout: 15000 },
            { tag: "time-out NaN", bytes: key("savedTimeoutMs", nanVariant), timeout: 15000 },
            { tag: "time-out list", bytes: key("savedTimeoutMs", "1, 2"), timeout: 15000 },
            { tag: "switch maybe", bytes: key("savedAvoidCache", "maybe"), avoid: true },
            { tag: "switch rectangle", bytes: key("savedAvoidCache", "@Rect(1 2 3 4)"), avoid: true },
            { tag: "URL list", bytes: key("savedTargetUrl", "a, b"), url: defaultTarget },
            { tag: "URL rectangle", bytes: key("savedTargetUrl", "@Rect(1 2 3 4)"), url: defaultTarget },
            { tag: "URL bytes", bytes: key("savedTargetUrl", "@ByteArray(http://127.0.0.1:9/b)"), url: "http://127.0.0.1:9/b" },
            { tag: "URL variant", bytes: key("savedTargetUrl", intVariant), url: "5" },
            { tag: "list a number", bytes: key("savedProxies", "5"), rows: [], saved: "5" },
            { tag: "list an int variant", bytes: key("savedProxies", intVariant), rows: [] },
            { tag: "list a JSON string", bytes: key("savedProxies", "\"\\\"ab\\\"\""), grid: true,
              rows: [{ host: "", port: 0, status: "unknown", response: "" }, { host: "", port: 0, status: "unknown", response: "" }] },
            { tag: "list of odd members", grid: true,
              bytes: key("savedProxies", "\"[{\\\"host\\\":5,\\\"port\\\":\\\"x\\\"},{\\\"host\\\":\\\"h\\\",\\\"port\\\":\\\"81\\\"},{}]\""),
              rows: [{ host: "5", port: 0, status: "unknown", response: "" }, { host: "h", port: 81, status: "unknown", response: "" },
                     { host: "", port: 0, status: "unknown", response: "" }] },
            { tag: "list not quoted", bytes: key("savedProxies", "[{\"host\":\"a\",\"port\":1},{\"host\":\"b\",\"port\":2}]"), rows: "defaults" },
            { tag: "list binary", bytes: key("savedProxies", "\xff\xfe\x01\x80[\x00garbage"), rows: "defaults" },
            { tag: "list with a length", bytes: key("savedProxies", "{\"length\":1e9}"), rows: "defaults" },
            { tag: "list nested 100000 deep", bytes: key("savedProxies", "[".repeat(100000)), rows: "defaults" },
            { tag: "list of 600000 numbers", bytes: key("savedProxies", "\"[" + "1,".repeat(600000) + "1]\""), rows: "defaults" },
            { tag: "host not UTF-8", bytes: ini.replace("10.0.0.1", "10.0.0.\xff"),
              rows: [{ host: "10.0.0.\ufffd", port: 8080, status: "unknown", response: "" }] },
            { tag: "file of garbage", bytes: "\x00\xff\xfe\x80\x81[[[[\n=\n\xc3\x28\n", rows: "defaults", url: defaultTarget, avoid: true, timeout: 15000 },
            { tag: "file with a broken group", bytes: "[ProxyConfig\nsavedTimeoutMs=0\n", rows: "defaults",
              url: defaultTarget, avoid: true, timeout: 15000, saved: null },
            { tag: "folder for a file", folder: true, rows: "defaults", url: defaultTarget, avoid: true, timeout: 15000,
              saved: null, grid: true }
        ]
        return cases.map(function(c) {
            var out = Object.assign({}, settings, { rows: seededRow }, c)
            if (out.rows === "defaults") {
                out.rows = defaultRows()
                if (out.saved === undefined)
                    out.saved = compactJson(defaultRows())
            }
            return out
        })
    }

    function test_damagedStore(data) {
        if (data.folder)
            store.freshFolder()
        else
            store.freshBytes(data.bytes)
        open()
        compare(H.rowsOf(proxyModel()), data.rows)
        compare(proxyTest.targetUrl, data.url)
        compare(proxyTest.avoidCache, data.avoid)
        compare(proxyTest.timeoutMs, data.timeout)
        if (data.grid) {
            var page = waitForGrid()
            tryVerify(function() { return H.cardOf(page, data.rows.length - 1) !== null })
        }
        close()
        if (data.saved)
            compare(store.value("savedProxies"), data.saved)
        if (data.folder)
            compare(store.fileBytes(), "", "the folder is still there")
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
