#!/usr/bin/env python3
"""End to end, in a real window under Xvfb: export the list through the real
save dialog, edit it, import it back through the open dialog, leave with Back,
restart, and find the imported list in the store and on the grid.

Usage: e2e_settings.py <path to Quillfen>. Loopback hosts only; no test run."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

APP = sys.argv[1]
WIDTH, HEIGHT = 400, 700

# Points of the 400 x 700 window (it sits at 0,0: Xvfb has no window manager).
GRID_TEST_BUTTON = (64, 657)
GRID_SETTINGS_BUTTON = (275, 657)
BACK_BUTTON = (20, 660)
ADD, IMPORT, EXPORT = (57, 536), (247, 536), (342, 536)
TIMEOUT_FIELD = (175, 175)
DIALOG_HEADER = (10, 165)
DIALOG_FILE_NAME = (122, 478)
DIALOG_OPEN = (218, 522)
DIALOG_SECOND_ENTRY = (90, 313)  # the folder holds "config/" and then the list file

BLUE, WHITE, DIALOG_GREY, DISABLED_BUTTON = "2196F3", "FFFFFF", "F6F6F6", "BFD1DD"
REMOVE_PINK = "FFEBEE"

SEEDED = [["127.0.0.1", 3128], ["localhost", 8080], ["127.0.0.2", 1080]]
EXPORTED = SEEDED + [["127.0.0.1", 3128]]  # after Add


def remove_button(row):
    """The "✕" of a row of the list editor, counted from 1."""
    return (350, 313 + 50 * (row - 1))


def entries(rows):
    return [{"host": h, "port": p} for h, p in rows]


def seeded_store():
    compact = json.dumps(entries(SEEDED), separators=(",", ":"))
    return ("[ProxyConfig]\nsavedProxies=\"%s\"\nsavedTargetUrl=http://127.0.0.1:9/test.php\n"
            "savedAvoidCache=true\nsavedTimeoutMs=15000\n" % compact.replace('"', '\\"'))


def stored(conf):
    """The ProxyConfig keys of the settings file, values unquoted."""
    values = {}
    with open(conf) as f:
        for line in f.read().splitlines()[1:]:
            key, _, value = line.partition("=")
            if value.startswith('"'):
                value = value[1:-1].replace('\\"', '"').replace("\\\\", "\\")
            values[key] = value
    return values


def wait_for(what, check, timeout=30, fail=True):
    """Waits until check() holds on two samples in a row (a screen grab may
    catch a frame being drawn)."""
    deadline, held = time.monotonic() + timeout, False
    while time.monotonic() < deadline:
        if check():
            if held:
                return True
            held = True
        else:
            held = False
        time.sleep(0.2)
    if fail:
        raise AssertionError("timed out waiting for " + what)
    return False


class Session:
    def __init__(self, work):
        self.work, self.app, self.xvfb = work, None, None
        self.log = work + ".log"  # the program's output, kept next to the folder
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "QT_QPA_PLATFORMTHEME")}
        self.env.update(QT_QPA_PLATFORM="xcb", HOME=work, XDG_CONFIG_HOME=os.path.join(work, "config"))
        self.start_display()

    def start_display(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "640x760x24",
                                      "-nolisten", "tcp"], pass_fds=(write_end,), stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            self.display = ":" + pipe.readline().strip()
        self.env["DISPLAY"] = self.display

    def stop_display(self):
        self.xvfb.terminate()
        self.xvfb.wait(30)

    def start(self):
        # Another X server started at the same moment can leave ours unreachable:
        # then the program ends at once, and a fresh display is tried.
        for _ in range(3):
            with open(self.log, "a") as log:
                self.app = subprocess.Popen([APP], cwd=self.work, env=self.env, stdout=log, stderr=log)
            wait_for("the grid page", lambda: self.app.poll() is not None or self.pixel(*GRID_TEST_BUTTON) == BLUE)
            if self.app.poll() is None:
                return
            self.stop_display()
            self.start_display()
        raise AssertionError("the program does not start, see " + self.log)

    def stop(self):
        if self.app and self.app.poll() is None:
            self.app.terminate()
            self.app.wait(30)

    def close(self):
        self.stop()
        self.stop_display()

    def screen(self, region="%dx%d+0+0" % (WIDTH, HEIGHT)):
        return subprocess.run(["import", "-display", self.display, "-window", "root", "-crop", region,
                               "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout

    def pixel(self, x, y):
        try:
            return self.screen("1x1+%d+%d" % (x, y))[:3].hex().upper()
        except subprocess.CalledProcessError:  # no display (yet)
            return ""

    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env, check=True)

    def click(self, point, repeat=1):
        self.xdotool("mousemove", *point, "click", "--repeat", repeat, "--delay", 100, 1)

    def click_until(self, point, what, check, repeat=1):
        """Clicks again when a busy machine lost the click."""
        for _ in range(3):
            self.click(point, repeat)
            if wait_for(what, check, timeout=10, fail=False):
                return
        raise AssertionError("no " + what)

    def rows(self, count):
        """The list editor shows exactly count rows (of the first four)."""
        return all((self.pixel(*remove_button(k)) == REMOVE_PINK) == (k <= count) for k in range(1, 5))

    def open_dialog(self, button):
        self.click_until(button, "file dialog", lambda: self.pixel(*DIALOG_HEADER) == DIALOG_GREY)

    def wait_dialog_closed(self):
        wait_for("the dialog to close", lambda: self.pixel(*DIALOG_HEADER) == WHITE)

    def cards(self):
        """Grey ("unknown") cards on the grid: regions of their fill colour."""
        data, seen, count = self.screen(), bytearray(WIDTH * HEIGHT), 0
        fill = bytes.fromhex("F5F5F5")
        for start in range(WIDTH * HEIGHT):
            if seen[start] or data[3 * start:3 * start + 3] != fill:
                continue
            stack, size, seen[start] = [start], 0, 1
            while stack:
                i = stack.pop()
                size += 1
                x = i % WIDTH
                for j in (i - 1 if x > 0 else -1, i + 1 if x < WIDTH - 1 else -1, i - WIDTH, i + WIDTH):
                    if 0 <= j < WIDTH * HEIGHT and not seen[j] and data[3 * j:3 * j + 3] == fill:
                        seen[j] = 1
                        stack.append(j)
            count += size > 2000
        return count


def main():
    work = tempfile.mkdtemp(prefix="quillfen-e2e-")
    conf = os.path.join(work, "config", "Quillfen", "Quillfen.conf")
    os.makedirs(os.path.dirname(conf))
    with open(conf, "w") as f:
        f.write(seeded_store())
    list_file = os.path.join(work, "proxies.json")
    session = Session(work)
    try:
        session.start()
        assert session.cards() == 3, "the seeded list is on the grid"
        session.click(GRID_SETTINGS_BUTTON)
        wait_for("the settings page", lambda: session.pixel(*BACK_BUTTON) == BLUE)
        time.sleep(1)  # the page stack takes no input until its transition has ended

        assert session.rows(3)
        session.click_until(ADD, "added row", lambda: session.rows(4))
        session.click(TIMEOUT_FIELD)
        session.xdotool("key", "ctrl+a")
        session.xdotool("type", "--delay", 50, "20000")
        session.xdotool("key", "Tab")

        session.open_dialog(EXPORT)
        session.click(DIALOG_FILE_NAME)
        session.xdotool("type", "--delay", 50, "proxies.json")
        session.xdotool("key", "Return")  # takes the name; only then is the button enabled
        wait_for("the enabled button", lambda: session.pixel(*DIALOG_OPEN) != DISABLED_BUTTON)
        session.click_until(DIALOG_OPEN, "exported file", lambda: os.path.exists(list_file))
        session.wait_dialog_closed()
        with open(list_file, "rb") as f:
            assert f.read() == json.dumps(entries(EXPORTED), indent=4).encode(), "the file holds the list"

        for left in (3, 2, 1):
            session.click_until(remove_button(1), "removed row", lambda: session.rows(left))
        session.open_dialog(IMPORT)
        wait_for("the folder listing", lambda: session.pixel(*DIALOG_SECOND_ENTRY) != WHITE)
        session.click_until(DIALOG_SECOND_ENTRY, "import", lambda: session.pixel(*DIALOG_HEADER) == WHITE, repeat=2)
        wait_for("the imported rows", lambda: session.rows(4))

        expected = {"savedProxies": json.dumps(entries(EXPORTED), separators=(",", ":")),
                    "savedTargetUrl": "http://127.0.0.1:9/test.php", "savedAvoidCache": "true",
                    "savedTimeoutMs": "20000", "savedExpectedText": ""}
        session.click_until(BACK_BUTTON, "saved settings", lambda: stored(conf) == expected)

        session.stop()  # nothing is saved on exit
        session.start()
        assert session.cards() == 4, "the imported list is on the grid after a restart"
        assert stored(conf) == expected, "the store is unchanged by the restart"
        session.stop()
    except Exception:
        subprocess.run(["import", "-display", session.display, "-window", "root",
                        os.path.join(work, "failure.png")])
        print("kept for inspection:", work, file=sys.stderr)
        raise
    finally:
        session.close()
    shutil.rmtree(work)
    os.remove(session.log)


if __name__ == "__main__":
    main()
