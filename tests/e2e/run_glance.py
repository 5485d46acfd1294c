"""A run against loopback peers (tinyproxy before a local page, a refused port, a silent
listener, an empty host): the cards name their outcome and say why the dead ones failed, the
strip counts them; Stop says what it left untested, a run cancelled on the settings page leaves
no run going; Sort orders the grid and not the list; the keyboard walks the cards; "Copy working"
then "Paste" into a cleared list gives back the alive proxies, kept when the window is closed on the
settings page; the next start takes the window's size; at the minimum size every control is inside."""
import re
import window


def inside(s):  # every control shown (a list's rows aside) lies within the window
    frame = s.frame.queryComponent().getExtents(0)
    lists = [n.queryComponent().getExtents(0) for n in s.all("list")]
    for node in s.all():
        e = node.queryComponent().getExtents(0)
        if not any(e.y >= l.y and e.y < l.y + l.height for l in lists):
            assert e.x >= 0 and e.y >= 0 and e.x + e.width <= frame.width and e.y + e.height <= frame.height, node.name


def test(s):
    target, refused, silent = s.target(), s.port(), s.port(listen=True)
    # Three silent proxies that would take a minute each: Stop mid-run, then a run cancelled by Add.
    s.write_store(window.store_text([("127.0.0.1", silent)] * 3, target, timeout_ms=60000))
    s.start()
    testing = lambda: s.cards() == [f"127.0.0.1:{silent}, testing"] * 3
    s.press("Test")
    window.wait("cards testing", testing)
    assert s.find("progress bar", "Finished 0 of 3") and not s.all(None, "Sort", hidden=True)  # not shown: off the bus
    s.press("Stop")
    window.wait("no card testing", lambda: s.cards() == [f"127.0.0.1:{silent}, unknown"] * 3)
    s.find(None, "Stopped: 3 not tested")
    s.press("Test")
    window.wait("cards testing again", testing)
    for button in ("Settings", "Add", "Back"):  # the run is over, though its rows stay "testing"
        s.press(button)
    s.find("push button", "Sort")
    s.xdotool("search", "--name", "^Quillfen$", "windowsize", "400", "640")  # the minimum size
    s.close_window()
    assert (window.stored(s.conf)["savedWindowWidth"], window.stored(s.conf)["savedWindowHeight"]) == ("400", "640")

    alive = [("127.0.0.1", str(s.tinyproxy())) for _ in range(2)]
    expected = {f"127.0.0.1:{refused}": "dead", ":".join(alive[0]): "alive", f"127.0.0.1:{silent}": "timeout",
                ":".join(alive[1]): "alive", ":3128": "DNS fail"}
    s.write_store(window.store_text([(h, int(p)) for h, p in map(lambda k: k.split(":"), expected)], target, 2000)
                  + "savedWindowWidth=400\nsavedWindowHeight=640\n")
    s.start()
    assert s.frame.queryComponent().getExtents(0).height == 640, "the size it was closed at"
    assert s.cards() == [k + ", unknown" for k in expected], s.cards()  # never a run on other proxies
    s.press("Test")
    settled = lambda cards: cards if cards and all(re.search(", (alive, \\d+ ms|dead|timeout|DNS fail)$", n) for n in cards) else None
    names = window.wait("every outcome", lambda: settled(s.cards()), 60)  # one reading of the cards, checked and kept
    assert names == [f"{k}, {v}" + (", " + names[i].split(", ")[2] if v == "alive" else "")
                     for i, (k, v) in enumerate(expected.items())], names
    descriptions = [n.description for n in s.all("list item")]
    assert [d[:6] for d in descriptions] == ["Connec", "Quillf", "Timeou", "Quillf", "DNS fa"], descriptions
    for chip in ("Alive: 2", "Dead: 1", "Timeout: 1", "DNS fail: 1", "Testing: 0"):
        s.find(None, chip)
    assert s.find(None, lambda n: re.fullmatch(r"Done in \d+\.\d s", n))
    assert '"GET /test.php?_t=' in open(s.shots + "/helpers.log").read(), "no cache-busting _t on the page asked for"
    inside(s)
    assert not [n.name for n in s.all(hidden=True) if not n.getState().contains(s.atspi.STATE_SHOWING)], "not shown, yet on the bus"

    s.press("Sort")  # the grid by outcome, the list as it was
    window.wait("sorted cards", lambda: [n.split(", ")[1] for n in s.cards()] == ["alive", "alive", "timeout", "dead", "DNS fail"])
    s.press("List order")
    window.wait("cards in list order", lambda: s.cards() == names)
    s.focus("Test")  # then back across Include altered, the level, Copy working, Working only and Sort to the cards, and along them
    s.xdotool("key", *["shift+Tab"] * 6, "Right", "Return")
    window.wait("the second card", lambda: s.find("list item", names[1]).getState().contains(s.atspi.STATE_FOCUSED))
    s.find("tool tip", descriptions[1])  # its details shown
    s.shot("grid.png")

    s.press("Settings")
    inside(s)
    s.press("Copy working")
    s.press("Clear list")
    s.press("Paste")
    window.wait("the pasted rows", lambda: sorted(s.rows()) == sorted(alive))
    s.shot("pasted.png")
    s.close_window()
    assert window.stored(s.conf)["savedProxies"] == "[" + ",".join(f'{{"host":"{h}","port":{p}}}' for h, p in alive) + "]"


if __name__ == "__main__":
    window.main(test, "")
