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

    // A file whose every entry reads replaces the list (plain-text lines or JSON) and cancels the run; any other, neither,
    // and says why.
    function test_import_data() {
        return [{ tag: "lines", text: "\ufeff# list\r\n127.0.0.9:1\r\nsocks5://u:p@127.0.0.8:2\nnot a proxy\n127.0.0.9:1\n",
                  rows: [["127.0.0.9", 1], ["127.0.0.8", 2]], message: "Imported 2 proxies, 1 lines skipped" },
                { tag: "lines, the first an IPv6 address", text: "[::1]:8080\n", rows: [["::1", 8080]], message: "Imported 1 proxies, 0 lines skipped" },
                { tag: "no line reads", text: "not a proxy\n# note\n127.0.0.1:0", message: "Imported 0 proxies, 2 lines skipped" },
                { tag: "JSON", text: "[{\"port\": 1080, \"note\": 1, \"host\": \"localhost\"}, {\"host\": 5}]", rows: [["localhost", 1080], ["5", 0]] },
                { tag: "JSON with a null element", text: "[{\"host\": \"127.0.0.9\", \"port\": 1}, null]",
                  message: "Nothing imported: element 1 of the list cannot be read" },
                { tag: "JSON of an unknown type", text: "[{\"host\": \"h\", \"port\": 1, \"type\": \"socks9\"}]",
                  message: "Nothing imported: element 0 of the list cannot be read" },
                { tag: "JSON cut short", text: "[{\"host\": \"127.0.0.9\"", message: "Nothing imported: unterminated object at character 22" },
                { tag: "JSON past 400,000 proxies", text: "[" + "{},".repeat(400000) + "{}]",
                  message: "Nothing imported: the list holds more than 400000 proxies" }]
    }
    function test_import(data) {
        verify(proxyTest.saveToFile(env.dir + "/import.txt", data.text))
        accept("loadDialog", "import.txt")
        compare(H.rowsOf(proxies), data.rows ? data.rows.map(function(r) { return r.concat(["unknown", ""]) }) : seeded)
        compare([proxyTest.running, message()], [!data.rows, data.message || ""], "the run is cancelled only when the list is replaced")
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
        compare([proxies.get(1).user, proxies.get(1).password, proxyTest.running, message()], ["u@x", "p w", false, "Imported 1 proxies, 1 lines skipped"])
        proxies.setProperty(1, "status", "alive") // passwords on the clipboard are marked so that its managers keep none
        mouseClick(field("copyWorkingButton"))
        compare([ListTools.clipboardText(), env.clipboardSecret()], ["socks5://u%40x:p%20w@[::1]:1080\n", true])
    }

    // A user name from a file or the clipboard is drawn as its characters.
    function test_userNameIsShownLiterally() {
        proxies.append({ host: "127.0.0.1", port: 1, type: "socks5", user: "<img src=\"http://127.0.0.1:9/u.png\">", password: "p" })
        var badge = field("typeBadge", 2) // its text: the type, then the user
        verify(badge.visible && H.drawnAsText(badge.children[0], metrics), badge.children[0].text)
    }
}
