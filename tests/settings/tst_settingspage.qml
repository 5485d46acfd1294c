import QtQuick
import QtTest
import Quillfen
import "../pages/helpers.js" as H

// The settings page over a list of the test's, the backend double and real files.
TestCase {
    id: testCase
    name: "SettingsPage"
    when: windowShown
    visible: true // to take the clicks
    width: 400
    height: 700

    property var page
    readonly property var seeded: [["127.0.0.1", 3128, "alive", "ok"], ["localhost", 8080, "dead", ""]]

    ProxyListModel { id: proxies }
    Component {
        id: pageComponent
        SettingsPage { width: 400; height: 700; proxyModel: proxies }
    }
    SignalSpy { id: urlChanges; target: proxyTest; signalName: "targetUrlChanged" }

    function init() {
        proxies.clear()
        seeded.forEach(function(r) { proxies.append({ host: r[0], port: r[1], status: r[2], response: r[3] }) })
        page = createTemporaryObject(pageComponent, testCase)
        waitForRendering(page)
        proxyTest.reset() // after the page has bound to the backend, so no call of its is recorded
        urlChanges.clear()
        logTap.take()
    }

    function field(name, row) {
        return findChild(row === undefined ? page : findChild(page, "listView").itemAtIndex(row), name)
    }

    function typeInto(item, text) {
        item.forceActiveFocus()
        item.selectAll()
        for (var i = 0; i < text.length; i++)
            keyClick(text[i])
    }

    // Accepts a dialog of the page as if the user had picked fileName.
    function accept(dialogName, fileName) {
        var dialog = findChild(page, dialogName)
        dialog.selectedFile = files.dir + "/" + fileName
        dialog.accepted()
    }

    function cancelled() { return proxyTest.calls.indexOf("cancelAll") >= 0 }

    function test_targetUrlFollowsEveryKeystroke() {
        var target = field("targetField")
        compare(target.placeholderText, proxyTest.targetUrl, "the placeholder is the backend's default")
        target.forceActiveFocus()
        target.selectAll()
        keyClick(Qt.Key_Delete)
        var typed = "http://127.0.0.1:9/x"
        for (var i = 0; i < typed.length; i++) {
            keyClick(typed[i])
            compare(proxyTest.targetUrl, typed.substring(0, i + 1))
        }
        compare(urlChanges.count, typed.length + 1, "one change a keystroke, no echo")
    }

    function test_timeoutBelowMinimumIgnored() {
        var timeout = field("timeoutField")
        typeInto(timeout, "999")
        keyClick(Qt.Key_Return)
        field("targetField").forceActiveFocus()
        compare(proxyTest.timeoutMs, 15000)
        typeInto(timeout, "20000")
        keyClick(Qt.Key_Return)
        compare(proxyTest.timeoutMs, 20000)
    }

    function test_rowEditor() {
        var port = field("portField", 0)
        typeInto(port, "0")
        keyClick(Qt.Key_Return)
        field("hostField", 1).forceActiveFocus()
        compare(proxies.get(0).port, 3128)
        typeInto(port, "8080")
        keyClick(Qt.Key_Return)
        compare(proxies.get(0).port, 8080)
        typeInto(field("hostField", 1), " h ")
        keyClick(Qt.Key_Return)
        mouseClick(field("removeButton", 0))
        compare(H.rowsOf(proxies), [[" h ", 8080, "dead", ""]])
    }

    function test_addCancelsRun() {
        mouseClick(field("addButton"))
        compare(H.rowsOf(proxies), seeded.concat([["127.0.0.1", 3128, "unknown", ""]]))
        compare(proxyTest.calls, ["cancelAll"])
    }

    // Exactly JSON.stringify(data, null, 4), over a longer file too.
    function test_export() {
        accept("saveDialog", "export.json")
        compare(proxyTest.loadFromFile(files.dir + "/export.json"),
                JSON.stringify([{ host: "127.0.0.1", port: 3128 }, { host: "localhost", port: 8080 }], null, 4))
        proxies.clear()
        accept("saveDialog", "export.json")
        compare(proxyTest.loadFromFile(files.dir + "/export.json"), "[]")
    }

    function test_exportThenImport() {
        accept("saveDialog", "round trip.json")
        proxies.setProperty(0, "host", "edited")
        proxies.remove(1)
        accept("loadDialog", "round trip.json")
        compare(H.rowsOf(proxies), [["127.0.0.1", 3128, "unknown", ""], ["localhost", 8080, "unknown", ""]])
        compare(logTap.take(), [])
        verify(cancelled())
    }

    // A file (text, one byte a character, then unit count times, then tail) whose
    // every element can be read replaces the list, each member a row cannot hold
    // as it is made a text host or a numeric port (0 when there is none), and
    // cancels the run. Any other file changes nothing, leaves the run alone and
    // logs one line; an empty one logs nothing.
    function test_import_data() {
        var parse = "Ошибка парсинга JSON: ", entry = "{\"host\":\"127.0.0.9\",\"port\":1},"
        return [
            { tag: "member order and extras", text: "[{\"port\": 1080, \"note\": 1, \"host\": \"localhost\"}]", rows: [["localhost", 1080]] },
            { tag: "odd members", text: "[{\"port\": \"8080\"}, {\"host\": 5, \"port\": true}, 7]", rows: [["", 8080], ["5", 0], ["", 0]] },
            { tag: "empty list", text: "[]", rows: [] },
            { tag: "invalid UTF-8 in a host", text: "[{\"host\": \"a\xffb\xc3\", \"port\": 1}]", rows: [["a\ufffdb\ufffd", 1]] },
            { tag: "not JSON", text: "[{\"host\": \"127.0.0.9\"", logged: parse },
            { tag: "JSON object", text: "{\"host\": \"127.0.0.9\", \"port\": 1}", logged: parse },
            { tag: "null element", text: "[{\"host\": \"127.0.0.9\", \"port\": 1}, null]", logged: parse },
            { tag: "JSON string", text: "\"127.0.0.9\"", logged: parse },
            { tag: "JSON null", text: "null", logged: parse },
            { tag: "empty file", text: "" },
            { tag: "invalid UTF-8", text: "[\x80\xc3]", logged: parse },
            { tag: "nested 100000 arrays", text: "", unit: "[", count: 100000, logged: parse },
            { tag: "nested 100000 objects", text: "", unit: "{\"a\":", count: 100000, logged: parse },
            { tag: "100 MB list", text: "[", unit: entry, count: 3400000, tail: "[]]", logged: "Не удалось прочитать файл: " }
        ]
    }

    function test_import(data) {
        verify(files.write(files.dir + "/import.json", data.text, data.unit || "", data.count || 0, data.tail || ""))
        accept("loadDialog", "import.json")
        var lines = logTap.take()
        var rows = data.rows ? data.rows.map(function(r) { return r.concat(["unknown", ""]) }) : seeded
        compare(H.rowsOf(proxies), rows)
        compare(cancelled(), data.rows !== undefined, "the run is cancelled only when the list is replaced")
        compare(lines.length, data.logged ? 1 : 0, lines.join("\n"))
        if (data.logged)
            verify(lines[0].startsWith(data.logged), lines[0])
    }

    // 100,000 entries as Export writes them; the page goes on working with them.
    function test_importLargeList() {
        function entry(host, port) { return "    {\n        \"host\": \"" + host + "\",\n        \"port\": " + port + "\n    }" }
        verify(files.write(files.dir + "/large.json", "[\n" + entry("first", 1) + ",\n", entry("127.0.0.1", 3128) + ",\n", 99998,
                           entry("last", 65535) + "\n]"))
        accept("loadDialog", "large.json")
        compare(logTap.take(), [])
        verify(cancelled())
        compare(proxies.count, 100000)
        compare([proxies.get(0).host, proxies.get(0).port, proxies.get(0).status], ["first", 1, "unknown"])

        var list = findChild(page, "listView")
        list.positionViewAtEnd()
        var last = null
        tryVerify(function() { last = list.itemAtIndex(99999); return last !== null })
        compare(findChild(last, "hostField").text, "last")
        mouseClick(findChild(last, "removeButton"))
        compare(proxies.count, 99999)
    }
}
