import QtQuick
import QtTest
import "helpers.js" as H

// The main window over a settings store that each case lays down afresh.
TestCase {
    name: "Window"
    when: windowShown

    readonly property string oneProxy: "[{\"host\":\"127.0.0.11\",\"port\":8080}]"
    property var win: null

    // A store of loopback settings: the list as stored, and the time-out.
    function ini(list, timeout) {
        return "[ProxyConfig]\nsavedProxies=\"" + list.replace(/\\/g, "\\\\").replace(/"/g, "\\\"")
            + "\"\nsavedTargetUrl=http://127.0.0.1:9/t\nsavedTimeoutMs=" + timeout + "\n"
    }
    function stored(keys) { return keys.map(function(k) { return env.stored(k) }) }
    function open() {
        var component = Qt.createComponent("qrc:/qt/qml/Quillfen/main.qml")
        compare(component.status, Component.Ready, component.errorString())
        win = component.createObject(null)
    }
    // As the user closes it, which saves nothing; destroying it then flushes
    // whatever its settings object still holds.
    function close() {
        win.close()
        win.destroy()
        wait(50)
    }
    function proxyModel() { return Array.prototype.find.call(win.contentItem.data, function(o) { return String(o).indexOf("ProxyListModel") === 0 }) }
    // The page at depth, once the splash has given way to the grid.
    function page(depth) {
        var stack = Array.prototype.find.call(win.contentItem.data, function(o) { return o.depth !== undefined && o.currentItem !== undefined })
        tryVerify(function() { return stack.depth === depth && !stack.busy && stack.currentItem.timeout === undefined }, 15000)
        return stack.currentItem
    }

    // Start-up over an empty, seeded or damaged store. A time-out outside 1000 to
    // 60000 gives way to 15000; a list that cannot be read gives the twenty defaults
    // after whatever was read, saved at once; one that reads stays as it was stored.
    function test_startUp_data() {
        var first = ["127.0.0.11", 8080, "unknown", ""], defaults = []
        for (var i = 1; i <= 20; i++)
            defaults.push(["192.168.1." + i, 3128, "unknown", ""])
        var unset = { url: "https://quillfen.example.net/test.php", timeout: 15000, rows: defaults }
        return [Object.assign({ tag: "empty store", keysWritten: true }, unset),
                { tag: "list with a null element", list: "[{\"host\":\"127.0.0.11\",\"port\":8080},null]", rows: [first].concat(defaults) },
                { tag: "list a JSON string", list: "\"ab\"", rows: [] },
                { tag: "time-out 1000", stored: 1000, timeout: 1000 },
                { tag: "time-out 0", stored: 0, timeout: 15000 },
                { tag: "time-out 60001", stored: 60001, timeout: 15000 },
                Object.assign({ tag: "file of garbage", bytes: "\x00\xff\xfe\x80\x81[[[[\n=\n\xc3\x28\n" }, unset),
                Object.assign({ tag: "folder for a file", folder: true, saved: "" }, unset)
        ].map(function(c) {
            var d = Object.assign({ url: "http://127.0.0.1:9/t", timeout: 2000, rows: [first] }, c)
            if (c.list || c.stored !== undefined)
                d.bytes = ini(c.list || oneProxy, c.stored !== undefined ? c.stored : 2000)
            if (d.saved === undefined) // rows that came from the defaults are saved with them
                d.saved = d.rows.length < 20 ? c.list || oneProxy : JSON.stringify(d.rows.map(function(r) { return { host: r[0], port: r[1] } }))
            return d
        })
    }
    function test_startUp(data) {
        env.freshStore(data.bytes, !!data.folder)
        open()
        compare(H.rowsOf(proxyModel()), data.rows)
        compare([proxyTest.targetUrl, proxyTest.timeoutMs], [data.url, data.timeout])
        if (data.folder) // a store that can be neither read nor written
            tryVerify(function() { return H.cardOf(page(1), 19) !== null })
        proxyModel().append({ host: "127.0.0.12", port: 1 }) // for the close to save, if it did
        close()
        compare(env.stored("savedProxies"), data.saved)
        if (data.keysWritten)
            compare(stored(["savedTargetUrl", "savedAvoidCache", "savedTimeoutMs"]), ["https://quillfen.example.net/test.php", "true", "15000"])
    }

    // A list dropped on the grid opens the settings page with it imported. Back
    // (and nothing before it) saves the list and the four settings, in a store
    // readable by its owner alone once it holds a password; a restart shows them.
    function test_dropEditBack() {
        env.freshStore(ini(oneProxy, 2000))
        open()
        page(1)
        verify(proxyTest.saveToFile(env.dir + "/dropped.txt", "socks5://u:p@127.0.0.12:1080\n127.0.0.13:8080\n"))
        win.importDropped(env.dir + "/dropped.txt")
        var settings = page(2)
        findChild(settings, "targetField").text = "http://127.0.0.1:9/other.php"
        proxyTest.setAvoidCache(false)
        proxyTest.setTimeoutMs(5000)
        proxyTest.setExpectedText("ok")
        wait(700) // the settings object writes what it is given within half a second
        compare([env.stored("savedProxies"), env.storeIsPrivate()], [oneProxy, false], "nothing is saved before Back")
        mouseClick(findChild(settings, "backButton"))
        page(1)
        var keys = ["savedProxies", "savedTargetUrl", "savedAvoidCache", "savedTimeoutMs", "savedExpectedText"], values = ["http://127.0.0.1:9/other.php", false, 5000, "ok"]
        var list = [{ host: "127.0.0.12", port: 1080, type: "socks5", user: "u", password: "p" }, { host: "127.0.0.13", port: 8080 }]
        tryCompare({ get values() { return stored(keys) } }, "values", [JSON.stringify(list)].concat(values.map(String)))
        verify(env.storeIsPrivate())
        close()
        open()
        compare(H.rowsOf(proxyModel()), [["127.0.0.12", 1080, "unknown", ""], ["127.0.0.13", 8080, "unknown", ""]])
        compare([proxyModel().toJson(), proxyTest.targetUrl, proxyTest.avoidCache, proxyTest.timeoutMs, proxyTest.expectedText],
                [JSON.stringify(list)].concat(values))
        close()
    }
}
