import QtQuick
import QtTest
import "helpers.js" as H

// The main window over a settings store that each case lays down afresh.
TestCase {
    name: "Window"
    when: windowShown

    readonly property string defaultTarget: "https://quillfen.example.net/test.php"
    property var win: null

    function defaultRows() {
        var rows = []
        for (var i = 1; i <= 20; i++)
            rows.push(["192.168.1." + i, 3128, "unknown", ""])
        return rows
    }

    function compactJson(rows) {
        return "[" + rows.map(function(r) { return "{\"host\":\"" + r[0] + "\",\"port\":" + r[1] + "}" }).join(",") + "]"
    }

    // A settings file with loopback settings and one proxy, but for the raw values given.
    function ini(raw) {
        var keys = Object.assign({ savedProxies: quoted("[{\"host\":\"127.0.0.11\",\"port\":8080}]"),
                                   savedTargetUrl: "http://127.0.0.1:9/t", savedAvoidCache: "false", savedTimeoutMs: "2000" }, raw)
        return "[ProxyConfig]\n" + Object.keys(keys).map(function(k) { return k + "=" + keys[k] + "\n" }).join("")
    }

    function quoted(text) {
        return "\"" + text.replace(/\\/g, "\\\\").replace(/"/g, "\\\"").replace(/\n/g, "\\n") + "\""
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
        if (win) {
            win.destroy()
            win = null
            wait(50)
        }
    }

    function cleanup() { close() }

    function find(predicate) { return Array.prototype.find.call(win.contentItem.data, predicate) }
    function proxyModel() { return find(function(o) { return String(o).indexOf("ProxyListModel") === 0 }) }
    function stack() { return find(function(o) { return o.depth !== undefined && o.currentItem !== undefined }) }

    function waitForGrid() {
        tryVerify(function() { return stack().currentItem.settingsClicked !== undefined && !stack().busy },
                  15000, "the grid page replaces the splash")
        return stack().currentItem
    }

    // Start-up over an empty, seeded, edited or damaged store. A time-out outside 1000 to 60000
    // gives way to 15000; values the store cannot convert keep their defaults; a list that cannot
    // be read gives the twenty defaults after whatever was read, saved at once; one that can be
    // read stays as stored, its rows text hosts and numeric ports.
    function test_startUp_data() {
        var first = ["127.0.0.11", 8080, "unknown", ""], blank = ["", 0, "unknown", ""]
        var unset = { url: defaultTarget, avoid: true, timeout: 15000, rows: "defaults" }
        var nanVariant = "@Variant(\\0\\0\\0\\x6\\x7f\\xf8\\0\\0\\0\\0\\0\\0)" // a double NaN
        var intVariant = "@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)" // the int 5
        var cases = [
            Object.assign({ tag: "empty store", bytes: null, keysWritten: true }, unset),
            { tag: "empty array", list: "[]", rows: [] },
            { tag: "not JSON", list: "not json", rows: "defaults" },
            { tag: "JSON object", list: "{\"host\":\"127.0.0.11\",\"port\":8080}", rows: [] },
            { tag: "second element null", list: "[{\"host\":\"127.0.0.11\",\"port\":8080},null]",
              rows: [first].concat(defaultRows()), saved: compactJson([first].concat(defaultRows())) },
            { tag: "second element of an unknown type", list: "[{\"host\":\"127.0.0.11\",\"port\":8080},{\"host\":\"h\",\"port\":1,\"type\":\"ftp\"}]",
              rows: [first].concat(defaultRows()), saved: compactJson([first].concat(defaultRows())) },
            { tag: "indented, members reordered", list: "[\n    {\n        \"port\": 8080,\n        \"host\": \"127.0.0.11\"\n    }\n]" },
            { tag: "list a JSON string", list: "\"ab\"", rows: [] },
            { tag: "list of odd members", list: "[{\"host\":5,\"port\":\"x\"},{\"host\":\"h\",\"port\":\"81\"},{}]",
              rows: [["5", 0, "unknown", ""], ["h", 81, "unknown", ""], blank], grid: true },
            { tag: "list with a length", list: "{\"length\":1e9}", rows: "defaults" },
            { tag: "list nested 100000 deep", list: "[".repeat(100000), rows: "defaults" },
            { tag: "list not quoted", raw: { savedProxies: "[{\"host\":\"a\",\"port\":1},{\"host\":\"b\",\"port\":2}]" }, rows: "defaults" },
            { tag: "list an int variant", raw: { savedProxies: intVariant }, rows: [] },
            { tag: "host not UTF-8", bytes: ini().replace("127.0.0.11", "127.0.0.1\xff"), rows: [["127.0.0.1\ufffd", 8080, "unknown", ""]] },
            { tag: "time-out abc", raw: { savedTimeoutMs: "abc" }, timeout: 15000 },
            { tag: "time-out 0", raw: { savedTimeoutMs: "0" }, timeout: 15000 },
            { tag: "time-out 60001", raw: { savedTimeoutMs: "60001" }, timeout: 15000 },
            { tag: "time-out beyond int", raw: { savedTimeoutMs: "99999999999" }, timeout: 15000 },
            { tag: "time-out NaN", raw: { savedTimeoutMs: nanVariant }, timeout: 15000 },
            { tag: "switch maybe", raw: { savedAvoidCache: "maybe" }, avoid: true },
            { tag: "URL rectangle", raw: { savedTargetUrl: "@Rect(1 2 3 4)" }, url: defaultTarget },
            { tag: "URL bytes", raw: { savedTargetUrl: "@ByteArray(http://127.0.0.1:9/b)" }, url: "http://127.0.0.1:9/b" },
            { tag: "URL variant", raw: { savedTargetUrl: intVariant }, url: "5" },
            Object.assign({ tag: "file of garbage", bytes: "\x00\xff\xfe\x80\x81[[[[\n=\n\xc3\x28\n" }, unset),
            Object.assign({ tag: "file with a broken group", bytes: "[ProxyConfig\nsavedTimeoutMs=0\n", saved: null }, unset),
            Object.assign({ tag: "folder for a file", folder: true, saved: "", grid: true }, unset)
        ]
        return cases.map(function(c) {
            var d = Object.assign({ url: "http://127.0.0.1:9/t", avoid: false, timeout: 2000, rows: [first] }, c)
            if (c.list !== undefined)
                d.bytes = ini({ savedProxies: quoted(c.list) })
            else if (c.raw)
                d.bytes = ini(c.raw)
            if (d.rows === "defaults")
                d.rows = defaultRows()
            if (d.saved === undefined)
                d.saved = c.rows === "defaults" ? compactJson(defaultRows()) : c.list
            return d
        })
    }

    function test_startUp(data) {
        files.freshStore(data.bytes, !!data.folder)
        open()
        compare(H.rowsOf(proxyModel()), data.rows)
        compare([proxyTest.targetUrl, proxyTest.avoidCache, proxyTest.timeoutMs], [data.url, data.avoid, data.timeout])
        if (data.grid) {
            var page = waitForGrid()
            tryVerify(function() { return H.cardOf(page, data.rows.length - 1) !== null })
        }
        close()
        if (typeof data.saved === "string")
            compare(files.stored("savedProxies"), data.saved)
        if (data.keysWritten)
            compare([files.stored("savedTargetUrl"), files.stored("savedAvoidCache"), files.stored("savedTimeoutMs")],
                    [defaultTarget, "true", "15000"])
    }

    // A file dropped on the grid opens the settings page with the file imported.
    function test_dropImports() {
        files.freshStore(ini())
        open()
        waitForGrid()
        verify(files.write(files.dir + "/dropped.txt", "socks5://127.0.0.12:1080\n127.0.0.13:8080\n"))
        win.importDropped(files.dir + "/dropped.txt")
        tryVerify(function() { return stack().depth === 2 && !stack().busy })
        compare(H.rowsOf(proxyModel()), [["127.0.0.12", 1080, "unknown", ""], ["127.0.0.13", 8080, "unknown", ""]])
        compare(proxyModel().get(0).type, "socks5")
    }

    // Back from the settings page saves the list and the four settings (a
    // store that holds a password readable by its owner alone); a restart
    // shows them again, every row "unknown".
    function test_backSavesAndRestartForgetsStatus() {
        var stored = "[{\"host\":\"127.0.0.11\",\"port\":8080},{\"host\":\"127.0.0.12\",\"port\":8081}]"
        files.freshStore(ini({ savedProxies: quoted(stored) }))
        open()
        verify(stack().currentItem.timeout !== undefined, "the window opens on the splash page")
        var grid = waitForGrid()
        var model = proxyModel()
        proxyTest.proxyResult(0, true, "ok", "", "alive")
        proxyTest.proxyResult(1, false, "", "Timeout", "timeout")

        mouseClick(H.findButton(grid, "⚙ Settings"))
        tryVerify(function() { return stack().depth === 2 && !stack().busy })
        var settings = stack().currentItem
        compare(findChild(settings, "targetField").text, "http://127.0.0.1:9/t")
        findChild(settings, "targetField").text = "http://127.0.0.1:9/other.php"
        mouseClick(findChild(settings, "addButton"))
        model.setProperty(1, "port", 9090)
        model.set(2, { type: "socks5", user: "u", password: "p" })
        proxyTest.setAvoidCache(true)
        proxyTest.setTimeoutMs(5000)
        proxyTest.setExpectedText("ok")
        wait(700)
        compare(files.stored("savedProxies"), stored, "nothing is saved before Back")
        verify(!files.storeIsPrivate())

        mouseClick(findChild(settings, "backButton"))
        tryVerify(function() { return stack().depth === 1 && !stack().busy })
        compare(stack().currentItem, grid)
        compare(H.rowsOf(model).map(function(r) { return r[2] }), ["alive", "timeout", "unknown"])
        var saved = "[{\"host\":\"127.0.0.11\",\"port\":8080},{\"host\":\"127.0.0.12\",\"port\":9090},"
            + "{\"host\":\"127.0.0.1\",\"port\":3128,\"type\":\"socks5\",\"user\":\"u\",\"password\":\"p\"}]"
        tryVerify(function() { return files.stored("savedProxies") === saved }, 5000, files.stored("savedProxies"))
        compare([files.stored("savedTargetUrl"), files.stored("savedAvoidCache"), files.stored("savedTimeoutMs"), files.stored("savedExpectedText")],
                ["http://127.0.0.1:9/other.php", "true", "5000", "ok"])
        verify(files.storeIsPrivate())

        close()
        open()
        compare(H.rowsOf(proxyModel()), [["127.0.0.11", 8080, "unknown", ""], ["127.0.0.12", 9090, "unknown", ""],
                                         ["127.0.0.1", 3128, "unknown", ""]])
        var last = proxyModel().get(2)
        compare([last.type, last.user, last.password], ["socks5", "u", "p"])
        compare([proxyTest.targetUrl, proxyTest.avoidCache, proxyTest.timeoutMs, proxyTest.expectedText],
                ["http://127.0.0.1:9/other.php", true, 5000, "ok"])
    }
}
