import QtQuick
import Quillfen

// The changes of the proxy list that the pages offer besides a row's own
// fields: Add, Remove, Clear list, Import, Paste and Undo, each of which the
// next Undo takes back. Each says what it did through told().
QtObject {
    id: edits

    property var model

    signal told(string message)
    signal added(int first, int count) // rows to bring into view

    function plural(n, one, many) { return n + " " + (n === 1 ? one : many) }
    function nameOf(row) {
        var entry = model.get(row)
        return (String(entry.host).indexOf(":") >= 0 ? "[" + entry.host + "]" : entry.host) + ":" + entry.port
    }

    function add() {
        proxyTest.cancelAll()
        model.keepUndo()
        model.append({ host: "127.0.0.1", port: 3128, type: "http", user: "", password: "", status: "unknown", response: "" })
        added(model.count - 1, 1)
    }

    function remove(row) {
        var name = nameOf(row)
        model.keepUndo()
        model.remove(row)
        told("Removed " + name + " (Ctrl+Z brings it back)")
    }

    function clearList() {
        var n = model.count
        if (n === 0)
            return told("The list is empty already")
        proxyTest.cancelAll()
        model.keepUndo()
        model.clear()
        told("Cleared " + plural(n, "proxy", "proxies") + " (Ctrl+Z brings them back)")
    }

    function undo() {
        if (!model.canUndo)
            return told("Nothing to undo")
        proxyTest.cancelAll()
        model.undo()
        told("Undone: the list has " + plural(model.count, "proxy", "proxies") + " again")
    }

    // A proxy list JSON or plain-text lines, added to the list (only the
    // proxies it lacks) or in its place; `source` names where it came from.
    function importText(text, append, source) {
        var first = append ? model.count : 0
        model.keepUndo()
        var read = model.importText(text, append, ListChoices.untypedType)
        if (read.changed) {
            proxyTest.cancelAll()
            added(first, read.imported)
        } else {
            model.dropUndo()
        }
        if (read.json && read.error !== "")
            console.log("Ошибка парсинга JSON:", read.error)
        var parts = [(append ? "Added " : "Imported ") + plural(read.imported, "proxy", "proxies")]
        if (read.duplicates > 0)
            parts.push(plural(read.duplicates, "duplicate", "duplicates") + " left out")
        if (read.skipped > 0)
            parts.push(plural(read.skipped, "line", "lines") + " skipped ("
                       + (read.skippedLines.length === 1 ? "line " : "lines ") + read.skippedLines.join(", ")
                       + (read.skipped > read.skippedLines.length ? ", …)" : ")"))
        if (read.error !== "" && read.imported === 0)
            parts = ["Nothing imported from " + source + ": " + read.error]
        told(parts.join(", "))
        return read
    }

    function paste() {
        var text = ListTools.clipboardText()
        if (text === "")
            return told("The clipboard holds no text")
        importText(text, true, "the clipboard")
    }

    function copyWorking() {
        var lines = model.workingLines(ListChoices.workingLevel, ListChoices.includeAltered)
        ListTools.setClipboardText(lines, model.hasCredentials(true))
        told("Copied " + plural(lines === "" ? 0 : lines.split("\n").length - 1, "working proxy", "working proxies"))
    }
}
