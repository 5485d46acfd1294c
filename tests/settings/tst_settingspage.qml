import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtTest
import Quillfen

TestCase {
    id: testCase
    name: "SettingsPage"
    when: windowShown
    visible: true
    width: 400
    height: 700

    property var page
    readonly property var seeded: [["127.0.0.1", 3128, "alive", "ok"], ["localhost", 8080, "dead", ""]]

    ListModel { id: proxies }
    Component {
        id: pageComponent
        SettingsPage { width: 400; height: 700; proxyModel: proxies }
    }
    SignalSpy { id: results; target: proxyTest; signalName: "proxyResult" }
    SignalSpy { id: urlChanges; target: proxyTest; signalName: "targetUrlChanged" }

    function rows() {
        var out = []
        for (var i = 0; i < proxies.count; i++) {
            var row = proxies.get(i)
            out.push([row.host, row.port, row.status, row.response])
        }
        return out
    }

    function field(name, row) {
        if (row === undefined)
            return findChild(page, name)
        return findChild(findChild(page, "listView").itemAtIndex(row), name)
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
        dialog.selectedFile = filesDir + "/" + fileName
        dialog.accepted()
    }

    // A run through a closed loopback port: "testing" at once, "dead" soon after.
    function startRun() {
        results.clear()
        proxyTest.testAll([{ host: "127.0.0.1", port: closedPort }])
        compare(results.count, 1)
    }

    function verifyCancelled() {
        wait(1000)
        compare(results.count, 1, "the run was cancelled")
    }

    function init() {
        proxyTest.cancelAll()
        proxyTest.setTargetUrl("http://127.0.0.1:" + closedPort + "/test.php")
        proxyTest.setTimeoutMs(15000)
        proxies.clear()
        for (var i = 0; i < seeded.length; i++)
            proxies.append({ host: seeded[i][0], port: seeded[i][1], status: seeded[i][2], response: seeded[i][3] })
        page = createTemporaryObject(pageComponent, testCase)
        waitForRendering(page)
        urlChanges.clear()
        logTap.take()
    }

    function test_targetUrlFollowsEveryKeystroke() {
        var target = field("targetField")
        compare(target.placeholderText, "https://quillfen.example.net/test.php")
        target.forceActiveFocus()
        target.selectAll()
        keyClick(Qt.Key_Delete)
        compare(proxyTest.targetUrl, "")
        var typed = "http://127.0.0.1:9/x"
        for (var i = 0; i < typed.length; i++) {
            keyClick(typed[i])
            compare(proxyTest.targetUrl, typed.substring(0, i + 1))
        }
        compare(urlChanges.count, typed.length + 1)
        compare(target.text, typed)
    }

    function test_timeoutBelowMinimumIgnored() {
        var timeout = field("timeoutField")
        compare(timeout.text, "15000")
        typeInto(timeout, "999")
        keyClick(Qt.Key_Return)
        field("targetField").forceActiveFocus()
        compare(proxyTest.timeoutMs, 15000)
        compare(timeout.text, "999")
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
        compare(typeof proxies.get(0).port, "number")
        typeInto(field("hostField", 1), " h ")
        keyClick(Qt.Key_Return)
        compare(proxies.get(1).host, " h ")
        mouseClick(field("removeButton", 0))
        compare(rows(), [[" h ", 8080, "dead", ""]])
    }

    function test_addCancelsRun() {
        startRun()
        tryVerify(function() { return results.count === 2 }, 10000, "an uncancelled run ends by itself")
        startRun()
        mouseClick(field("addButton"))
        compare(rows(), seeded.concat([["127.0.0.1", 3128, "unknown", ""]]))
        verifyCancelled()
    }

    function test_export_data() {
        return [
            { tag: "two rows", rows: 2, text: JSON.stringify([{ host: "127.0.0.1", port: 3128 }, { host: "localhost", port: 8080 }], null, 4) },
            { tag: "empty list", rows: 0, text: "[]" }
        ]
    }

    function test_export(data) {
        var dialog = findChild(page, "saveDialog")
        compare(dialog.title, "Экспорт списка прокси")
        compare(dialog.fileMode, FileDialog.SaveFile)
        compare(dialog.nameFilters, ["JSON files (*.json)", "All files (*)"])
        compare(dialog.defaultSuffix, "json")
        while (proxies.count > data.rows)
            proxies.remove(proxies.count - 1)
        accept("saveDialog", "export.json")
        compare(proxyTest.loadFromFile(filesDir + "/export.json"), data.text)
    }

    function test_exportThenImport() {
        var dialog = findChild(page, "loadDialog")
        compare(dialog.title, "Импорт списка прокси")
        compare(dialog.fileMode, FileDialog.OpenFile)
        compare(dialog.nameFilters, ["JSON files (*.json)", "All files (*)"])
        accept("saveDialog", "round trip.json")
        proxies.setProperty(0, "host", "edited")
        proxies.remove(1)
        startRun()
        accept("loadDialog", "round trip.json")
        compare(rows(), [["127.0.0.1", 3128, "unknown", ""], ["localhost", 8080, "unknown", ""]])
        compare(logTap.take(), [])
        verifyCancelled()
    }

    // Writes a test file: data.text as UTF-8, or data.bytes one byte per
    // character, or data.head, data.unit repeated data.count times, data.tail.
    function writeFile(name, data) {
        if (data.text !== undefined)
            verify(proxyTest.saveToFile(filesDir + "/" + name, data.text))
        else if (data.bytes !== undefined)
            verify(bulk.write(filesDir + "/" + name, data.bytes, "", 0, ""))
        else
            verify(bulk.write(filesDir + "/" + name, data.head, data.unit, data.count, data.tail))
    }

    // ASCII text as UTF-16 with a byte-order mark, one character per byte.
    function utf16(text, littleEndian) {
        var out = littleEndian ? "\xff\xfe" : "\xfe\xff"
        for (var i = 0; i < text.length; i++)
            out += littleEndian ? text[i] + "\x00" : "\x00" + text[i]
        return out
    }

    // Members that the rows cannot hold as they are: a host becomes text,
    // a port a number, 0 when there is none.
    function test_importReadsEveryElement_data() {
        var list = '[{"host": "h", "port": 1}]'
        return [
            { tag: "member order and extras", text: '[{"port": 1080, "note": 1, "host": "localhost"}]', rows: [["localhost", 1080]] },
            { tag: "odd members", text: '[{"port": "8080"}, {"host": 5, "port": true}, 7]', rows: [["", 8080], ["5", 0], ["", 0]] },
            { tag: "odder members", text: '[{"host": null, "port": "abc"}, {"host": {"a": [1]}, "port": [1]}, {"host": "h", "port": -70000.5}, "s"]',
              rows: [["", 0], ["", 0], ["h", -70000.5], ["", 0]] },
            { tag: "empty list", text: "[]", rows: [] },
            { tag: "invalid UTF-8 in a host", bytes: '[{"host": "a\xffb\xc3", "port": 1}]', rows: [["a\ufffdb\ufffd", 1]] },
            { tag: "UTF-16LE with byte-order mark", bytes: utf16(list, true), rows: [["h", 1]] },
            { tag: "UTF-16BE with byte-order mark", bytes: utf16(list, false), rows: [["h", 1]] }
        ]
    }

    function test_importReadsEveryElement(data) {
        writeFile("good.json", data)
        accept("loadDialog", "good.json")
        compare(rows(), data.rows.map(function(r) { return r.concat(["unknown", ""]) }))
        compare(logTap.take(), [])
    }

    function test_failedImportChangesNothing_data() {
        return [
            { tag: "not JSON", text: '[{"host": "127.0.0.9"', logged: true },
            { tag: "JSON object", text: '{"host": "127.0.0.9", "port": 1}', logged: true },
            { tag: "null element", text: '[{"host": "127.0.0.9", "port": 1}, null]', logged: true },
            { tag: "JSON string", text: '"127.0.0.9"', logged: true },
            { tag: "JSON null", text: "null", logged: true },
            { tag: "empty file", text: "", logged: false },
            { tag: "invalid UTF-8", bytes: "[\x80\xc3]", logged: true },
            { tag: "nested 100000 arrays", head: "", unit: "[", count: 100000, tail: "", logged: true },
            { tag: "nested 100000 objects", head: "", unit: '{"a":', count: 100000, tail: "", logged: true },
            // Past about 530,000 elements the script engine's JSON reader crashes.
            { tag: "600000 numbers", head: "[", unit: "1,", count: 600000, tail: "1]", logged: true },
            { tag: "30 MB list", head: "[", unit: '{"host":"127.0.0.9","port":1},', count: 1000000, tail: "[]]", logged: true },
            { tag: "100 MB list", head: "[", unit: '{"host":"127.0.0.9","port":1},', count: 3400000, tail: "[]]",
              logged: "Не удалось прочитать файл: " }
        ]
    }

    function test_failedImportChangesNothing(data) {
        writeFile("bad.json", data)
        startRun()
        var started = bulk.elapsedMs()
        bulk.resetPeak()
        var before = bulk.currentKb()
        accept("loadDialog", "bad.json")
        var lines = logTap.take()
        console.log("import took", bulk.elapsedMs() - started, "ms; resident memory", before, "KiB before,",
                    bulk.peakKb(), "KiB at the peak")
        compare(rows(), seeded)
        compare(lines.length, data.logged ? 1 : 0, lines.join("\n"))
        if (data.logged)
            verify(lines[0].startsWith(data.logged === true ? "Ошибка парсинга JSON: " : data.logged), lines[0])
        tryVerify(function() { return results.count === 2 }, 10000, "the run goes on")
    }

    // 100,000 entries as Export writes them: read in well under the time-out of
    // the test, and the page goes on working with them.
    function test_importLargeList() {
        writeFile("large.json", { head: '[\n    {\n        "host": "first",\n        "port": 1\n    },\n',
                                  unit: '    {\n        "host": "127.0.0.1",\n        "port": 3128\n    },\n', count: 99998,
                                  tail: '    {\n        "host": "last",\n        "port": 65535\n    }\n]' })
        startRun()
        var started = bulk.elapsedMs()
        bulk.resetPeak()
        var before = bulk.currentKb()
        accept("loadDialog", "large.json")
        compare(logTap.take(), [])
        console.log("100000 entries imported in", bulk.elapsedMs() - started, "ms; resident memory", before,
                    "KiB before,", bulk.peakKb(), "KiB at the peak")
        compare(proxies.count, 100000)
        compare([proxies.get(0).host, proxies.get(0).port, proxies.get(0).status], ["first", 1, "unknown"])
        compare([proxies.get(50000).host, proxies.get(50000).port], ["127.0.0.1", 3128])
        verifyCancelled()

        var list = findChild(page, "listView")
        list.positionViewAtEnd()
        var last = null
        tryVerify(function() { last = list.itemAtIndex(99999); return last !== null })
        var host = findChild(last, "hostField")
        compare(host.text, "last")
        typeInto(host, "edited")
        keyClick(Qt.Key_Return)
        compare(proxies.get(99999).host, "edited")
        mouseClick(findChild(last, "removeButton"))
        compare(proxies.count, 99999)
    }

    function findWith(item, member) {
        if (item[member] !== undefined)
            return item
        for (var i = 0; i < item.children.length; i++) {
            var found = findWith(item.children[i], member)
            if (found)
                return found
        }
        return null
    }

    function test_backPersistsThroughMainWindow() {
        store.setValue("savedProxies", '[{"host":"127.0.0.1","port":3128}]')
        store.setValue("savedTargetUrl", "http://127.0.0.1:9/a")
        var window = createTemporaryObject(Qt.createComponent("qrc:/qt/qml/Quillfen/main.qml"), testCase)
        verify(window)
        var grid = null
        tryVerify(function() { grid = findWith(window.contentItem, "settingsClicked"); return grid !== null }, 10000)
        grid.settingsClicked()
        var settings = null
        tryVerify(function() {
            settings = findWith(window.contentItem, "commitChanges")
            return settings !== null && settings.StackView.status === StackView.Active
        }, 10000)
        compare(findChild(settings, "targetField").text, "http://127.0.0.1:9/a")
        findChild(settings, "targetField").text = "http://127.0.0.1:9/b"
        mouseClick(findChild(settings, "addButton"))
        mouseClick(findChild(settings, "backButton"))
        tryVerify(function() { return findWith(window.contentItem, "commitChanges") === null }, 10000, "the page is popped")
        tryVerify(function() {
            return store.value("savedProxies") === '[{"host":"127.0.0.1","port":3128},{"host":"127.0.0.1","port":3128}]'
        }, 10000)
        compare(store.value("savedTargetUrl"), "http://127.0.0.1:9/b")
    }
}
