"""Add a row (taken into the keyboard's hands), set the time-out, export through the save dialog
("Save"), clear the list, import the file back through the open dialog (asked: replace), leave with
Escape: the store, and the grid after a restart, hold it all. Closing the window from the settings
page keeps its edits as Back would."""
import json, os, sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import window  # noqa: E402

SEEDED = [("127.0.0.1", "3128"), ("localhost", "8080"), ("127.0.0.2", "1080")]
ROWS = SEEDED + [("127.0.0.1", "3128")]  # after Add
LIST = [{"host": h, "port": int(p)} for h, p in ROWS]


def test(s):
    s.start()
    s.press("Settings")
    window.wait("the seeded rows, the first field focused", lambda: s.rows() == SEEDED
                and s.find("text", "Target URL").getState().contains(s.atspi.STATE_FOCUSED))
    s.press("Add")
    window.wait("the added row, focused", lambda: s.rows() == ROWS and s.all("text", "Host")[-1].getState().contains(s.atspi.STATE_FOCUSED))
    s.type_into(s.find("text", "Time-out"), "20000")

    s.press("Export")
    dialog = s.find("dialog", "Экспорт списка прокси")
    s.type_into(s.find("text", root=dialog), "proxies.json")
    save = s.find("push button", "Save", root=dialog)  # enabled once Tab has taken the name
    window.wait("the enabled button", lambda: save.getState().contains(s.atspi.STATE_ENABLED))
    s.press(save, keys=True)
    exported = os.path.join(s.work, "proxies.json")
    window.wait("the exported file", lambda: os.path.exists(exported) and s.find("dialog", gone=True))
    assert open(exported, "rb").read() == json.dumps(LIST, indent=4).encode(), "the file holds the list"
    s.find(None, "Exported 4 proxies to proxies.json")

    s.remove_rows(1)  # one by one; then Clear list takes the last
    s.press("Clear list", keys=True)  # the keyboard on the button: Ctrl+Z undoes the list's change, not a field's
    window.wait("no rows", lambda: s.rows() == [])
    s.xdotool("key", "ctrl+z")
    window.wait("the row back", lambda: len(s.rows()) == 1)
    s.press("Import")
    dialog = s.find("dialog", "Импорт списка прокси")
    assert s.find("combo box", "Proxy lists (*.txt *.json)", root=dialog)
    box = s.find("label", "proxies.json", root=dialog).parent.queryComponent().getExtents(0)  # the window sits at 0,0
    s.xdotool("mousemove", str(box.x + box.width // 2), str(box.y + box.height // 2), "click", "--repeat", "2", "1")
    s.press("Replace list")
    window.wait("the imported rows", lambda: s.rows() == ROWS and s.find("dialog", gone=True))

    s.xdotool("key", "Escape")
    window.wait("the saved settings", lambda: {k: v for k, v in window.stored(s.conf).items() if "Window" not in k} == {
        "savedProxies": json.dumps(LIST, separators=(",", ":")), "savedTargetUrl": "http://127.0.0.1:9/test.php",
        "savedAvoidCache": "false", "savedTimeoutMs": "20000", "savedExpectedText": "", "savedCountryDatabase": "", "savedUntypedType": "http"})
    s.close_window()
    s.start()  # the store is read at start
    window.wait("four cards after a restart", lambda: s.cards() == [f"{h}:{p}, unknown" for h, p in ROWS])
    s.press("Settings")
    s.press("Clear list")
    s.type_into(s.find("text", "Time-out"), "999")  # kept out: the store keeps 20000
    s.close_window()
    assert (window.stored(s.conf)["savedProxies"], window.stored(s.conf)["savedTimeoutMs"]) == ("[]", "20000")


if __name__ == "__main__":
    window.main(test, window.store_text([(h, int(p)) for h, p in SEEDED], avoid_cache="false"))
