"""Add a row, set the time-out, export through the save dialog, remove the rows, import the file
back through the open dialog, leave with Back: the store, and the grid after a restart, hold it all."""
import json, os, sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import window  # noqa: E402

SEEDED = [("127.0.0.1", "3128"), ("localhost", "8080"), ("127.0.0.2", "1080")]
ROWS = SEEDED + [("127.0.0.1", "3128")]  # after Add
LIST = [{"host": h, "port": int(p)} for h, p in ROWS]


def test(s):
    s.start()
    s.press("⚙ Settings")
    window.wait("the seeded rows", lambda: s.rows() == SEEDED)
    s.press("Add")
    window.wait("the added row", lambda: s.rows() == ROWS)
    s.type_into(s.find("text", "Time-out"), "20000")

    s.press("Export")
    s.type_into(s.find("text", root=s.find("dialog", "Экспорт списка прокси")), "proxies.json")
    save = s.find("push button", "Open")  # enabled once Tab has taken the name
    window.wait("the enabled button", lambda: save.getState().contains(s.atspi.STATE_ENABLED))
    s.press(save)
    exported = os.path.join(s.work, "proxies.json")
    window.wait("the exported file", lambda: os.path.exists(exported) and s.find("dialog", gone=True))
    assert open(exported, "rb").read() == json.dumps(LIST, indent=4).encode(), "the file holds the list"

    s.remove_rows(1)
    s.press("Import")
    item = s.find("label", "proxies.json", root=s.find("dialog", "Импорт списка прокси")).parent
    box = item.queryComponent().getExtents(0)  # screen coordinates; the window sits at 0,0
    s.xdotool("mousemove", str(box.x + box.width // 2), str(box.y + box.height // 2), "click", "--repeat", "2", "1")
    window.wait("the imported rows", lambda: s.rows() == ROWS and s.find("dialog", gone=True))

    s.press("Back")
    window.wait("the saved settings", lambda: window.stored(s.conf) == {
        "savedProxies": json.dumps(LIST, separators=(",", ":")), "savedTargetUrl": "http://127.0.0.1:9/test.php",
        "savedAvoidCache": "false", "savedTimeoutMs": "20000", "savedExpectedText": ""})
    s.close_window()
    s.start()  # the store is read at start
    window.wait("four cards after a restart", lambda: s.cards() == [f"{h}:{p}, unknown" for h, p in ROWS])
    s.close_window()


if __name__ == "__main__":
    window.main(test, window.store_text([(h, int(p)) for h, p in SEEDED], avoid_cache="false"))
