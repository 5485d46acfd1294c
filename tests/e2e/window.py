"""The real program on Xvfb with a throw-away store and private buses, read as a screen reader does."""
import ctypes, json, os, shutil, socket, subprocess, sys, tempfile, time


def store_text(proxies, target="http://127.0.0.1:9/test.php", timeout_ms=15000, avoid_cache="true"):
    # a list of (host, port) and the settings, quoted as the program writes them
    quoted = lambda text: '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'
    listed = json.dumps([{"host": h, "port": p} for h, p in proxies], separators=(",", ":"))
    return (f"[ProxyConfig]\nsavedProxies={quoted(listed)}\nsavedTargetUrl={quoted(target)}\n"
            f"savedAvoidCache={avoid_cache}\nsavedTimeoutMs={timeout_ms}\n")


def stored(conf):
    pairs = [line.partition("=")[::2] for line in open(conf, encoding="utf-8").read().splitlines()[1:]]
    return {k: v[1:-1].replace('\\"', '"').replace("\\\\", "\\") if v[:1] == '"' else v for k, v in pairs}


def wait(what, check, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            if value := check():
                return value
        except AssertionError:
            raise
        except Exception:  # the busy window could not be read: again
            pass
        time.sleep(0.2)
    raise AssertionError("timed out waiting for " + what)


class Session:
    def __init__(self, app, store, shots=None, env=None, screen="640x800"):
        self.app, self.procs, self.sockets, self.program = app, [], [], None
        self.work = tempfile.mkdtemp(prefix="quillfen-e2e-")
        self.shots = shots or self.work
        self.conf = os.path.join(self.work, "config", "Quillfen", "Quillfen.conf")
        for folder in (os.path.dirname(self.conf), self.shots, os.path.join(self.work, "runtime")):
            os.makedirs(folder, mode=0o700, exist_ok=True)
        self.write_store(store)
        self.log_path = os.path.join(self.shots, "quillfen.log")  # the program's, over every start
        open(self.log_path, "w").close()
        self.errors = open(os.path.join(self.shots, "helpers.log"), "w")  # everything else's
        self.env = {k: v for k, v in os.environ.items() if not k.startswith(("QT_", "QML", "XDG_", "DBUS_"))}
        self.env.update(HOME=self.work, XDG_CONFIG_HOME=os.path.join(self.work, "config"),
                        XDG_RUNTIME_DIR=os.path.join(self.work, "runtime"), QT_QPA_PLATFORM="xcb",
                        QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", **(env or {}))
        try:  # -displayfd and --print-address: one line once each takes connections
            display = os.environ.get("QUILLFEN_E2E_DISPLAY")  # else the first free one
            self.display = ":" + self.spawn(["Xvfb", *[display][:bool(display)], "-screen", "0", screen + "x24",
                                             "-nolisten", "tcp", "-displayfd", "{fd}"])
            bus = self.spawn(["dbus-daemon", "--session", "--nofork", "--print-address={fd}"])
            for env in (os.environ, self.env):
                env.update(DISPLAY=self.display, DBUS_SESSION_BUS_ADDRESS=bus)
            self.spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
            import pyatspi  # once the bus address is in the environment
            self.atspi = pyatspi
        except BaseException:
            self.close(failed=True)
            raise

    def write_store(self, text):
        open(self.conf, "w", encoding="utf-8").write(text)

    def spawn(self, cmd):  # a helper; when cmd names a pipe as "{fd}", the line written there
        read, write = os.pipe()
        self.procs.append(subprocess.Popen([c.replace("{fd}", str(write)) for c in cmd], env=self.env,
                                           pass_fds=[write], stdout=subprocess.DEVNULL, stderr=self.errors))
        os.close(write)
        with os.fdopen(read) as pipe:
            line = pipe.readline().strip() if "{fd}" in "".join(cmd) else "-"
        assert line, f"{cmd[0]} did not start"
        return line

    def port(self, listen=False):  # a loopback port that never answers (listen), or else refuses
        self.sockets.append(socket.create_server(("127.0.0.1", 0)) if listen else socket.socket())
        self.sockets[-1].bind(("127.0.0.1", 0)) if not listen else None
        return self.sockets[-1].getsockname()[1]

    def serve(self, cmd):  # cmd(port) on a fresh loopback port; the port once it takes connections
        port = self.port()
        self.sockets.pop().close()
        self.spawn(cmd(port))
        wait(f"a peer on port {port}", lambda: socket.socket().connect_ex(("127.0.0.1", port)) == 0)
        return port

    def target(self):  # http.server's page test.php (requests logged to helpers.log)
        open(os.path.join(self.work, "test.php"), "w").write("Quillfen test page: OK")
        port = self.serve(lambda p: [sys.executable, "-m", "http.server", "-b", "127.0.0.1", "-d", self.work, str(p)])
        return f"http://127.0.0.1:{port}/test.php"

    def tinyproxy(self):
        def cmd(port):
            with open(os.path.join(self.work, f"tinyproxy-{port}.conf"), "w") as f:
                f.write(f"Port {port}\nListen 127.0.0.1\nAllow 127.0.0.1\nDisableViaHeader Yes\nPidFile \"{f.name}.pid\"\n")
            return ["tinyproxy", "-d", "-c", f.name]
        return self.serve(cmd)

    def find_frame(self):
        assert self.program.poll() is None, f"Quillfen ended with status {self.program.returncode}"
        return next((w for app in self.atspi.Registry.getDesktop(0) if app for w in app
                     if w and w.getRoleName() == "frame" and w.name == "Quillfen"), None)

    def start(self, seconds=60):  # until the grid page shows
        for attempt in range(3):  # now and then a fresh Xvfb refuses a client: try again
            with open(self.log_path, "a") as log:
                offset = log.tell()
                self.program = subprocess.Popen([self.app], env=self.env, cwd=self.work, stdout=log, stderr=log)
            try:
                self.frame = wait("the window on the accessibility bus", self.find_frame, seconds)
                return self.find("push button", "Test", seconds)
            except AssertionError:
                if attempt == 2 or "could not connect to display" not in open(self.log_path).read()[offset:]:
                    raise
                os.truncate(self.log_path, offset)  # that start's messages tell of no fault in the program

    def close_window(self):  # WM_DELETE_WINDOW, as a window manager's close button sends; then exit status 0
        wid = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Quillfen$"], env=self.env,
                             capture_output=True, text=True).stdout.split()
        x = ctypes.CDLL("libX11.so.6")
        x.XOpenDisplay.restype = x.XInternAtom.restype = ctypes.c_void_p
        x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
        dpy = ctypes.c_void_p(x.XOpenDisplay(self.display.encode()))
        # XClientMessageEvent as longs: type, serial, send_event, display, window, message_type, format, data
        event = (ctypes.c_long * 24)(33, 0, 1, 0, int(wid[0]) if wid else 0, x.XInternAtom(dpy, b"WM_PROTOCOLS", 0),
                                     32, x.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0))
        sent = wid and x.XSendEvent(dpy, int(wid[0]), 0, 0, event)
        x.XCloseDisplay(dpy)  # flushes the event out
        assert sent, "no Quillfen window to close"
        status = self.program.wait(120)
        assert status == 0, f"Quillfen ended with status {status} once its window was closed"

    def all(self, role=None, name=None, root=None, hidden=False):  # showing (or any) objects of that role and name (or name test)
        top = root or self.frame
        top.queryComponent().getExtents(0)  # a busy window raises here rather than look empty
        found, todo = [], [top]
        matches = name if callable(name) else lambda text: name in (None, text)
        while todo:
            node = todo.pop(0)
            try:
                if node != top and not hidden and not node.getState().contains(self.atspi.STATE_SHOWING):
                    continue
                todo += [k for k in (node.getChildAtIndex(i) for i in range(node.childCount)) if k]
                if role in (None, node.getRoleName()) and matches(node.name or ""):
                    found.append(node)
            except Exception:  # gone while being read
                pass
        return found

    def find(self, role=None, name=None, seconds=30, root=None, gone=False):  # the first, or (gone) none
        found = lambda: (self.all(role, name, root) or [None])[0]
        return wait(f"{role} {name!r}" + " to go" * gone, (lambda: not found()) if gone else found, seconds)

    def press(self, button, keys=False):  # its "Press" action, as a screen reader; keys: focus, then Space
        node = self.focus(button) if keys else self.find("push button", button) if isinstance(button, str) or callable(button) else button
        if not keys:
            action = node.queryAction()
            return action.doAction([action.getName(i) for i in range(action.nActions)].index("Press"))
        self.xdotool("key", "space")

    def focus(self, button):  # the keyboard's focus on a button
        node = self.find("push button", button) if isinstance(button, str) or callable(button) else button
        action = node.queryAction()
        action.doAction([action.getName(i) for i in range(action.nActions)].index("SetFocus"))
        wait("focus on " + node.name, lambda: node.getState().contains(self.atspi.STATE_FOCUSED), 10)
        return node

    def cards(self):  # the grid's, by name: "host:port, status[, N ms]"
        return [n.name for n in self.all("list item")]

    def rows(self):  # the settings page's, as (host, port)
        return list(zip(*[[self.text(n) for n in self.all("text", k)] for k in ("Host", "Port")]))

    text = staticmethod(lambda node: node.queryText().getText(0, -1))

    def remove_rows(self, left=0):  # on the settings page, one "Remove host:port" at a time
        while (rows := len(self.rows())) > left:
            self.press(lambda n: n.startswith("Remove "))
            wait(f"{rows - 1} rows", lambda: len(self.rows()) == rows - 1)

    def type_into(self, node, text):  # replaces a field's text by typing and leaves it with Tab
        node.queryComponent().grabFocus()
        self.xdotool("key", "ctrl+a", "BackSpace")
        self.xdotool("type", "--delay", "30", text)
        self.xdotool("key", "Tab")

    def xdotool(self, *args):
        subprocess.run(["xdotool", *args], env=self.env, check=True, timeout=30)

    def shot(self, name, crop="400x700+0+0"):  # of the window, for a person to look at
        subprocess.run(["import", "-display", self.display, "-window", "root", "-crop", crop,
                        os.path.join(self.shots, name)], timeout=30)

    def close(self, failed):
        if failed and self.program:
            self.shot("failure.png", "640x800+0+0")
        for p in filter(None, [self.program] + self.procs[::-1]):
            p.terminate()
            try:
                p.wait(15)
            except subprocess.TimeoutExpired:
                p.kill()
        for s in self.sockets:
            s.close()
        print(f"kept: {self.work}; logs and failure.png in {self.shots}") if failed else shutil.rmtree(self.work)


def run(test, *args, **kw):  # test(session) in a fresh Session: 0 pass, 1 fail, 77 skip
    if not all(map(shutil.which, ("Xvfb", "dbus-daemon", "import", "xdotool"))):
        return print("SKIP: Xvfb, dbus-daemon, xdotool or ImageMagick is missing") or 77
    session = Session(*args, **kw)
    try:
        test(session)
    except Exception as error:
        print(f"FAIL: {type(error).__name__}: {error}")
        return session.close(failed=True) or 1
    return session.close(failed=False) or print("PASS") or 0


def main(test, store):  # a script's: argv is QUILLFEN [SCREENSHOT_DIR]
    sys.exit(run(test, sys.argv[1], store, *sys.argv[2:3]))
