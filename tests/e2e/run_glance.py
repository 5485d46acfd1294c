"""A run read the way a screen reader reads it, against loopback peers: the strip's
counts equal the peers' real outcomes, an alive card carries its time, Stop mid-run
leaves no card "testing", and "Copy working" then "Paste" into an emptied list
gives back the alive proxies.

usage: run_glance.py QUILLFEN SCREENSHOT_DIR"""
import re
import sys
import window


def chip(s, label):
    """The number a chip or the progress bar carries in its name ("Alive: 2")."""
    node = s.find(None, lambda n: (n or "").startswith(label))
    return int(re.search(r"\d+", node.name[len(label):]).group())


def settled(s, count):
    names = s.cards()
    return len(names) == count and not any(n.endswith((", testing", ", unknown")) for n in names) and names


def test(s):
    target, refused, silent = s.target(), s.port(False), s.port(True)
    # Stop mid-run: three silent proxies that would take a minute each.
    with open(s.conf, "w") as f:
        f.write(window.store_text([("127.0.0.1", silent)] * 3, target, timeout_ms=60000))
    s.start()
    s.press("▶ Test")
    window.wait("cards testing", lambda: all(n.endswith(", testing") for n in s.cards()) and s.cards())
    assert s.find("progress bar", lambda n: (n or "").startswith("Finished 0 of 3"))
    s.press("Stop")
    window.wait("no card testing", lambda: s.cards() and not any(n.endswith(", testing") for n in s.cards()))
    assert s.cards() == [f"127.0.0.1:{silent}, unknown"] * 3, s.cards()
    s.close_window()

    alive = [("127.0.0.1", str(s.tinyproxy())), ("127.0.0.1", str(s.tinyproxy()))]
    expected = {f"127.0.0.1:{refused}": "dead", alive[0][0] + ":" + alive[0][1]: "alive",
                f"127.0.0.1:{silent}": "timeout", alive[1][0] + ":" + alive[1][1]: "alive", ":3128": "dns_fail"}
    with open(s.conf, "w") as f:
        f.write(window.store_text([(k.split(":")[0], int(k.split(":")[1])) for k in expected], target,
                                  timeout_ms=2000))
    s.start()
    s.press("▶ Test")
    names = window.wait("every outcome", lambda: settled(s, len(expected)), 60)
    s.shot("strip.png")
    for name in names:
        address, status = name.split(", ")[:2]
        assert status == expected[address], f"{name}: the peer's real outcome is {expected[address]}"
        assert (status == "alive") == bool(re.fullmatch(r"[^,]+, alive, \d+ ms", name)), name
    assert [chip(s, k) for k in ("Alive: ", "Dead: ", "DNS fail: ", "Testing: ")] == [2, 2, 1, 0]
    assert s.find(None, lambda n: bool(re.fullmatch(r"Done in \d+\.\d s", n or "")))

    s.press("⚙ Settings")
    s.press("Copy working")
    while s.rows():
        count = len(s.rows())
        s.press(s.find("push button", "Remove"))
        window.wait("a row removed", lambda: len(s.rows()) < count)
    s.press("Paste")
    window.wait("the pasted rows", lambda: sorted(s.rows()) == sorted(alive))
    s.shot("pasted.png")
    s.close_window()


if __name__ == "__main__":
    sys.exit(window.run(test, sys.argv[1], "", shots=sys.argv[2]))
