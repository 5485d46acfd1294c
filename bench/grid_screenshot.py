"""Takes the README's screenshots of both pages (docs/): a run over nine loopback proxies,
finished, through the end-to-end helper's window, store and peers, at the window's first size
(grid.png, settings.png), at its minimum size (grid-min.png, settings-min.png) and at 1280 x 900
(grid-1280.png, settings-1280.png). Debian's tinyproxy as working HTTP proxies, microsocks as a
SOCKS5 one (with a user), a refused and a silent port, an unresolvable host name and an empty
one; python3's http.server as the target.

usage: /usr/bin/python3 bench/grid_screenshot.py build/bin/Quillfen docs"""
import json
import os
import re
import shutil
import socket
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import window  # noqa: E402

SIZES = [("", 400, 700), ("-min", 400, 640), ("-1280", 1280, 900)]


def store(proxies, target, width, height):
    listed = json.dumps(proxies, separators=(",", ":"))
    quoted = lambda text: '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'
    return (f"[ProxyConfig]\nsavedProxies={quoted(listed)}\nsavedTargetUrl={quoted(target)}\n"
            f"savedAvoidCache=true\nsavedTimeoutMs=2000\nsavedWindowWidth={width}\nsavedWindowHeight={height}\n")


def take(s, out):
    target, refused, silent = s.target(), s.port(False), s.port(True)
    socks = s.port(False)
    s.sockets.pop().close()
    s.spawn(["microsocks", "-i", "127.0.0.1", "-p", str(socks), "-u", "alice", "-P", "secret"])
    window.wait("microsocks", lambda: socket.socket().connect_ex(("127.0.0.1", socks)) == 0)
    http = lambda: {"host": "127.0.0.1", "port": s.tinyproxy()}
    proxies = [http(), http(), {"host": "127.0.0.1", "port": socks, "type": "socks5", "user": "alice", "password": "secret"},
               {"host": "127.0.0.1", "port": refused}, http(), {"host": "127.0.0.1", "port": silent},
               {"host": "proxy-frankfurt-01.example.invalid", "port": 8080}, http(), {"host": "", "port": 3128}]
    for suffix, width, height in SIZES:
        s.write_store(store(proxies, target, width, height))
        s.start()
        s.press("Test")
        window.wait("every outcome", lambda: len(s.cards()) == len(proxies) and not any(
            n.endswith((", testing", ", unknown")) for n in s.cards()), 60)
        s.find(None, lambda n: bool(re.fullmatch(r"Done in \d+\.\d s", n or "")))
        s.xdotool("mousemove", str(width - 1), str(height - 1))  # no hover on a card
        print("\n".join(s.cards()), "\n")
        if not suffix:  # the keyboard on the refused proxy's card, its reason shown
            s.focus("Test")
            s.xdotool("key", *["shift+Tab"] * 4, "Down", "Right", "Return")
        s.shot("grid.png", f"{width}x{height}+0+0")
        s.press("Settings")
        s.find("push button", "Back")
        s.shot("settings.png", f"{width}x{height}+0+0")
        for page in ("grid", "settings"):
            shutil.copyfile(os.path.join(s.shots, page + ".png"), os.path.join(out, page + suffix + ".png"))
        s.press("Back")
        s.close_window()


if __name__ == "__main__":
    sys.exit(window.run(lambda s: take(s, sys.argv[2]), os.path.abspath(sys.argv[1]), "",
                        shots="/tmp/quillfen-grid-shot", screen="1400x1000"))
