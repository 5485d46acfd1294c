#!/usr/bin/python3 -IS
"""The engine tests' loopback peers: a mode of HTTP or SOCKS below, or Debian's tinyproxy, microsocks, squid or dante, on 127.0.0.1;
--bind: the daemon's or relay's outgoing address (127.0.0.1), --forwarded-for and --via: squid's settings of those names (on);
--via on: tinyproxy's Via header too (off). Judges (judge-cgi, judge-json) echo the client's address and request fields.
Prints its port(s) as the first line, runs until SIGTERM/SIGINT, until standard input closes or --lifetime ends.
--record appends each request head to FILE; --tls serves any mode over TLS (a hostile target behind a proxy), with a
self-signed certificate for 127.0.0.1 that --cert also writes to FILE."""
import argparse, base64, contextlib, json, os, re, pwd, selectors, signal, socket, stat, struct, subprocess, tempfile, threading, time

OK, Z6 = b"HTTP/1.1 200 OK\r\n", bytes(6)


def reply(c, status, body, extra=b"", kind=b"text/plain; charset=utf-8"):  # then a close
    c.sendall(b"HTTP/1.1 %s\r\nContent-Type: %s\r\nContent-Length: %d\r\n%sConnection: close\r\n\r\n%s" % (status, kind, len(body), extra, body))
    return True


def stream(c, head, piece, pause=0, total=float("inf")):
    # head, then piece again and again: each after the pause, or else the first in one write with the head; total bytes: a close
    if pause:
        head = c.sendall(head) or b""
    while total > 0:
        time.sleep(pause)
        c.sendall(head + piece[:min(total, len(piece))])
        head, total = b"", total - len(piece)
    return True


def later(c, now, rest):  # the rest --pause (0.3) s later; without a rest, a TCP reset (RST, not FIN)
    c.sendall(now)
    time.sleep(A.pause)
    if rest is not None:
        return c.sendall(rest)
    c.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    raise ConnectionResetError  # and the close that follows resets


def target(c, head, path):  # /test.php, and /private with Basic credentials --user and --password, answer the body
    path = path.split(b"?")[0]
    if path == b"/private" and b"\r\nAuthorization: Basic " + base64.b64encode(f"{A.user}:{A.password}".encode()) + b"\r\n" not in head:
        return reply(c, b"401 Unauthorized", b"", b'WWW-Authenticate: Basic realm="quillfen"\r\n')
    if path == b"/redirect":
        return reply(c, b"302 Found", b"", b"Location: " + A.location + b"\r\n")
    return reply(c, *((b"200 OK", BODY) if path in (b"/test.php", b"/private") else (b"404 Not Found", b"not found")))


def judge(c, head, form):  # the client's address and the request's fields exactly as received: a CGI dump or httpbin's JSON
    fields, addr = [line.split(b":", 1) for line in head.split(b"\r\n")[1:] if b":" in line], c.getpeername()[0].encode()
    if form == "json":  # a field given twice: its values joined by a comma, as httpbin does
        echo = {}
        for name, value in ((n.decode("latin-1"), v.strip().decode("latin-1")) for n, v in fields):
            echo[name] = echo[name] + "," + value if name in echo else value
        return reply(c, b"200 OK", json.dumps({"origin": addr.decode(), "headers": echo}).encode(), kind=b"application/json")
    lines = [b"REMOTE_ADDR = " + addr] + [b"HTTP_%s = %s" % (n.strip().upper().replace(b"-", b"_"), v.strip()) for n, v in fields]
    return reply(c, b"200 OK", b"<html><body>\n" + b"<br>\n".join(lines) + b"<br>\n</body></html>", kind=b"text/html")


def relay(head, url):  # as an HTTP proxy: GET absolute-form to an http target, its whole answer
    host, port, path = re.match(rb"http://([^:/]+):?(\d*)(/?.*)", url).groups()
    with socket.create_connection((host.decode(), int(port or 80)), source_address=(A.bind or "127.0.0.1", 0)) as s:
        s.sendall(head.replace(url, path or b"/", 1))
        return b"".join(iter(lambda: s.recv(1 << 16), b""))


def inject(c, head, url):  # relays, with a line of its own (the body) put before the answer's body
    top, _, body = relay(head, url).partition(b"\r\n\r\n")
    top = re.sub(rb"(?im)^content-length:[^\r\n]*", b"Content-Length: %d" % (len(BODY) + len(body)), top)
    c.sendall(top + b"\r\n\r\n" + BODY + body)
    return True


REPLAY = []  # the first answer the replaying proxy fetched


def replay(c, head, url):  # that first answer again, for every request
    if not REPLAY:
        REPLAY.append(relay(head, url))
    c.sendall(REPLAY[0])
    return True


HTTP = {  # what each mode does with the one request of a connection: (socket, its head, its request target)
    "target": target, "tls-target": target,
    "record-proxy": lambda c, h, t: reply(c, b"200 OK", BODY),
    "silent": lambda c, h, t: None,
    "endless": lambda c, h, t: stream(c, OK + b"Content-Type: text/plain\r\n\r\n", b"endless body\n" * 5000),
    "endless-chunked": lambda c, h, t: stream(c, OK + b"Transfer-Encoding: chunked\r\n\r\n", b"10000\r\n" + b"c" * 0x10000 + b"\r\n"),
    "huge": lambda c, h, t: stream(c, OK + b"Content-Length: %d\r\n\r\n" % A.size, b"0123456789abcdef" * 65536, total=A.size),
    "drip": lambda c, h, t: stream(c, OK + b"Content-Length: 1000000\r\n\r\n", b".", pause=1),
    "reset": lambda c, h, t: later(c, OK + b"Content-Length: 1000\r\n\r\n" + b"r" * 100, None),
    "reset-close": lambda c, h, t: later(c, OK + b"Content-Type: text/plain\r\n\r\n" + BODY, None),  # a whole answer framed by the close
    "garbage": lambda c, h, t: c.sendall(BODY),  # instead of a status line; the connection stays open
    "hugeheader": lambda c, h, t: reply(c, b"200 OK", b"ok", b"X-Padding: " + b"p" * (1 << 20) + b"\r\n"),
    "endless-headers": lambda c, h, t: stream(c, OK, b"X-Filler: 0123456789abcdef\r\n" * 2000),
    "markup": lambda c, h, t: reply(c, b"200 OK", BODY, kind=b"text/html; charset=utf-8"),
    "split": lambda c, h, t: later(c, OK + b"Content-Length: %d\r\n\r\n" % len(BODY) + BODY[:len(BODY) // 2], BODY[len(BODY) // 2:]),
    "redirect-loop": lambda c, h, t: reply(c, b"302 Found", b"", b"Location: " + t + b"\r\n"),  # to the very URL asked for
    "judge-cgi": lambda c, h, t: judge(c, h, "cgi"), "judge-json": lambda c, h, t: judge(c, h, "json"),
    "own-page": lambda c, h, t: reply(c, b"200 OK", BODY, kind=b"text/html"), "inject": inject, "replay": replay,  # hostile proxies
    "changing": lambda c, h, t: reply(c, b"200 OK", b"page %d" % time.monotonic_ns()),  # a target whose page differs every time
}
BODIES = {"target": b"Quillfen test page", "tls-target": b"Quillfen test page", "record-proxy": b"recorded",
          "markup": b"<html><body>markup</body></html>", "split": b"Hello through the proxy", "reset-close": b"Hello through the proxy",
          "own-page": b"<html><body>Sign in to continue</body></html>", "inject": b"<script>/* the proxy's */</script>\n",
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
    for byte in iter(lambda: f.read(1), b""):
        if (data := data + byte).endswith(end):
            return data
    raise EOFError


def record(head):  # each ended by a \0, which Peer::requests() splits them at
    if A.record:
        with open(A.record, "ab") as f:
            f.write(head + b"\0")


def socks(c, f):
    method, reply5, reply4, then = SOCKS[A.mode]
    b = f.read(2)
    if A.mode == "socks4" and b[0] != 4:  # an HTTP request or a SOCKS5 greeting: refused at once, as SOCKS4 servers do
        return c.sendall(b"\0\x5b" + Z6) or True
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
    try:
        code, t = (0x5a, socket.create_connection((host.decode(), port))) if user == A.user.encode() or not A.user else (0x5d, None)
    except OSError:
        code, t = 0x5b, None
    c.sendall(bytes((0, code)) + Z6)  # granted, USERID refused, failed
    if t:
        with t:  # relays both ways
            threading.Thread(target=pipe, args=(t, c), daemon=True).start()
            pipe(c, t)
    return not t


def pipe(src, dst):  # until src ends, then ends dst too
    with contextlib.suppress(OSError):
        while data := src.recv(1 << 16):
            dst.sendall(data)
        dst.shutdown(socket.SHUT_RDWR)


def serve(c):  # one request per connection; later bytes are read and dropped until the client closes
    with contextlib.suppress(Exception), (TLS.wrap_socket(c, server_side=True) if TLS else c) as c, c.makefile("rb") as f:
        if A.mode in SOCKS:
            close = socks(c, f)
        else:
            head = until(f, b"\r\n\r\n")
            record(head)
            close = HTTP[A.mode](c, head, (head.split(b"\r\n")[0].split(b" ") + [b""])[1])
        if close:
            c.shutdown(socket.SHUT_WR)  # once all is out
        while c.recv(1 << 16):
            pass


def daemon(port):  # the command line of tinyproxy, microsocks, squid or dante-server, with its files written into TMP
    d, out, user = TMP.name, A.bind or "127.0.0.1", A.user
    if A.mode == "microsocks":
        return ["microsocks", "-i", "127.0.0.1", "-p", str(port), "-b", out] + (["-u", user, "-P", A.password] if user else [])
    if A.mode == "tinyproxy":
        write("tinyproxy.conf", f"Port {port}\nListen 127.0.0.1\nBind {out}\nAllow 127.0.0.1\nTimeout 60\nMaxClients 200\nLogLevel Info\n"
              f'DisableViaHeader {"No" if A.via == "on" else "Yes"}\nLogFile "{d}/tinyproxy.log"\nPidFile "{d}/tinyproxy.pid"\nConnectPort 443\n'
              + "".join(f"ConnectPort {p}\n" for p in A.connect_port) + (f"BasicAuth {user} {A.password}\n" if user else ""))
        return ["tinyproxy", "-d", "-c", f"{d}/tinyproxy.conf"]
    crypted = user and subprocess.run(["openssl", "passwd", "-6", "-stdin"], input=A.password, text=True, capture_output=True, check=True).stdout.strip()
    if A.mode == "squid":  # memory only, its files here (readable by the user it drops to as root), Basic auth, loopback to loopback
        write("passwd", f"{user}:{crypted}\n")
        write("squid.conf", f"http_port 127.0.0.1:{port}\npid_filename {d}/squid.pid\ncache_log {d}/cache.log\naccess_log none\n"
              f"coredump_dir {d}\ncache deny all\nshutdown_lifetime 0 seconds\nvisible_hostname quillfen-peer\npinger_enable off\n"
              f"dns_nameservers 127.0.0.1\nforwarded_for {A.forwarded_for}\nvia {A.via or 'on'}\ntcp_outgoing_address {out}\n"
              f"auth_param basic program /usr/lib/squid/basic_ncsa_auth {d}/passwd\nacl users proxy_auth REQUIRED\n"
              f"acl loopback dst 127.0.0.0/8\nhttp_access deny !localhost\nhttp_access deny !loopback\n"
              f"http_access allow {'users' if user else 'localhost'}\nhttp_access deny all\n")
        if os.geteuid() == 0:
            os.chown(d, pwd.getpwnam("proxy").pw_uid, -1)
        return ["squid", "-N", "-f", f"{d}/squid.conf"]
    # dante-server: SOCKS5 with --user through "username", which checks the system's shadow passwords: in a mount namespace
    # of its own, it sees a shadow file of that user alone. SOCKS4, which carries no password, passes as "none".
    write("shadow", f"{user}:{crypted}:19000:0:99999:7:::\n")
    rule = "socks pass {{ from: 127.0.0.0/8 to: 127.0.0.0/8\n{} }}\n".format  # a list of values ends at a line's end
    write("danted.conf", f"logoutput: {d}/danted.log\ninternal: 127.0.0.1 port = {port}\nexternal: {out}\nclientmethod: none\n"
          f"socksmethod: {'username ' if user else ''}none\nclient pass {{ from: 127.0.0.0/8 to: 127.0.0.0/8 }}\n"
          + (rule("proxyprotocol: socks_v5\nsocksmethod: username") + rule("proxyprotocol: socks_v4") if user else rule("")))
    return ["unshare", "-m"] + ([] if os.geteuid() == 0 else ["-r"]) + [
        "sh", "-c", 'mount --bind "$0/shadow" /etc/shadow && exec danted -f "$0/danted.conf" -p "$0/danted.pid"', d]


def write(name, text):
    with open(f"{TMP.name}/{name}", "w") as f:
        f.write(text)


def debian():  # a Debian proxy daemon with a throw-away configuration, ended with the peer
    for _ in range(5):  # a free port taken meanwhile: another
        with socket.create_server(("127.0.0.1", 0)) as s:
            port = s.getsockname()[1]
        child = subprocess.Popen(daemon(port), stdin=subprocess.DEVNULL,
                                 preexec_fn=lambda: __import__("ctypes").CDLL(None).prctl(1, 15))  # PR_SET_PDEATHSIG: ends with the peer
        deadline = time.monotonic() + 10
        while child.poll() is None and time.monotonic() < deadline:
            with socket.socket() as s:
                if s.connect_ex(("127.0.0.1", port)) == 0:
                    return child, port
            time.sleep(0.01)
        child.kill()
    raise OSError(f"{A.mode} did not start")


DAEMONS = ("tinyproxy", "microsocks", "squid", "dante")


def quit(status=0):  # what SIGTERM, SIGINT, a closed standard input and --lifetime end in
    if CHILD:
        CHILD.terminate()
        CHILD.wait(5)
    TMP.cleanup()
    os._exit(status)  # waits for no connection


parser = argparse.ArgumentParser(prog="quillfen-peer", description=__doc__)
parser.add_argument("mode", choices=[*HTTP, *SOCKS, *DAEMONS])
for option, kind, default in (("--count", int, 1), ("--lifetime", float, 600), ("--pause", float, 0.3), ("--size", int, 8 << 30),
                              ("--body", os.fsencode, None), ("--location", os.fsencode, b"/test.php"),
                              ("--record", str, None), ("--cert", str, None), ("--user", str, ""), ("--password", str, ""), ("--connect-port", str, []),
                              ("--bind", str, None), ("--forwarded-for", str, "on"), ("--via", str, None)):
    parser.add_argument(option, type=kind, default=default, action="append" if default == [] else "store")
parser.add_argument("--tls", action="store_true")
A = parser.parse_args()
BODY = BODIES.get(A.mode) if A.body is None else A.body
TMP, CHILD, TLS, events = tempfile.TemporaryDirectory(), None, None, selectors.DefaultSelector()
for sig in (signal.SIGTERM, signal.SIGINT):
    signal.signal(sig, lambda *_: quit())
if A.mode in DAEMONS:
    CHILD, port = debian()
    events.register(os.pidfd_open(CHILD.pid), selectors.EVENT_READ, lambda: quit(1))  # it ended on its own
    print(port, flush=True)
else:
    if A.tls or A.mode == "tls-target":  # a throw-away self-signed certificate
        import ssl
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2",
                        "-subj", "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", f"{TMP.name}/key.pem",
                        "-out", A.cert or f"{TMP.name}/cert.pem"], check=True, capture_output=True)
        TLS = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        TLS.load_cert_chain(A.cert or f"{TMP.name}/cert.pem", f"{TMP.name}/key.pem")
    servers = [socket.create_server(("127.0.0.1", 0)) for _ in range(A.count)]
    for s in servers:
        events.register(s, selectors.EVENT_READ, lambda s=s: threading.Thread(target=serve, args=(s.accept()[0],), daemon=True).start())
    print(*(s.getsockname()[1] for s in servers), flush=True)
if stat.S_ISFIFO(os.fstat(0).st_mode) or stat.S_ISSOCK(os.fstat(0).st_mode):
    events.register(0, selectors.EVENT_READ, lambda: os.read(0, 256) or quit())
end = time.monotonic() + A.lifetime
while time.monotonic() < end:
    for key, _ in events.select(end - time.monotonic()):
        key.data()
quit()
