#!/usr/bin/python3 -IS
"""usage: quillfen-peer MODE [--port N] [--count N] [--body TEXT | --body-file PATH] [--location URL] [--record FILE]
                     [--connect-port N]... [--lifetime S] [--size BYTES] [--tls] [--user U --password P]
The loopback peers the engine tests talk to: a mode of HTTP or SOCKS below, or Debian's tinyproxy or microsocks.
Prints its port(s) as the first line; runs until SIGTERM/SIGINT, until standard input closes or --lifetime ends.
--record appends the head of every request to FILE; --tls serves any mode over TLS (a hostile target behind a proxy)."""
import base64, os, selectors, signal, socket, stat, struct, subprocess, sys, tempfile, threading, time

OK, Z6 = b"HTTP/1.1 200 OK\r\n", bytes(6)


def reply(c, status, body, extra=b"", kind=b"text/plain; charset=utf-8"):
    c.sendall(b"HTTP/1.1 %s\r\nContent-Type: %s\r\nContent-Length: %d\r\n%sConnection: close\r\n\r\n%s" % (status, kind, len(body), extra, body))
    return True  # a close


def stream(c, head, piece, pause=0, total=float("inf")):
    """head, then piece over and over as fast as the client takes it, or each after a pause; after total bytes a close.
    Without a pause the head goes with the first piece: a client that reads it sees bytes beyond it at once."""
    if pause:
        head = c.sendall(head) or b""
    while total > 0:
        time.sleep(pause)
        c.sendall(head + piece[:min(total, len(piece))])
        head, total = b"", total - len(piece)
    return True


def later(c, now, rest):  # the rest 300 ms later; without a rest, a TCP reset (RST, not FIN)
    c.sendall(now)
    time.sleep(0.3)
    if rest is not None:
        return c.sendall(rest)
    c.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    c.close()


def target(c, head, path):
    # /test.php and, with Basic credentials --user and --password, /private answer the body; /redirect a 302.
    path = path.split(b"?")[0]
    if path == b"/private" and b"\r\nAuthorization: Basic " + base64.b64encode(USER + b":" + PASSWORD) + b"\r\n" not in head:
        return reply(c, b"401 Unauthorized", b"", b'WWW-Authenticate: Basic realm="quillfen"\r\n')
    if path in (b"/test.php", b"/private"):
        return reply(c, b"200 OK", BODY)
    if path == b"/redirect":
        return reply(c, b"302 Found", b"", b"Location: " + os.fsencode(O["--location"]) + b"\r\n")
    return reply(c, b"404 Not Found", b"not found")


HTTP = {  # what each mode does with the one request of a connection: (socket, its head, its request target)
    "target": target, "tls-target": target,
    "record-proxy": lambda c, h, t: reply(c, b"200 OK", BODY),
    "silent": lambda c, h, t: None,
    "endless": lambda c, h, t: stream(c, OK + b"Content-Type: text/plain\r\n\r\n", b"endless body\n" * 5000),
    "endless-chunked": lambda c, h, t: stream(c, OK + b"Transfer-Encoding: chunked\r\n\r\n", b"10000\r\n" + b"c" * 0x10000 + b"\r\n"),
    "huge": lambda c, h, t: stream(c, OK + b"Content-Length: %d\r\n\r\n" % SIZE, b"0123456789abcdef" * 65536, total=SIZE),
    "drip": lambda c, h, t: stream(c, OK + b"Content-Length: 1000000\r\n\r\n", b".", pause=1),
    "reset": lambda c, h, t: later(c, OK + b"Content-Length: 1000\r\n\r\n" + b"r" * 100, None),
    "garbage": lambda c, h, t: c.sendall(BODY),  # instead of a status line; the connection stays open
    "hugeheader": lambda c, h, t: reply(c, b"200 OK", b"ok", b"X-Padding: " + b"p" * (1 << 20) + b"\r\n"),
    "endless-headers": lambda c, h, t: stream(c, OK, b"X-Filler: 0123456789abcdef\r\n" * 2000),
    "markup": lambda c, h, t: reply(c, b"200 OK", BODY, kind=b"text/html; charset=utf-8"),
    "split": lambda c, h, t: later(c, OK + b"Content-Length: %d\r\n\r\n" % len(BODY) + BODY[:len(BODY) // 2], BODY[len(BODY) // 2:]),
    "redirect-loop": lambda c, h, t: reply(c, b"302 Found", b"", b"Location: " + t + b"\r\n"),  # to the very URL asked for
}
BODIES = {"target": b"Quillfen test page", "tls-target": b"Quillfen test page", "record-proxy": b"recorded",
          "markup": b"<html><body>markup</body></html>", "split": b"Hello through the proxy",
          "garbage": bytes((i * 131 + 7) % 251 if (i * 131 + 7) % 251 != 10 else 0 for i in range(4096))}  # without --body
SOCKS = {  # the method picked, the SOCKS5 and the SOCKS4 reply, then: keep still, close, endless bytes or one a second
    "socks4": (b"", b"", None, "keep"),  # None: a real SOCKS4/4a proxy (with --user, for that USERID only)
    "socks-wrong-version": (b"\4\0", b"", b"\5\x5a" + Z6, "keep"),
    "socks-short": (b"\5", None, b"\0\x5a\0", "close"),  # None: closes right after its method
    "socks-refuse": (b"\5\0", b"\5\2\0\1" + Z6, b"\0\x5b" + Z6, "close"),
    "socks-endless": (b"\5\0", b"\5\0\0\1" + Z6, b"\0\x5a" + Z6, "endless"),
    "socks-drip": (b"\5\0", b"\5\0\0\3\xff", b"\0\x5a", "drip"),
}


def until(f, end):  # the bytes up to and including end
    data = b""
    while not data.endswith(end):
        byte = f.read(1)
        if not byte:
            raise EOFError
        data += byte
    return data


def record(head):
    if O["--record"]:
        with open(O["--record"], "ab") as f:
            f.write(head)


def socks(c, f):
    method, reply5, reply4, then = SOCKS[MODE]
    b = f.read(2)
    if b[0] == 4:  # VN CD PORT IP USERID\0, and for 4a (IP 0.0.0.x) HOST\0
        b += f.read(6)
        user = until(f, b"\0")[:-1]
        host = until(f, b"\0")[:-1] if b[4:7] == bytes(3) else socket.inet_ntoa(b[4:8]).encode()
        if reply4 is None:
            return socks4(c, host, int.from_bytes(b[2:4], "big"), user)
        answer = reply4
    else:
        f.read(b[1])
        c.sendall(method)
        if reply5 is None:
            return True
        f.read(5)
        answer = reply5
    if then in ("endless", "drip"):
        return stream(c, answer, *{"endless": (b"e" * 4096, 0), "drip": (b".", 1)}[then])
    c.sendall(answer)
    return then == "close"


def socks4(c, host, port, user):
    record(b"SOCKS4 %s:%d %s\r\n\r\n" % (host, port, user))
    if USER and user != USER:
        return c.sendall(b"\0\x5d" + Z6) or True
    try:
        t = socket.create_connection((host.decode(), port))
    except OSError:
        return c.sendall(b"\0\x5b" + Z6) or True
    with t:  # relays both ways
        c.sendall(b"\0\x5a" + Z6)
        threading.Thread(target=pipe, args=(t, c), daemon=True).start()
        pipe(c, t)


def pipe(src, dst):  # until src ends, then ends dst too
    try:
        while data := src.recv(1 << 16):
            dst.sendall(data)
        dst.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass


def serve(c):  # one request per connection; later bytes are read and dropped until the client closes
    try:
        with (TLS.wrap_socket(c, server_side=True) if TLS else c) as c:
            if MODE in SOCKS:
                with c.makefile("rb") as f:
                    close = socks(c, f)
            else:
                with c.makefile("rb") as f:  # closed before the answer: reset closes the socket itself
                    head = until(f, b"\r\n\r\n")
                record(head)
                close = HTTP[MODE](c, head, (head.split(b"\r\n")[0].split(b" ") + [b""])[1])
            if close:
                c.shutdown(socket.SHUT_WR)  # once all is out
            while c.recv(1 << 16):
                pass
    except Exception:  # the client went away or sent nonsense
        pass


def debian(tmp):  # tinyproxy with a throw-away configuration, or microsocks
    import ctypes
    for _ in range(1 if PORT else 5):  # a free port taken meanwhile: another
        with socket.create_server(("127.0.0.1", PORT)) as s:
            port = s.getsockname()[1]
        with open(f"{tmp}/tinyproxy.conf", "w") as f:
            f.write(f"Port {port}\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 60\nMaxClients 200\nLogLevel Info\nDisableViaHeader Yes\n"
                    f'LogFile "{tmp}/tinyproxy.log"\nPidFile "{tmp}/tinyproxy.pid"\nConnectPort 443\n'
                    + "".join(f"ConnectPort {p}\n" for p in O["--connect-port"]) + (f"BasicAuth {O['--user']} {O['--password']}\n" if USER else ""))
        socks5 = ["microsocks", "-i", "127.0.0.1", "-p", str(port)] + (["-u", O["--user"], "-P", O["--password"]] if USER else [])
        child = subprocess.Popen(socks5 if MODE == "microsocks" else ["tinyproxy", "-d", "-c", f"{tmp}/tinyproxy.conf"],
                                 stdin=subprocess.DEVNULL, preexec_fn=lambda: ctypes.CDLL(None).prctl(1, 15))  # ends with the peer
        for _ in range(200):
            if child.poll() is not None:
                break
            with socket.socket() as s:
                if s.connect_ex(("127.0.0.1", port)) == 0:
                    return child, port
            time.sleep(0.05)
        child.kill()
    sys.exit(f"quillfen-peer: {MODE} did not start")


def main(tmp):
    global TLS
    events, child = selectors.DefaultSelector(), None
    if MODE in ("tinyproxy", "microsocks"):
        child, port = debian(tmp)
        events.register(os.pidfd_open(child.pid), selectors.EVENT_READ, lambda: 1)  # it ended on its own
        print(port, flush=True)
    else:
        if O["--tls"] or MODE == "tls-target":  # a throw-away self-signed certificate
            import ssl
            subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2",
                            "-subj", "/CN=localhost", "-keyout", f"{tmp}/key.pem", "-out", f"{tmp}/cert.pem"], check=True, capture_output=True)
            TLS = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            TLS.load_cert_chain(f"{tmp}/cert.pem", f"{tmp}/key.pem")
        servers = [socket.create_server(("127.0.0.1", PORT if O["--count"] == "1" else 0)) for _ in range(int(O["--count"]))]
        for s in servers:
            events.register(s, selectors.EVENT_READ, lambda s=s: threading.Thread(target=serve, args=(s.accept()[0],), daemon=True).start())
        print(*(s.getsockname()[1] for s in servers), flush=True)
    if stat.S_ISFIFO(os.fstat(0).st_mode) or stat.S_ISSOCK(os.fstat(0).st_mode):
        events.register(0, selectors.EVENT_READ, lambda: None if os.read(0, 256) else 0)
    end = time.monotonic() + float(O["--lifetime"])
    try:
        while time.monotonic() < end:
            for key, _ in events.select(end - time.monotonic()):
                if (code := key.data()) is not None:
                    return code
        return 0
    except SystemExit:  # SIGTERM or SIGINT
        return 0
    finally:
        if child:
            child.terminate()
            child.wait(5)


O = {"--port": "0", "--count": "1", "--lifetime": "600", "--size": str(8 << 30), "--body": None, "--body-file": None,
     "--location": "/test.php", "--record": None, "--user": "", "--password": "", "--connect-port": [], "--tls": False}
MODE, args, TLS = (sys.argv + [""])[1], iter(sys.argv[2:]), None
for option in args:
    if option not in O:
        sys.exit(__doc__)
    O[option] = True if option == "--tls" else O[option] + [next(args)] if option == "--connect-port" else next(args)
if MODE not in (*HTTP, *SOCKS, "tinyproxy", "microsocks"):
    sys.exit(__doc__)
PORT, SIZE, USER, PASSWORD = int(O["--port"]), int(O["--size"]), os.fsencode(O["--user"]), os.fsencode(O["--password"])
BODY = open(O["--body-file"], "rb").read() if O["--body-file"] else BODIES.get(MODE) if O["--body"] is None else os.fsencode(O["--body"])
for sig in (signal.SIGTERM, signal.SIGINT):
    signal.signal(sig, lambda *_: sys.exit(0))
with tempfile.TemporaryDirectory() as tmp:
    status = main(tmp)
os._exit(status)  # waits for no connection
