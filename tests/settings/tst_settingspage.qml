import QtQuick
import QtTest
import Quillfen
import "../pages/helpers.js" as H

// The settings page over a list of the test's, real files, and a run (to a loopback proxy that never answers).
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
    Component { id: pageComponent; SettingsPage { width: 400; height: 700; proxyModel: proxies } }
    TextMetrics { id: metrics }

    function init() {
        proxies.clear()
        seeded.forEach(function(r) { proxies.append({ host: r[0], port: r[1], status: r[2], response: r[3] }) })
        page = createTemporaryObject(pageComponent, testCase)
        proxyTest.testAll([{ host: "127.0.0.1", port: env.silentPort }])
        waitForRendering(page)
    }
    function cleanup() { proxyTest.cancelAll() }
    function field(name, row) { // the rows' delegates come with the list's next polish
        waitForItemPolished(findChild(page, "listView"))
        return findChild(row === undefined ? page : findChild(page, "listView").itemAtIndex(row), name)
    }
    // Accepts a dialog of the page as if the user had picked fileName.
    function accept(dialogName, fileName) { findChild(page, dialogName).selectedFile = env.dir + "/" + fileName; findChild(page, dialogName).accepted() }
    function message() { return findChild(page, "message").shown ? findChild(page, "message").text : "" }

    // A file that reads is added to the list or replaces it, as chosen, and cancels the run; any other changes
    // neither. The message names the first lines skipped and counts the duplicates left out.
    function test_import_data() {
        return [{ tag: "lines", text: "\ufeff# list\r\n127.0.0.9:1\r\nsocks5://u:p@127.0.0.8:2\nnot a proxy\n",
                  rows: [["127.0.0.9", 1], ["127.0.0.8", 2]], message: "Imported 2 proxies, 1 line skipped (line 4)" },
                { tag: "lines added", choice: "Add to list", text: "localhost:8080\nx\n127.0.0.9:1\n\ny\n", rows: [seeded[0], seeded[1], ["127.0.0.9", 1]],
                  message: "Added 1 proxy, 1 duplicate left out, 2 lines skipped (lines 2, 5)" },
                { tag: "lines, the first an IPv6 address", text: "[::1]:8080\n", rows: [["::1", 8080]], message: "Imported 1 proxy" },
                { tag: "no line reads", text: "not a proxy\n# note\n127.0.0.1:0", message: "Nothing imported from import.txt: " },
                { tag: "JSON", text: "[{\"port\": 1080, \"note\": 1, \"host\": \"localhost\"}, {\"host\": 5}]", rows: [["localhost", 1080], ["5", 0]], message: "Imported 2 proxies" },
                { tag: "JSON with a null element", text: "[{\"host\": \"127.0.0.9\", \"port\": 1}, null]", message: "Nothing imported from import.txt: " },
                { tag: "JSON cut short", text: "[{\"host\": \"127.0.0.9\"", message: "Nothing imported from import.txt: " },
                { tag: "JSON past 400,000 proxies", text: "[" + "{},".repeat(400000) + "{}]",
                  message: "Nothing imported from import.txt: the list holds more than 400000 proxies" },
                { tag: "cancelled", choice: "Cancel", text: "127.0.0.9:1\n", message: "" },
                { tag: "empty file", choice: "", text: "", message: "Nothing imported: import.txt is empty or cannot be read" }]
    }
    function test_import(data) {
        verify(proxyTest.saveToFile(env.dir + "/import.txt", data.text))
        accept("loadDialog", "import.txt")
        if (data.choice !== "")
            mouseClick(H.findButton(findChild(page, "importChoice").contentItem, data.choice || "Replace list"))
        compare(H.rowsOf(proxies), data.rows ? data.rows.map(function(r) { return r.length > 2 ? r : r.concat(["unknown", ""]) }) : seeded)
        compare(proxyTest.running, !data.rows, "the run is cancelled only when the list changes")
        var said = message()
        compare([said.substring(0, data.message.length), said === ""], [data.message, data.message === ""])
    }

    // Copy working puts the alive rows on the clipboard; Paste (button, or Ctrl+V) adds those the list does not hold yet.
    function test_copyPaste_data() {
        return [{ tag: "Paste button", paste: function() { mouseClick(field("pasteButton")) } },
                { tag: "Ctrl+V", paste: function() { field("removeButton", 0).forceActiveFocus(); keyClick(Qt.Key_V, Qt.ControlModifier) } }]
    }
    function test_copyPaste(data) {
        mouseClick(field("copyWorkingButton"))
        compare(ListTools.clipboardText(), "127.0.0.1:3128\n")
        mouseClick(field("removeButton", 0)) // the row of its own button
        ListTools.setClipboardText("localhost:8080\nsocks5://u%40x:p%20w@[::1]:1080\nnope\n")
        data.paste()
        compare(H.rowsOf(proxies), [seeded[1], ["::1", 1080, "unknown", ""]])
        compare([proxies.get(1).user, proxies.get(1).password, proxyTest.running, message()],
                ["u@x", "p w", false, "Added 1 proxy, 1 duplicate left out, 1 line skipped (line 3)"])
        verify(field("hostField", 1).activeFocus, "the new row is edited at once")
        proxies.setProperty(1, "status", "alive") // passwords on the clipboard are marked so that its managers keep none
        mouseClick(field("copyWorkingButton"))
        compare([ListTools.clipboardText(), env.clipboardSecret()], ["socks5://u%40x:p%20w@[::1]:1080\n", true])
    }

    // Each change of the list, then Undo (button or Ctrl+Z) brings the rows back as they were.
    function test_undo_data() {
        return [{ tag: "Clear list", change: function() { mouseClick(field("clearButton")) }, rows: [] },
                { tag: "Remove", change: function() { mouseClick(field("removeButton", 0)) }, rows: [seeded[1]], key: true },
                { tag: "Add", change: function() { mouseClick(field("addButton")) }, rows: seeded.concat([["127.0.0.1", 3128, "unknown", ""]]) },
                { tag: "a host edited", change: function() { field("hostField", 1).text = "127.0.0.7"; field("hostField", 1).editingFinished() },
                  rows: [seeded[0], ["127.0.0.7", 8080, "unknown", ""]], key: true }] // another proxy: untested
    }
    function test_undo(data) {
        data.change()
        compare(H.rowsOf(proxies), data.rows)
        data.key ? keyClick(Qt.Key_Z, Qt.ControlModifier) : mouseClick(field("undoButton"))
        compare([H.rowsOf(proxies), field("undoButton").enabled], [seeded, false])
    }

    // A time-out out of range is kept out and said why; a target URL without a scheme is marked, with its fix.
    // Escape leaves the page as Back does; Export says what it wrote.
    function test_fields() {
        var timeout = field("timeoutField"), target = field("targetField"), left = 0
        page.backClicked.connect(function() { left++ })
        ;["999", "70000", "2000"].forEach(function(typed) {
            timeout.forceActiveFocus()
            timeout.selectAll()
            typed.split("").forEach(function(c) { keyClick(c) })
            keyClick(Qt.Key_Return)
            compare([proxyTest.timeoutMs, timeout.Accessible.description],
                    typed === "2000" ? [2000, "1,000–60,000 ms"] : [60000, "Must be 1,000–60,000; stays 60,000 ms"])
        })
        target.text = "127.0.0.1:9/t"
        compare(target.Accessible.description, "No scheme: add http:// or https://")
        mouseClick(H.findButton(page, "Add http://"))
        compare([proxyTest.targetUrl, target.Accessible.description, H.findButton(page, "Add http://").visible], ["http://127.0.0.1:9/t", "", false])
        keyClick(Qt.Key_Escape)
        accept("saveDialog", "out.json")
        compare([left, message()], [1, "Exported 2 proxies to out.json"])
        proxyTest.setTimeoutMs(60000)
    }

    // A user name from a file or the clipboard is drawn as its characters.
    function test_userNameIsShownLiterally() {
        proxies.append({ host: "127.0.0.1", port: 1, type: "socks5", user: "<img src=\"http://127.0.0.1:9/u.png\">", password: "p" })
        var badge = field("typeBadge", 2) // its text: the type, then the user
        verify(badge.visible && H.drawnAsText(badge.children[0], metrics), badge.children[0].text)
    }

    // Lines without a type take the type chosen; a country database that cannot be read says why under its field;
    // Export working to a .csv name writes CSV, to another name the lines.
    function test_untypedCountryCsv() {
        var untyped = field("untypedBox"), country = field("countryField")
        untyped.currentIndex = 1
        untyped.activated(1)
        ListTools.setClipboardText("127.0.0.5:1080\n")
        mouseClick(field("pasteButton"))
        compare([proxies.get(2).type, ListChoices.untypedType], ["socks4", "socks4"])
        ListChoices.untypedType = "http"
        country.forceActiveFocus()
        country.text = env.dir + "/none.mmdb"
        keyClick(Qt.Key_Return)
        verify(proxyTest.countryDatabaseError !== "" && country.Accessible.description === proxyTest.countryDatabaseError)
        verify(H.walk(page, function(i) { return i.visible && i.text === proxyTest.countryDatabaseError && i.Accessible.role === Accessible.StaticText }).length === 1)
        proxyTest.setCountryDatabase("")
        accept("saveWorkingDialog", "w.csv")
        accept("saveWorkingDialog", "w.txt")
        compare([proxyTest.loadFromFile(env.dir + "/w.csv").split("\n")[0], proxyTest.loadFromFile(env.dir + "/w.txt")],
                ["host,port,type,time in ms,exit address,level,country", "127.0.0.1:3128\n"])
    }
}
