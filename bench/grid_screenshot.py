"""Takes the README's screenshot of the grid (docs/grid.png): a run over eight
loopback proxies, finished, through the end-to-end helper's window, store and peers.
Debian's tinyproxy as working HTTP proxies, microsocks as a SOCKS5 one, a refused
and a silent port, an empty host; python3's http.server as the target.

usage: /usr/bin/python3 bench/grid_screenshot.py build-bench/bin/Quillfen docs/grid.png"""
import json
import os
import re
import shutil
import socket
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import window  # noqa: E402


def store(proxies, target):
    listed = json.dumps(proxies, separators=(",", ":"))
    quoted = lambda text: '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'
    return (f"[ProxyConfig]\nsavedProxies={quoted(listed)}\nsavedTargetUrl={quoted(target)}\n"
            f"savedAvoidCache=true\nsavedTimeoutMs=2000\n")


def take(s, out):
    target, refused, silent = s.target(), s.port(False), s.port(True)
    socks = s.port(False)
    s.sockets.pop().close()
    s.spawn(["microsocks", "-i", "127.0.0.1", "-p", str(socks)])
    window.wait("microsocks", lambda: socket.socket().connect_ex(("127.0.0.1", socks)) == 0)
    http = lambda: {"host": "127.0.0.1", "port": s.tinyproxy()}
    proxies = [http(), http(), {"host": "127.0.0.1", "port": socks, "type": "socks5"},
               {"host": "127.0.0.1", "port": refused}, http(), {"host": "127.0.0.1", "port": silent},
               http(), {"host": "", "port": 3128}]
    with open(s.conf, "w") as f:
        f.write(store(proxies, target))
    s.start()
    s.press("Test")
    window.wait("every outcome", lambda: len(s.cards()) == len(proxies) and not any(
        n.endswith((", testing", ", unknown")) for n in s.cards()), 60)
    s.find(None, lambda n: bool(re.fullmatch(r"Done in \d+\.\d s", n or "")))
    s.xdotool("mousemove", "399", "699")  # no hover on a card
    s.shot("grid.png")
    shutil.copyfile(os.path.join(s.shots, "grid.png"), out)
    print("\n".join(s.cards()))
    s.close_window()


if __name__ == "__main__":
    sys.exit(window.run(lambda s: take(s, sys.argv[2]), os.path.abspath(sys.argv[1]), "", shots="/tmp/quillfen-grid-shot"))
