"""A run against loopback peers (tinyproxy before a local page, a refused port, a silent
listener, an empty host): the cards and the strip show the outcomes; Stop, or a run cancelled
on the settings page, leaves no run going; "Copy working" then "Paste" into an emptied list
gives back the alive proxies; nothing is saved on exit."""
import re
import window


def test(s):
    target, refused, silent = s.target(), s.port(), s.port(listen=True)
    # Three silent proxies that would take a minute each: Stop mid-run, then a run cancelled by Add.
    s.write_store(window.store_text([("127.0.0.1", silent)] * 3, target, timeout_ms=60000))
    s.start()
    testing = lambda: s.cards() == [f"127.0.0.1:{silent}, testing"] * 3
    s.press("▶ Test")
    window.wait("cards testing", testing)
    assert s.find("progress bar", "Finished 0 of 3")
    s.press("Stop")
    window.wait("no card testing", lambda: s.cards() == [f"127.0.0.1:{silent}, unknown"] * 3)
    s.find("push button", "Sort")  # shown only while no run is going
    s.press("▶ Test")
    window.wait("cards testing again", testing)
    for button in ("⚙ Settings", "Add", "Back"):  # the run is over, though its rows stay "testing"
        s.press(button)
    s.find("push button", "Sort")
    s.close_window()

    alive = [("127.0.0.1", str(s.tinyproxy())) for _ in range(2)]
    expected = {f"127.0.0.1:{refused}": "dead", ":".join(alive[0]): "alive", f"127.0.0.1:{silent}": "timeout",
                ":".join(alive[1]): "alive", ":3128": "dns_fail"}
    s.write_store(window.store_text([(h, int(p)) for h, p in map(lambda k: k.split(":"), expected)], target, 2000))
    seeded = window.stored(s.conf)["savedProxies"]
    s.start()
    assert s.cards() == [k + ", unknown" for k in expected], s.cards()  # never a run on other proxies
    s.press("▶ Test")
    names = window.wait("every outcome", lambda: all(re.search(", (alive, \\d+ ms|dead|timeout|dns_fail)$", n)
                                                     for n in s.cards()) and s.cards(), 60)
    s.shot("grid.png")
    assert names == [f"{k}, {v}" + (", " + names[i].split(", ")[2] if v == "alive" else "")
                     for i, (k, v) in enumerate(expected.items())], names
    assert "Quillfen test page: OK" in s.find("list item", names[1]).description
    for chip in ("Alive: 2", "Dead: 2", "DNS fail: 1", "Testing: 0"):
        s.find(None, chip)
    assert s.find(None, lambda n: re.fullmatch(r"Done in \d+\.\d s", n))
    assert '"GET /test.php?_t=' in open(s.shots + "/helpers.log").read(), "no cache-busting _t on the page asked for"

    s.press("⚙ Settings")
    s.press("Copy working")
    s.remove_rows()
    s.press("Paste")
    window.wait("the pasted rows", lambda: sorted(s.rows()) == sorted(alive))
    s.shot("pasted.png")
    s.close_window()
    assert window.stored(s.conf)["savedProxies"] == seeded, "the list was saved without Back"


if __name__ == "__main__":
    window.main(test, "")
