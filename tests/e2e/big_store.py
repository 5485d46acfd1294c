"""A stored list of 100,000 loopback proxies: the grid shows it, "Settings" opens it with the
stored time-out, "Back" saves, and once the window is closed the store holds the list as seeded."""
import window

SLOW = 300  # seconds: loading and saving the list in script takes long under the sanitizers


def test(s):
    seeded = window.stored(s.conf)["savedProxies"]
    s.start(SLOW)
    assert s.cards()[0] == "127.0.0.1:10000, unknown", s.cards()[:2]
    s.press("Settings")
    window.wait("the list", lambda: s.rows()[:2] == [("127.0.0.1", "10000"), ("127.0.0.1", "10001")], SLOW)
    s.shot("big-settings.png")
    timeout = s.find("text", "Time-out")
    assert s.text(timeout) == "1000", "the lowest stored time-out is taken: " + s.text(timeout)
    s.type_into(timeout, "16000")  # a change makes Back write the store again, the list included
    s.press("Back")
    s.find("push button", "Back", SLOW, gone=True)
    window.wait("the saved time-out", lambda: window.stored(s.conf)["savedTimeoutMs"] == "16000", SLOW)
    s.close_window()
    assert window.stored(s.conf)["savedProxies"] == seeded, "the stored list changed"


if __name__ == "__main__":
    window.main(test, window.store_text([(f"127.0.0.{1 + i // 20000}", 10000 + i % 20000) for i in range(100000)],
                                        timeout_ms=1000))
