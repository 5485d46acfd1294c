"""In a real window: add a row, set the time-out, export the list through the real
save dialog, remove the rows, import the file back through the open dialog, leave
with Back, and find the list in the store and, after a restart, on the grid.

usage: e2e_settings.py QUILLFEN. Loopback hosts only; no test run."""
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import window  # noqa: E402

SEEDED = [("127.0.0.1", "3128"), ("localhost", "8080"), ("127.0.0.2", "1080")]
EXPORTED = SEEDED + [("127.0.0.1", "3128")]  # after Add
LIST = [{"host": h, "port": int(p)} for h, p in EXPORTED]


def grey_cards(s, count):
    """The grid shows exactly count grey ("unknown") cards, among the first six places."""
    px = s.shot("grid.png")
    return [px(*s.card(i)) == "F5F5F5" for i in range(6)] == [i < count for i in range(6)]


def dialog(s, button, title):
    s.press(button)
    return s.find("dialog", title)


def test(s):
    s.start()
    window.wait("three grey cards", lambda: grey_cards(s, 3))
    s.press("⚙ Settings")
    window.wait("the seeded rows", lambda: s.rows() == SEEDED)
    s.press("Add")
    window.wait("the added row", lambda: s.rows() == EXPORTED)
    s.type_into(s.field("Time-out", 1), "20000")

    name = s.find("text", root=dialog(s, "Export", "Экспорт списка прокси"))
    s.type_into(name, "proxies.json")  # Tab takes the name; only then is the button enabled
    save = s.find("push button", "Open")
    window.wait("the enabled button", lambda: save.getState().contains(s.atspi.STATE_ENABLED))
    s.press(save)
    exported = os.path.join(s.work, "proxies.json")
    window.wait("the exported file", lambda: os.path.exists(exported))
    s.gone("dialog")
    with open(exported, "rb") as f:
        assert f.read() == json.dumps(LIST, indent=4).encode(), "the file holds the list"

    for left in (3, 2, 1):
        s.press(s.find("push button", lambda n: n in ("", "Remove")))
        window.wait(f"{left} rows", lambda: len(s.rows()) == left)
    opened = dialog(s, "Import", "Импорт списка прокси")
    s.click(s.find("label", "proxies.json", root=opened).parent, repeat="2")
    s.gone("dialog")
    window.wait("the imported rows", lambda: s.rows() == EXPORTED)

    expected = {"savedProxies": json.dumps(LIST, separators=(",", ":")), "savedTargetUrl": "http://127.0.0.1:9/test.php",
                "savedAvoidCache": "true", "savedTimeoutMs": "20000", "savedExpectedText": ""}
    s.press("Back")
    window.wait("the saved settings", lambda: window.stored(s.conf) == expected)
    s.close_window()
    s.start()  # nothing is saved on exit, and the store is read at start
    window.wait("four grey cards after a restart", lambda: grey_cards(s, 4))
    assert window.stored(s.conf) == expected, "the store is unchanged by the restart"
    s.close_window()


if __name__ == "__main__":
    sys.exit(window.run(test, sys.argv[1], window.store_text([(h, int(p)) for h, p in SEEDED])))
