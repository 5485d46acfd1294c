#!/usr/bin/env python3
"""One test run of the real program in a real window.

Starts Xvfb, four loopback peers (a working proxy in front of a local test page,
a refused port, a listener that never answers, and an empty host name) and
bin/Quillfen with a settings store seeded with them; presses "▶ Test" and reads
the cards' colours from screenshots.

usage: grid_run.py QUILLFEN_EXECUTABLE SCREENSHOT_DIR
"""

import http.client
import json
import os
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SKIP = 77
TARGET_BODY = "Quillfen test page: OK"

# Window geometry of the grid page at 400 x 700: cards of 180 x 70 in cells of
# 190 x 80, the grid 10 from the edge; "▶ Test" 130 x 46, centred, 20 above the bottom.
CARD_W, CARD_H = 180, 70
TEST_BUTTON = (60 + 65, 634 + 23)


def card_origin(index):
    return 15 + (index % 2) * 190, 15 + (index // 2) * 80


class TargetHandler(BaseHTTPRequestHandler):
    def do_GET(self):
        body = TARGET_BODY.encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class ProxyHandler(BaseHTTPRequestHandler):
    """Forwards absolute-URI GETs to loopback hosts only; remembers what it forwarded."""

    forwarded = []

    def do_GET(self):
        url = self.path
        if not url.startswith("http://127.0.0.1:"):
            self.send_error(403, "loopback targets only")
            return
        hostport, _, path = url[len("http://"):].partition("/")
        host, _, port = hostport.partition(":")
        conn = http.client.HTTPConnection(host, int(port), timeout=10)
        conn.request("GET", "/" + path)
        reply = conn.getresponse()
        body = reply.read()
        conn.close()
        ProxyHandler.forwarded.append(url)
        self.send_response(reply.status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def serve(handler):
    server = ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def ini_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def start_xvfb(log):
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "640x800x24", "-nolisten", "tcp"],
        pass_fds=[write_fd], stdout=subprocess.DEVNULL, stderr=log)
    os.close(write_fd)
    number = b""
    deadline = time.monotonic() + 30
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        ready, _, _ = select.select([read_fd], [], [], 1)
        if ready:
            chunk = os.read(read_fd, 16)
            if not chunk:
                break
            number += chunk
    os.close(read_fd)
    if not number.strip():
        xvfb.kill()
        raise RuntimeError("Xvfb did not report a display")
    return xvfb, ":" + number.decode().strip()


class Screen:
    def __init__(self, display, shots):
        self.env = dict(os.environ, DISPLAY=display)
        self.shots = shots
        self.origin = (0, 0)

    def run(self, *args):
        return subprocess.run(args, env=self.env, capture_output=True, text=True, timeout=30)

    def find_window(self):
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            found = self.run("xdotool", "search", "--onlyvisible", "--name", "^Quillfen$").stdout.split()
            if found:
                shell = self.run("xdotool", "getwindowgeometry", "--shell", found[0]).stdout
                geometry = dict(line.split("=", 1) for line in shell.split())
                self.origin = (int(geometry["X"]), int(geometry["Y"]))
                return (int(geometry["WIDTH"]), int(geometry["HEIGHT"]))
            time.sleep(0.2)
        raise RuntimeError("the Quillfen window did not appear")

    def grab(self, name):
        """Screenshot of the whole screen, cropped to the window; returns a pixel reader."""
        root = os.path.join(self.shots, "root.png")
        path = os.path.join(self.shots, name)
        self.run("import", "-window", "root", root).check_returncode()
        x, y = self.origin
        self.run("convert", root, "-crop", f"400x700+{x}+{y}", "+repage", path).check_returncode()
        raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"],
                             capture_output=True, timeout=30, check=True).stdout
        return lambda px, py: tuple(raw[(py * 400 + px) * 3:(py * 400 + px) * 3 + 3])

    def click(self, x, y):
        ox, oy = self.origin
        self.run("xdotool", "mousemove", str(ox + x), str(oy + y), "click", "1").check_returncode()

    def move(self, x, y):
        ox, oy = self.origin
        self.run("xdotool", "mousemove", str(ox + x), str(oy + y)).check_returncode()


def rgb(hex_colour):
    return tuple(int(hex_colour[i:i + 2], 16) for i in (1, 3, 5))


def near(actual, expected, tolerance=6):
    return all(abs(a - e) <= tolerance for a, e in zip(actual, rgb(expected)))


def fill_at(index):
    x, y = card_origin(index)
    return x + 14, y + CARD_H // 2


def border_at(index):
    x, y = card_origin(index)
    return x + 1, y + CARD_H // 2


def wait_for(screen, name, condition, what, seconds):
    deadline = time.monotonic() + seconds
    while True:
        pixel = screen.grab(name)
        if condition(pixel):
            return pixel
        if time.monotonic() > deadline:
            raise AssertionError(f"{what} (see {os.path.join(screen.shots, name)})")
        time.sleep(0.3)


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    executable, shots = sys.argv[1], sys.argv[2]
    if shutil.which("Xvfb") is None:
        print("SKIP: Xvfb is not installed, so the program cannot be shown in a window here "
              "(install the Debian package xvfb)")
        return SKIP
    for tool in ("xdotool", "import", "convert"):
        if shutil.which(tool) is None:
            print(f"FAIL: {tool} is missing (Debian packages xdotool and imagemagick)")
            return 1
    os.makedirs(shots, exist_ok=True)

    target = serve(TargetHandler)
    proxy = serve(ProxyHandler)
    refused = socket.socket()          # bound but never listening: connections are refused
    refused.bind(("127.0.0.1", 0))
    silent = socket.socket()           # listening but never answering: the probe times out
    silent.bind(("127.0.0.1", 0))
    silent.listen(8)

    expected = [  # (host, port, status, border, fill)
        ("127.0.0.1", proxy.server_address[1], "alive", "#4CAF50", "#E8F5E9"),
        ("127.0.0.1", refused.getsockname()[1], "dead", "#F44336", "#FFEBEE"),
        ("127.0.0.1", silent.getsockname()[1], "timeout", "#F44336", "#FFEBEE"),
        ("", 3128, "dns_fail", "#000000", "#E0E0E0"),
    ]
    target_url = f"http://127.0.0.1:{target.server_address[1]}/test.php"

    work = tempfile.mkdtemp(prefix="quillfen-e2e-")
    os.makedirs(os.path.join(work, "config", "Quillfen"))
    os.makedirs(os.path.join(work, "runtime"), mode=0o700)
    proxies = json.dumps([{"host": h, "port": p} for h, p, *_ in expected], separators=(",", ":"))
    with open(os.path.join(work, "config", "Quillfen", "Quillfen.conf"), "w") as conf:
        conf.write("[ProxyConfig]\n"
                   f"savedProxies={ini_string(proxies)}\n"
                   f"savedTargetUrl={ini_string(target_url)}\n"
                   "savedAvoidCache=true\n"
                   "savedTimeoutMs=2000\n")

    xvfb_log = open(os.path.join(shots, "xvfb.log"), "w")
    app_log_path = os.path.join(shots, "quillfen.log")
    app_log = open(app_log_path, "w")
    xvfb = app = None
    try:
        xvfb, display = start_xvfb(xvfb_log)
        screen = Screen(display, shots)
        env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb",
                   XDG_CONFIG_HOME=os.path.join(work, "config"),
                   XDG_RUNTIME_DIR=os.path.join(work, "runtime"))
        app = subprocess.Popen([executable], env=env, stdout=app_log, stderr=subprocess.STDOUT)

        size = screen.find_window()
        if size != (400, 700):
            raise AssertionError(f"window is {size[0]} x {size[1]}, not 400 x 700")

        # The splash gives way to the grid: every card grey, "unknown".
        wait_for(screen, "before.png",
                 lambda px: all(near(px(*fill_at(i)), "#F5F5F5") and near(px(*border_at(i)), "#9E9E9E")
                                for i in range(len(expected))),
                 "the grid of four grey cards did not appear", 60)

        screen.click(*TEST_BUTTON)
        screen.move(395, 400)  # off the cards and buttons

        def finished(px):
            return all(near(px(*fill_at(i)), e[4]) and near(px(*border_at(i)), e[3])
                       for i, e in enumerate(expected))

        try:
            wait_for(screen, "grid.png", finished, "cards did not reach their final colours", 90)
        except AssertionError:
            px = screen.grab("grid.png")
            for i, e in enumerate(expected):
                print(f"card {i} ({e[2]}): fill {px(*fill_at(i))} want {rgb(e[4])}, "
                      f"border {px(*border_at(i))} want {rgb(e[3])}")
            raise

        if not any(url.startswith(target_url + "?_t=") for url in ProxyHandler.forwarded):
            raise AssertionError(f"the working proxy forwarded {ProxyHandler.forwarded}, not {target_url}?_t=…")

        # Hovering the live card shows its answer below it.
        x, y = card_origin(0)
        screen.move(x + CARD_W // 2, y + CARD_H // 2)
        wait_for(screen, "tooltip.png",
                 lambda px: near(px(x + CARD_W // 2, y + CARD_H + 20), "#37474F"),
                 "no tooltip under the live card", 30)

        print(f"PASS: alive, dead, timeout and dns_fail cards coloured as expected; screenshots in {shots}")
        return 0
    except (AssertionError, RuntimeError, subprocess.SubprocessError) as error:
        print(f"FAIL: {error}")
        return 1
    finally:
        if app is not None:
            app.terminate()
            try:
                app.wait(timeout=10)
            except subprocess.TimeoutExpired:
                app.kill()
                app.wait()
        if xvfb is not None:
            xvfb.terminate()
            try:
                xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                xvfb.kill()
                xvfb.wait()
        app_log.close()
        xvfb_log.close()
        with open(app_log_path) as log:
            text = log.read().strip()
        if text:
            print("--- Quillfen output ---\n" + text)
        target.shutdown()
        proxy.shutdown()
        refused.close()
        silent.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
