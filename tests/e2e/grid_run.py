"""One test run of the real program in a real window, against four loopback peers:
tinyproxy in front of a local page, a refused port, a silent listener and an empty
host name. The cards expose nothing to the accessibility bus yet, and their colour
is the outcome shown, so it is read from screenshots.

usage: grid_run.py QUILLFEN SCREENSHOT_DIR"""
import sys
import window

# (status, border, fill)
EXPECTED = [("alive", "4CAF50", "E8F5E9"), ("dead", "F44336", "FFEBEE"),
            ("timeout", "F44336", "FFEBEE"), ("dns_fail", "000000", "E0E0E0")]
card = window.Session.card


def near(actual, expected):
    return all(abs(int(actual[k:k + 2], 16) - int(expected[k:k + 2], 16)) <= 6 for k in (0, 2, 4))


def colours(s, name, want):
    """A screenshot once every card has its (border, fill); else None."""
    px = s.shot(name)
    return all(near(px(*card(i, 1, 35)), b) and near(px(*card(i, 14, 35)), f) for i, (b, f) in enumerate(want))


def test(s):
    target = s.target()
    proxies = [("127.0.0.1", s.tinyproxy()), ("127.0.0.1", s.port(False)), ("127.0.0.1", s.port(True)), ("", 3128)]
    with open(s.conf, "w") as f:
        f.write(window.store_text(proxies, target, timeout_ms=2000))
    s.start()
    assert s.box(s.frame)[2:] == (400, 700), f"window is {s.box(s.frame)}, not 400 x 700"
    window.wait("four grey cards", lambda: colours(s, "before.png", [("9E9E9E", "F5F5F5")] * 4), 30)
    s.press("▶ Test")
    s.xdotool("mousemove", "395", "400")  # off the cards
    window.wait("the cards' final colours", lambda: colours(s, "grid.png", [e[1:] for e in EXPECTED]), 60)
    with open(s.shots + "/helpers.log") as log:  # http.server's request lines
        assert '"GET /test.php?_t=' in log.read(), "the page was not asked for with the cache-busting _t"
    # Hovering the live card shows its answer below it.
    s.xdotool("mousemove", *map(str, card(0, 90, 35)))
    window.wait("the tooltip under the live card", lambda: near(s.shot("tooltip.png")(*card(0, 90, 90)), "37474F"))
    s.close_window()


if __name__ == "__main__":
    sys.exit(window.run(test, sys.argv[1], "", shots=sys.argv[2]))
