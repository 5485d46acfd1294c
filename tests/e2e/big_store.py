"""A stored list of 100,000 loopback proxies in the real window: the grid shows it,
"⚙ Settings" opens the list, "Back" returns and saves, and after the window is
closed the stored list is byte for byte what was seeded. No test run is started.

usage: big_store.py QUILLFEN SCREENSHOT_DIR"""
import sys
import window

PROXIES = [(f"127.0.0.{1 + i // 20000}", 10000 + i % 20000) for i in range(100000)]
SLOW = 300  # seconds: loading and saving the list in script takes long under the sanitizers


def saved_list(conf):
    with open(conf, "rb") as f:
        return next(line for line in f.read().split(b"\n") if line.startswith(b"savedProxies="))


def test(s):
    seeded = saved_list(s.conf)
    s.start(SLOW)
    if s.cards():  # the cards carry their names on the accessibility bus
        assert s.cards()[0] == "127.0.0.1:10000, unknown", s.cards()[:2]
    else:  # until then, their colour: six grey cards
        window.wait("the grid", lambda: all(s.shot("big-grid.png")(*s.card(i)) == "F5F5F5" for i in range(6)))
    s.press("⚙ Settings")
    window.wait("the list on the settings page",
                lambda: s.rows()[:2] == [("127.0.0.1", "10000"), ("127.0.0.1", "10001")], SLOW)
    s.shot("big-settings.png")
    # A changed time-out makes Back write the store again, the list included.
    s.type_into(s.field("Time-out", 1), "16000")
    s.press("Back")
    s.find("push button", "▶ Test", SLOW)
    s.gone("push button", "Back")
    window.wait("the saved time-out", lambda: window.stored(s.conf)["savedTimeoutMs"] == "16000")
    s.close_window()
    assert saved_list(s.conf) == seeded, "the stored list changed"


if __name__ == "__main__":
    sys.exit(window.run(test, sys.argv[1], window.store_text(PROXIES), shots=sys.argv[2]))
