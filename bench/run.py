#!/usr/bin/env python3
"""Quillfen benchmark: a test run over N loopback proxies, against its peers.

    python3 bench/run.py --build build-bench --out BENCHMARKS.md

Starts one fleet of loopback proxies (bench_fleet), then for every N and
every repetition runs, on that same fleet:
  epoll     bench_epoll_client, the raw-socket limit of this machine;
  curl      curl --parallel --parallel-max 300, one proxy per transfer;
  quillfen  bench_driver, a headless ProxyTest::testAll.
Then the driver at 1,000 and 10,000 with HTTP and SOCKS5 proxies, also the
driver of the portable socket path's build (--portable-build) when given,
quillfen-check over 10,000 beside the driver (bench/check_bench.py), and
beside the raw epoll client speaking HTTP and SOCKS5 to the same fleet: SOCKS5
÷ HTTP for both, and the engine ÷ the raw client for both. Then, on a fleet
that answers as a judge, a plain run beside a judged one at 10,000
(--judged-only: only that, printed). With --socks-only,
only that part, printed and not written anywhere (--runs 5 for best of five).
Then the real window (bin/Quillfen under Xvfb, timed by the preloaded
quillfen_window_probe.so) with 100,000 and 10,000 stored proxies, served by
ten fleets on 127.0.0.1 to 127.0.0.10 that share one port range: "▶ Test" is
clicked with xdotool, and every frame interval from the press to the last
outcome is kept; the end of the splash, "⚙ Settings" and Back are timed to
the first frame that shows the next page; the raw epoll client runs over the
same 100,000 proxies for comparison; and the settings page's import of a
100,000-line text list, then Back, to the grid drawn.

Writes BENCHMARKS.md (table, ratios, goals, machine, commands), the raw
figures (bench/results/latest.json) and the plot (bench/results/time-vs-n.png).
All traffic stays on 127.0.0.1; the settings store of the window is a
temporary folder. With QUILLFEN_BENCH_DEBUG=1, a window run that never
finishes gets a gdb backtrace in the raw figures.
"""

import argparse
import json
import os
import platform
import queue
import re
import select
import shutil
import signal
import statistics
import subprocess
import tempfile
import threading
import time

import check_bench  # bench/check_bench.py: quillfen-check beside the driver

CLIENTS = ["epoll", "curl", "quillfen"]
CLIENT_LABELS = {
    "epoll": "raw epoll client (the limit)",
    "curl": "curl --parallel (max 300)",
    "quillfen": "Quillfen ProxyTest (headless)",
}
GOALS = {
    "ratio_curl": 1.0,
    "ratio_epoll": 3.0,
    "rss_10000_mb": 150.0,
    "frame_gap_ms": 50.0,
    "cold_start_ms": 400.0,
    "grid_ms": 300.0,
    "page_ms": 100.0,
    "window_rss_mb": 300.0,
    "window_ratio_epoll": 3.0,
    "import_ms": 1000.0,
}
IMPORT_N = 100000  # lines of the plain-text list the window imports


def log(*parts):
    print(*parts, flush=True)


# ---------------------------------------------------------------- ports

def listening_ports():
    ports = set()
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as handle:
                next(handle)
                for line in handle:
                    fields = line.split()
                    if fields[3] == "0A":  # LISTEN
                        ports.add(int(fields[1].rsplit(":", 1)[1], 16))
        except OSError:
            pass
    return ports


# Port blocks that local test servers like to use; the fleet keeps out of them
# while it can.
POLITE_AVOID = set(range(8000, 9000)) | set(range(18000, 19000))


def free_port_ranges(count):
    """Bases B below 32768 with B-1 .. B+count-1 not listening (B-1 is the target)."""
    taken = listening_ports()
    for avoid in (taken | POLITE_AVOID, taken):
        base = 2001
        while base + count <= 32768:
            clash = [p for p in range(base - 1, base + count) if p in avoid]
            if not clash:
                yield base
                base += count + 1
            else:
                base = max(clash) + 2


# ---------------------------------------------------------------- fleet

class Fleet:
    def __init__(self, binary, count, judge=False):
        self.count = count
        self.proc = None
        for base in free_port_ranges(count):
            proc = subprocess.Popen([binary, str(base), str(count)] + (["127.0.0.1", "judge"] if judge else []), stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, text=True)
            line = proc.stdout.readline()
            if line.startswith("READY"):
                self.proc, self.base, self.target_port = proc, base, base - 1
                self.ready_line = line.strip()
                return
            proc.wait(timeout=10)
            log("fleet could not start at", base, ":", proc.stderr.read().strip())
        raise SystemExit("no free range of %d ports below 32768 for the fleet" % count)

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.proc.pid) as handle:
            fields = handle.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            out, _ = self.proc.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out, _ = self.proc.communicate()
        for line in out.splitlines():
            if line.startswith("FLEET "):
                return json.loads(line[6:])
        return {}


# ---------------------------------------------------------------- clients

def parse_bench_line(text):
    for line in text.splitlines():
        if line.startswith("BENCH "):
            return json.loads(line[6:])
    return None


def run_tool(command, limit_s):
    """Runs a bench tool that prints a BENCH line; a run past limit_s is killed."""
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=limit_s + 30)
    except subprocess.TimeoutExpired as expired:
        out = expired.stdout.decode() if isinstance(expired.stdout, bytes) else (expired.stdout or "")
        result = parse_bench_line(out) or {}
        result.update(complete=False, limit_hit=True, error="killed after %.0f s" % (limit_s + 30))
        return result
    result = parse_bench_line(done.stdout)
    if result is None:
        return {"complete": False, "limit_hit": False,
                "error": "no result (exit %d): %s" % (done.returncode, done.stderr.strip()[-300:])}
    result["limit_hit"] = not result.get("complete", False) and done.returncode == 3
    return result


def timestamp():
    now = time.time()
    return time.strftime("%Y-%m-%d-%H-%M-%S", time.localtime(now)) + "-%03d" % int((now % 1) * 1000)


def write_curl_config(path, fleet, n):
    url = "http://127.0.0.1:%d/test.php?_t=%s" % (fleet.target_port, timestamp())
    block = ('url = "%s"\nproxy = "http://127.0.0.1:%%d"\noutput = "/dev/null"\n'
             'write-out = "%%%%{http_code}\\n"\n'
             'header = "Cache-Control: no-cache, no-store, must-revalidate"\n'
             'header = "Pragma: no-cache"\nheader = "Expires: 0"\n') % url
    with open(path, "w") as handle:
        # "next" only between blocks: a trailing one would add an empty transfer.
        handle.write("next\n".join(block % (fleet.base + i) for i in range(n)))


def curl_command(config):
    return ["/usr/bin/time", "-v", "curl", "--parallel", "--parallel-max", "300", "-s", "-S", "-K", config]


def run_curl(config, n, limit_s):
    start = time.monotonic()
    proc = subprocess.Popen(curl_command(config), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            start_new_session=True)
    try:
        out, err = proc.communicate(timeout=limit_s)
        limit_hit = False
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, err = proc.communicate()
        limit_hit = True
    elapsed = time.monotonic() - start
    codes = out.split()
    alive = sum(1 for code in codes if code == "200")

    def field(name):
        match = re.search(re.escape(name) + r":\s*([\d.]+)", err)
        return float(match.group(1)) if match else None

    rss_kb = field("Maximum resident set size (kbytes)")
    user, system = field("User time (seconds)"), field("System time (seconds)")
    status = field("Exit status")
    errors = [line for line in err.splitlines() if line.startswith("curl:")]
    return {
        "client": "curl", "n": n, "complete": not limit_hit and len(codes) == n,
        "limit_hit": limit_hit, "time_s": elapsed,
        "outcomes": {"alive": alive, "dead": len(codes) - alive},
        "missing": n - len(codes), "rss_mb": rss_kb / 1024 if rss_kb else None, "threads_peak": None,
        "cpu_s": (user or 0) + (system or 0), "exit": status,
        "first_error": errors[0] if errors else "",
    }


# ---------------------------------------------------------------- window

class Display:
    def __init__(self):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                                      "-nolisten", "tcp"], pass_fds=[write_end],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        # Xvfb writes the number and the newline separately, and gives up if
        # the pipe is closed in between: read up to the newline.
        text = b""
        deadline = time.monotonic() + 15
        while not text.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], max(0.0, deadline - time.monotonic()))
            chunk = os.read(read_end, 64) if ready else b""
            if not chunk:
                break
            text += chunk
        os.close(read_end)
        number = text.decode().strip()
        if not text.endswith(b"\n") or not number.isdigit() or self.proc.poll() is not None:
            self.stop()
            raise RuntimeError("Xvfb did not report a display")
        self.name = ":" + number

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()


def seed_store(folder, fleets, n):
    proxies = json.dumps([{"host": fleets.host(i), "port": fleets.port(i)} for i in range(n)],
                         separators=(",", ":"), ensure_ascii=False)
    os.makedirs(os.path.join(folder, "Quillfen"), exist_ok=True)
    quoted = '"' + proxies.replace("\\", "\\\\").replace('"', '\\"') + '"'
    with open(os.path.join(folder, "Quillfen", "Quillfen.conf"), "w") as handle:
        handle.write("[ProxyConfig]\n")
        handle.write("savedProxies=%s\n" % quoted)
        handle.write("savedTargetUrl=http://127.0.0.1:%d/test.php\n" % fleets.target_port)
        handle.write("savedTimeoutMs=15000\n")


def window_env(display, store, runtime, probe, mode, n, limit_s):
    env = dict(os.environ)
    for name in ("QT_QPA_PLATFORM", "QT_QUICK_BACKEND", "QSG_RENDER_LOOP", "WAYLAND_DISPLAY"):
        env.pop(name, None)
    env.update(DISPLAY=display.name, XDG_CONFIG_HOME=store, XDG_RUNTIME_DIR=runtime, LD_PRELOAD=probe,
               QUILLFEN_PROBE_MODE=mode, QUILLFEN_PROBE_N=str(n),
               QUILLFEN_PROBE_LIMIT_MS=str(int(limit_s * 1000)))
    return env


def run_window(executable, env, display, limit_s):
    """One launch of the real program; returns the probe's findings."""
    env = dict(env, QUILLFEN_PROBE_T0_NS=str(time.clock_gettime_ns(time.CLOCK_MONOTONIC)))
    proc = subprocess.Popen([executable], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            start_new_session=True)
    lines = queue.Queue()
    stderr_tail = []

    def pump_stdout():
        for line in proc.stdout:
            lines.put(line)
        lines.put(None)

    def pump_stderr():
        for line in proc.stderr:
            stderr_tail.append(line)

    threading.Thread(target=pump_stdout, daemon=True).start()
    threading.Thread(target=pump_stderr, daemon=True).start()
    found = {}
    deadline = time.monotonic() + limit_s + 20  # start-up and the 2 s splash come on top
    clicks = []
    button = None

    def click():
        clicks.append(time.monotonic())
        subprocess.run(["xdotool", "mousemove", "--sync", str(button["x"]), str(button["y"]), "click", "1"],
                       env=dict(os.environ, DISPLAY=display.name), timeout=20, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    while time.monotonic() < deadline:
        try:
            line = lines.get(timeout=0.5)
        except queue.Empty:
            # A click that the window did not take (it came too early) is repeated.
            if button and "pressed" not in found and len(clicks) < 4 and time.monotonic() - clicks[-1] > 3:
                click()
            continue
        if line is None:
            break
        if not line.startswith("PROBE "):
            continue
        event = json.loads(line[6:])
        found[event["event"]] = event
        if event["event"] == "page":
            found.setdefault("pages", []).append(event)
        if event["event"] == "button" and env["QUILLFEN_PROBE_MODE"] == "run":
            button = event
            click()
        if event["event"] in ("result", "limit", "error"):
            break
        if event["event"] == "first_frame" and env["QUILLFEN_PROBE_MODE"] == "coldstart":
            break
    if os.environ.get("QUILLFEN_BENCH_DEBUG") and proc.poll() is None and "result" not in found and shutil.which("gdb"):
        # Where a window that never finished was stuck, for bench/results/latest.json.
        found["debug"] = subprocess.run(["gdb", "-p", str(proc.pid), "-batch", "-ex", "thread apply all bt 12"],
                                        capture_output=True, text=True).stdout[-8000:]
    try:
        proc.wait(timeout=15)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
    if "result" not in found and env["QUILLFEN_PROBE_MODE"] != "coldstart":
        found["stderr"] = "".join(stderr_tail[-15:])
    if clicks:
        found["clicks"] = len(clicks)
    return found


# ---------------------------------------------------------------- figures

def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def fmt_time(seconds):
    if seconds is None:
        return "–"
    return "%.0f ms" % (seconds * 1000) if seconds < 1 else "%.2f s" % seconds


def fmt_num(value, unit="", digits=0):
    if value is None:
        return "–"
    return ("%%.%df%%s" % digits) % (value, unit)


def machine_info(qt_version):
    def read(path):
        try:
            with open(path) as handle:
                return handle.read()
        except OSError:
            return ""
    cpu = re.search(r"model name\s*:\s*(.*)", read("/proc/cpuinfo"))
    mem = re.search(r"MemTotal:\s*(\d+)", read("/proc/meminfo"))
    curl_version = subprocess.run(["curl", "--version"], capture_output=True, text=True).stdout.split("\n")[0]
    return {
        "nproc": os.cpu_count(),
        "cpu": cpu.group(1).strip() if cpu else "?",
        "memory_gb": round(int(mem.group(1)) / 1024 / 1024, 1) if mem else None,
        "kernel": platform.release(),
        "debian": read("/etc/debian_version").strip(),
        "qt": qt_version or "?",
        "curl": curl_version,
        "nofile_hard": read_nofile_hard(),
    }


def read_nofile_hard():
    import resource
    return resource.getrlimit(resource.RLIMIT_NOFILE)[1]


def summarize(runs, ns):
    summary = {}
    for client in CLIENTS:
        for n in ns:
            mine = [r for r in runs if r["client"] == client and r["n"] == n]
            good = [r for r in mine if r.get("complete")]
            summary[(client, n)] = {
                "runs": len(mine), "complete": len(good),
                "limit_hit": any(r.get("limit_hit") for r in mine),
                "skipped": any(r.get("skipped") for r in mine),
                "time_s": median([r.get("time_s") for r in good]),
                "time_min": min([r["time_s"] for r in good], default=None),
                "time_max": max([r["time_s"] for r in good], default=None),
                "rss_mb": median([r.get("rss_mb") for r in good]),
                "threads": median([r.get("threads_peak") for r in good]),
                "cpu_s": median([r.get("cpu_s") for r in good]),
                "fleet_cpu_s": median([r.get("fleet_cpu_s") for r in good]),
                "settle_s": median([r.get("settle_s") for r in good]),
                "all_alive": all(r.get("outcomes", {}).get("alive") == n for r in mine if not r.get("skipped")),
                "outcomes": [r.get("outcomes") for r in mine if r.get("outcomes")],
                "errors": sorted({r.get("first_error") or r.get("error") for r in mine
                                  if r.get("first_error") or r.get("error")}),
            }
    return summary


def goal_rows(summary, ns, window, limit):
    """(goal, measured, target, met: True/False/None) for the goals of the run."""
    rows = []
    for n in (5000, 10000):
        if n not in ns:
            continue
        mine = summary[("quillfen", n)]
        q = mine["time_s"]
        # A run stopped at the limit, or not run because a smaller N was, took longer than the limit.
        over = q is None and (mine["limit_hit"] or mine["skipped"])
        for peer, name, goal in (("curl", "curl", GOALS["ratio_curl"]), ("epoll", "epoll limit", GOALS["ratio_epoll"])):
            p = summary[(peer, n)]["time_s"]
            r = ratio(q, p)
            if over:
                measured = "> %s (over the %g s limit vs %s)" % (
                    fmt_num(limit / p, "×", 1) if p else "?", limit, fmt_time(p))
                ok = False if p and limit / p > goal else None
            else:
                measured = "%s (%s vs %s)" % (fmt_num(r, "×", 2), fmt_time(q), fmt_time(p))
                ok = None if r is None else r <= goal
            rows.append(("N = %s: Quillfen time ÷ %s" % ("{:,}".format(n), name), measured,
                         "≤ %s×" % ("%.1f" % goal if goal < 2 else "%.0f" % goal), ok))
    if 10000 in ns:
        rss = summary[("quillfen", 10000)]["rss_mb"]
        rows.append(("N = 10,000: Quillfen peak RSS", fmt_num(rss, " MB"), "≤ %.0f MB" % GOALS["rss_10000_mb"],
                     None if rss is None else rss <= GOALS["rss_10000_mb"]))
    big, small = window.get("n_big"), window.get("n_small")
    for n in (big, small):
        at = window.get("at", {}).get(str(n), {})
        gap = at.get("longest_gap_median")
        rows.append(("window, %s proxies: longest frame gap from the press of \"▶ Test\" to the last outcome "
                     "(median; worst %s)" % ("{:,}".format(n) if n else "?", fmt_num(at.get("longest_gap_worst"), " ms")),
                     fmt_num(gap, " ms"), "≤ %.0f ms" % GOALS["frame_gap_ms"],
                     None if gap is None else gap <= GOALS["frame_gap_ms"]))
    name = "{:,}".format(big) if big else "?"
    for key, label, goal in (("grid_ms", "end of the splash to the grid drawn, %s stored" % name, "grid_ms"),
                             ("settings_ms", "\"⚙ Settings\" to the settings page drawn, %s" % name, "page_ms"),
                             ("back_ms", "Back to the grid drawn, saving included, %s" % name, "page_ms")):
        value = window.get(key + "_median")
        rows.append(("window: %s (median of %d)" % (label, len(window.get(key, []))), fmt_num(value, " ms"),
                     "≤ %.0f ms" % GOALS[goal], None if value is None else value <= GOALS[goal]))
    at = window.get("at", {}).get(str(big), {})
    rss = at.get("rss_median")
    rows.append(("window, %s proxies: peak RSS through a whole run" % name, fmt_num(rss, " MB"),
                 "≤ %.0f MB" % GOALS["window_rss_mb"], None if rss is None else rss <= GOALS["window_rss_mb"]))
    q, e = at.get("run_s_median"), window.get("epoll_s_median")
    r = ratio(q, e)
    rows.append(("window, %s proxies: press to last outcome ÷ raw epoll client" % name,
                 "%s (%s vs %s)" % (fmt_num(r, "×", 2), fmt_time(q), fmt_time(e)),
                 "≤ %.0f×" % GOALS["window_ratio_epoll"], None if r is None else r <= GOALS["window_ratio_epoll"]))
    imports = window.get("import", [])
    value = window.get("import_ms_median")
    short = [r for r in imports if r.get("rows") != IMPORT_N]
    rows.append(("window: import of a %s-line text list on the settings page, then Back, to the grid drawn "
                 "(median of %d)" % ("{:,}".format(IMPORT_N), len(imports)),
                 fmt_num(value, " ms") + (" (`importFrom` %s, its result on the settings page drawn at %s)" % (
                     fmt_num(median([r.get("call_ms") for r in imports]), " ms"),
                     fmt_num(median([r.get("drawn_ms") for r in imports]), " ms")) if value is not None else "")
                 + (" ⚠ %d of %d launches did not hold %s rows" % (
                     len(short), len(imports), "{:,}".format(IMPORT_N)) if short else ""),
                 "≤ %.0f ms" % GOALS["import_ms"], None if value is None else value <= GOALS["import_ms"] and not short))
    cold = window.get("cold_start_median")
    rows.append(("cold start to the first frame, %s stored (median of %d)" % (
                     "{:,}".format(window.get("n_small", 0)), len(window.get("cold_starts", []))),
                 fmt_num(cold, " ms"), "≤ %.0f ms" % GOALS["cold_start_ms"],
                 None if cold is None else cold <= GOALS["cold_start_ms"]))
    return rows


def ratio(a, b):
    return a / b if a is not None and b else None


def verdict(ok, markdown=True):
    if ok is None:
        return "–"
    return "met" if ok else ("**not met**" if markdown else "NOT MET")


def plot(summary, ns, folder):
    data = os.path.join(folder, "time-vs-n.dat")
    with open(data, "w") as handle:
        handle.write("# N " + " ".join(CLIENTS) + "  (median seconds; ? = no figure)\n")
        for n in ns:
            values = [summary[(c, n)]["time_s"] for c in CLIENTS]
            handle.write("%d %s\n" % (n, " ".join("%.5f" % v if v is not None else "?" for v in values)))
    png = os.path.join(folder, "time-vs-n.png")
    if not shutil.which("gnuplot"):
        return None
    terminals = subprocess.run(["gnuplot", "-e", "set terminal"], capture_output=True, text=True)
    if "pngcairo" in terminals.stdout + terminals.stderr:
        terminal = "pngcairo size 900,560 font 'DejaVu Sans,11'"
    else:
        terminal = "png size 900,560"
    script = """
set terminal %s
set output '%s'
set title 'Time from the start to the last outcome, loopback fleet (median of runs)'
set xlabel 'proxies (N)'
set ylabel 'seconds'
set logscale xy
set grid
set key top left
set datafile missing '?'
set xrange [%g:%g]
set xtics (%s)
plot '%s' using 1:2 with linespoints lw 2 pt 7 title '%s', \\
     '' using 1:3 with linespoints lw 2 pt 5 title '%s', \\
     '' using 1:4 with linespoints lw 2 pt 9 title '%s'
""" % (terminal, png, min(ns) / 1.4, max(ns) * 1.4, ", ".join('"%s" %d' % ("{:,}".format(n), n) for n in ns), data,
       CLIENT_LABELS["epoll"], CLIENT_LABELS["curl"], CLIENT_LABELS["quillfen"])
    done = subprocess.run(["gnuplot"], input=script, capture_output=True, text=True)
    if done.returncode != 0:
        log("gnuplot failed:", done.stderr.strip())
        return None
    return png


# ---------------------------------------------------------------- report

def write_report(path, args, info, runs, summary, ns, window, fleet_info, commands, png, started, finished, load):
    rel = lambda p: os.path.relpath(p, os.path.dirname(os.path.abspath(path)))
    out = []
    w = out.append
    w("# Benchmarks")
    w("")
    w("Written by `make bench` (`bench/run.py`) on %s; the whole run took %.0f s. Every figure is "
      "measured on loopback against one fleet of local proxies that answer a proxied GET themselves "
      "(`bench/fleet.cpp`); nothing leaves the machine. Medians of %d runs per client and N; "
      "time is from the start of the run to its last outcome." %
      (time.strftime("%Y-%m-%d %H:%M", time.localtime(started)), finished - started, args.runs))
    w("")
    w("## Goals")
    w("")
    w("| goal | measured | target | |")
    w("|---|---|---|---|")
    for label, measured, target, ok in goal_rows(summary, ns, window, args.limit):
        w("| %s | %s | %s | %s |" % (label, measured, target, verdict(ok)))
    w("")
    why = window_gap_reason(window, info, load)
    if why:
        w(why)
        w("")
    w("## Time to the last outcome")
    w("")
    if png:
        w("![time against N](%s)" % rel(png))
        w("")
    w("| N | client | time (median) | min – max | peak RSS | peak threads | CPU | fleet CPU | outcomes |")
    w("|---|---|---|---|---|---|---|---|---|")
    for n in ns:
        for client in CLIENTS:
            s = summary[(client, n)]
            if s["complete"] == 0:
                why = "hit the %d s limit" % args.limit if s["limit_hit"] else (
                    "skipped (a smaller N hit the limit, or the time budget ran out)" if s["skipped"] else "no complete run")
                w("| %s | %s | **%s** | | | | | | %s |" % ("{:,}".format(n), CLIENT_LABELS[client], why,
                                                          "; ".join(s["errors"])[:200]))
                continue
            outcome = outcome_text(s, n)
            w("| %s | %s | %s | %s – %s | %s | %s | %s | %s | %s |" % (
                "{:,}".format(n), CLIENT_LABELS[client], fmt_time(s["time_s"]), fmt_time(s["time_min"]),
                fmt_time(s["time_max"]), fmt_num(s["rss_mb"], " MB"),
                fmt_num(s["threads"]) if s["threads"] is not None else "–",
                fmt_num(s["cpu_s"], " s", 2), fmt_num(s["fleet_cpu_s"], " s", 2), outcome))
    w("")
    busy = [(r["fleet_cpu_s"] / r["time_s"], r) for r in runs
            if r.get("complete") and r.get("time_s") and r.get("fleet_cpu_s") is not None and r["n"] >= 1000]
    busiest = max(busy, key=lambda item: item[0], default=None)
    w("CPU is user + system time of the client process. Fleet CPU is what the one-threaded fleet spent "
      "during the same run%s." % (
          "; at N ≥ 1,000 it was busy at most %.0f %% of a run's time (%s, N = %s): it never saturated "
          "its core" % (busiest[0] * 100, busiest[1]["client"], "{:,}".format(busiest[1]["n"]))
          if busiest else ""))
    w("")
    w("### Ratios (median ÷ median)")
    w("")
    w("| N | Quillfen ÷ curl | Quillfen ÷ epoll | curl ÷ epoll |")
    w("|---|---|---|---|")
    for n in ns:
        q, c, e = (summary[(k, n)]["time_s"] for k in ("quillfen", "curl", "epoll"))
        w("| %s | %s | %s | %s |" % ("{:,}".format(n), fmt_num(ratio(q, c), "×", 2), fmt_num(ratio(q, e), "×", 2),
                                      fmt_num(ratio(c, e), "×", 2)))
    w("")
    settle = [(n, summary[("quillfen", n)]["settle_s"]) for n in ns if summary[("quillfen", n)]["settle_s"] is not None]
    if settle:
        w("After its last outcome, the engine took this long to delete the objects of the run "
          "(not part of the time above): " + ", ".join("%s at N = %s" % (fmt_time(s), "{:,}".format(n))
                                                       for n, s in settle) + ".")
        w("")
    w("## The window")
    w("")
    write_window_section(w, window)
    w("")
    design = os.path.join(os.path.dirname(os.path.abspath(__file__)), "design.md")
    if os.path.exists(design):
        with open(design) as handle:
            w(handle.read().rstrip("\n"))
        w("")
    w("## Machine")
    w("")
    w("| | |")
    w("|---|---|")
    w("| CPUs (nproc) | %s |" % info["nproc"])
    w("| CPU | %s |" % info["cpu"])
    w("| memory | %s GB |" % info["memory_gb"])
    w("| kernel | %s |" % info["kernel"])
    w("| Debian | %s |" % info["debian"])
    w("| Qt | %s (event dispatcher of the driver: %s) |" % (info["qt"], info.get("dispatcher", "?")))
    w("| curl | %s |" % info["curl"])
    w("| open files, hard limit | %s (each tool raises its soft limit to it) |" % info["nofile_hard"])
    w("| load average before / after | %s / %s |" % load)
    w("")
    w("Other work on the machine during the run shows up in the load average; the figures are "
      "medians to damp it, not to hide it.")
    w("")
    w("## Commands")
    w("")
    w("```sh")
    w("make bench        # deps, build into build-bench/ (and bench_driver into build-bench-portable/")
    w("                  # with -DQUILLFEN_PORTABLE_NET=ON), then:")
    w("python3 bench/run.py --build build-bench --portable-build build-bench-portable --out BENCHMARKS.md")
    w("```")
    w("")
    w("What it runs (BASE = %d, TARGET = %d: the first free range of ports below 32768; "
      "LIMIT = %d s per run):" % (fleet_info["base"], fleet_info["target"], args.limit))
    w("")
    w("```sh")
    for line in commands:
        w(line)
    w("```")
    w("")
    w("A curl config holds one block per proxy, joined by `next` lines (none after the last block):")
    w("")
    w("```")
    w('url = "http://127.0.0.1:TARGET/test.php?_t=<stamp>"')
    w('proxy = "http://127.0.0.1:<BASE+i>"')
    w('output = "/dev/null"')
    w('write-out = "%{http_code}\\n"')
    w('header = "Cache-Control: no-cache, no-store, must-revalidate"')
    w('header = "Pragma: no-cache"')
    w('header = "Expires: 0"')
    w("next")
    w("...")
    w("```")
    w("")
    w("Time is measured by each tool from its start signal (the first `socket()` of the epoll client, "
      "the `testAll` call of the driver) to its last outcome; curl's is the wall time of the whole "
      "process, its RSS and CPU come from `/usr/bin/time -v`. Peak RSS is `VmHWM`; threads are sampled "
      "from `/proc/self/status` every 2 ms. Raw figures of every run: `%s`." % rel(args.results_json))
    w("")
    with open(path, "w") as handle:
        handle.write("\n".join(out))


def outcome_text(s, n):
    texts = []
    for outcome in s["outcomes"]:
        if outcome.get("alive") == n:
            texts.append("all alive")
        else:
            texts.append(", ".join("%s %s" % (v, k) for k, v in outcome.items() if v))
    unique = sorted(set(texts))
    text = unique[0] if len(unique) == 1 else "; ".join(texts)
    if not s["all_alive"]:
        text = "⚠ " + text
        if s["errors"]:
            text += " (" + s["errors"][0][:120] + ")"
    return text


def window_gap_reason(window, info, load):
    """What the frame-gap rows that are not met measured besides the gaps."""
    runs = [(n, r) for n in (window.get("n_big"), window.get("n_small"))
            for r in window.get("at", {}).get(str(n), {}).get("runs", []) if "result" in r]
    medians = [window.get("at", {}).get(str(n), {}).get("longest_gap_median") for n, _ in runs]
    if not runs or all(m is None or m <= GOALS["frame_gap_ms"] for m in medians):
        return window_ratio_reason(window, info, load)
    n, big = max(runs, key=lambda item: item[0])
    x = big["result"]
    idle = window.get("idle", {})
    return ("Why the frame-gap rows are not met, measured in the same run: a run of %s kept the machine's %s "
            "cores busy. The program used %.1f s of CPU (whole process, start-up included) for a run of %.1f s, "
            "its fleets %.1f s more; most of the program's time is the kernel's loopback TCP inside the GUI "
            "thread's socket calls and Mesa's llvmpipe drawing every frame in software (profile in the design "
            "note below), and other work on the machine kept the load average at %s / %s. The gaps over 50 ms "
            "are spread over the whole run (%d in run 1), not one long stall: the click handler returned within "
            "%.0f ms and the last \"testing\" came %.0f ms after the press. With nothing to do, the same window's "
            "longest gap was %s." % (
                "{:,}".format(n), info.get("nproc", "?"), x["cpu_s"], x["last_outcome_ms"] / 1000,
                big.get("fleet_cpu_s", 0), load[0], load[1], x["gaps_over_50ms"], x["clicked_ms"],
                x["last_testing_ms"], fmt_num(idle.get("longest_gap_ms"), " ms")))


def window_ratio_reason(window, info, load):
    """What the run of the window measured besides its time, when it is over the goal."""
    big = window.get("n_big")
    at = window.get("at", {}).get(str(big), {})
    q, e = at.get("run_s_median"), window.get("epoll_s_median")
    if ratio(q, e) is None or ratio(q, e) <= GOALS["window_ratio_epoll"]:
        return ""
    runs = [r["result"] for r in at.get("runs", []) if "result" in r and r["result"].get("complete")]
    x = min(runs, key=lambda r: abs(r["last_outcome_ms"] / 1000 - q))
    seconds = x["last_outcome_ms"] / 1000
    return ("Why the window's time to the last outcome is not met, measured in the same run: the times of the "
            "%d runs of %s spread from %s to %s (the raw epoll client's from %s to %s). In the median run the "
            "program used %.1f s of CPU (whole process, start-up included) for a run of %.1f s on the machine's "
            "%s cores, and drew %d frames (%.0f a second; the probe asks for every next frame, and Mesa's "
            "llvmpipe draws each one in software on two threads of its own); the raw client draws nothing and "
            "used one core. The GUI thread that runs every probe gets the cores only when llvmpipe, the fleets "
            "and other work leave them free (load average %s / %s): the profile in the design note below puts "
            "llvmpipe's threads at about as much CPU as the GUI thread." % (
                len(runs), "{:,}".format(big), fmt_time(min(r["last_outcome_ms"] for r in runs) / 1000),
                fmt_time(max(r["last_outcome_ms"] for r in runs) / 1000),
                fmt_time(min((r.get("time_s") for r in window.get("epoll", []) if r.get("time_s")), default=None)),
                fmt_time(max((r.get("time_s") for r in window.get("epoll", []) if r.get("time_s")), default=None)),
                x["cpu_s"], seconds, info.get("nproc", "?"), x["frames"], x["frames"] / seconds if seconds else 0,
                load[0], load[1]))


def write_window_section(w, window):
    if window.get("error"):
        w("Not measured: %s" % window["error"])
        return
    w("The real program (`bin/Quillfen`, unchanged) in a 400 × 700 window on Xvfb, with the list in a "
      "temporary settings store: %s proxies served by %d fleet processes on 127.0.0.1 to 127.0.0.%d, all "
      "on the same %s ports (one process cannot hold more listeners under the open-file limit), and "
      "10,000 of them on 127.0.0.1 alone. The preloaded probe reports where \"▶ Test\" is once the grid "
      "page has settled, and `xdotool` clicks there. From the press to the first frame after the last "
      "outcome, every `QQuickWindow::frameSwapped` is time-stamped; after each frame the probe asks for the "
      "next one through the GUI thread's event queue, so the window draws all the time and a gap is time in "
      "which the GUI thread could not produce a frame." % (
          "{:,}".format(window.get("n_big", 0)), window.get("fleets", 0), window.get("fleets", 0),
          "{:,}".format(window.get("per_address", 0))))
    w("")
    for n in (window.get("n_big"), window.get("n_small")):
        at = window.get("at", {}).get(str(n), {})
        runs = at.get("runs", [])
        if not runs:
            continue
        w("### %s proxies" % "{:,}".format(n))
        w("")
        w("| run | longest gap | at (ms after press) | 99th pct | median | frames | gaps > 50 ms | "
          "last \"testing\" (ms after press) | click handler done | time to last outcome | peak RSS | "
          "peak threads | outcomes |")
        w("|---|---|---|---|---|---|---|---|---|---|---|---|---|")
        for i, r in enumerate(runs, 1):
            if "result" not in r:
                w("| %d | **%s** | | | | | | | | | | | |" % (i, r.get("failure", "no result")))
                continue
            x = r["result"]
            w("| %d | %s | %s | %s | %s | %d | %d | %s | %s | %s | %s | %s | %s |" % (
                i, fmt_num(x["longest_gap_ms"], " ms"), fmt_num(x["longest_gap_at_ms"]),
                fmt_num(x["p99_ms"], " ms"), fmt_num(x["p50_ms"], " ms", 1), x["frames"], x["gaps_over_50ms"],
                fmt_num(x["last_testing_ms"], " ms"), fmt_num(x["clicked_ms"], " ms"),
                fmt_time(x["last_outcome_ms"] / 1000),
                fmt_num(x["rss_mb"], " MB"), x["threads_peak"],
                "all alive" if x["alive"] == x["n"] else "⚠ %d of %d alive%s" % (
                    x["alive"], x["n"], " (%s; first: %s)" % (
                        ", ".join("%d %s" % (v, k) for k, v in x["failed"].items()),
                        x.get("first_error", "")[:100].replace("|", "/")) if x.get("failed") else "")))
        w("")
        w("Medians over the runs: longest gap %s, 99th percentile %s, press to last outcome %s." %
          (fmt_num(at.get("longest_gap_median"), " ms"), fmt_num(at.get("p99_median"), " ms"),
           fmt_time(at.get("run_s_median"))))
        w("")
    epoll = window.get("epoll", [])
    if epoll:
        w("The raw epoll client over the same %s proxies in the same run (as many connections at once as the "
          "open-file limit allows, the rest as earlier ones end): %s (%s)." % (
              "{:,}".format(window.get("n_big", 0)), fmt_time(window.get("epoll_s_median")),
              ", ".join(fmt_time(r.get("time_s")) + ("" if r.get("outcomes", {}).get("alive") == window.get("n_big")
                                                     else " ⚠ %s" % json.dumps(r.get("outcomes"))) for r in epoll)))
        w("")
    pages = [("end of the splash (its timer) to the first frame with the grid page", "grid_ms"),
             ("press of \"⚙ Settings\" to the first frame with the settings page", "settings_ms"),
             ("press of Back to the first frame with the grid page (the list saved first)", "back_ms"),
             ("longest frame gap in the two seconds after Back (the settings store writes the list)", "after_back_gap_ms")]
    w("Pages, %s proxies stored (every launch times the splash; %d launches press Settings and Back):" % (
        "{:,}".format(window.get("n_big", 0)), len(window.get("settings_ms", []))))
    w("")
    w("| step | median | each |")
    w("|---|---|---|")
    for label, key in pages:
        values = window.get(key, [])
        w("| %s | %s | %s |" % (label, fmt_num(median(values), " ms"), ", ".join("%.0f" % v for v in values) or "–"))
    w("")
    if window.get("store_unchanged") is not None:
        w("The stored list after Back is %s the one seeded." % (
            "byte for byte" if window["store_unchanged"] else "**not** byte for byte"))
        w("")
    idle = window.get("idle")
    if idle:
        w("Floor of the measurement (same window, one second with nothing to do): %d frames, longest gap %s, "
          "median %s." % (idle["frames"], fmt_num(idle["longest_gap_ms"], " ms"), fmt_num(idle["p50_ms"], " ms", 1)))
        w("")
    for key, n in (("cold_starts", window.get("n_small", 0)), ("cold_starts_big", window.get("n_big", 0))):
        colds = window.get(key, [])
        if colds:
            w("Cold start, from the launch of the process to its first frame, with %s proxies in the store: "
              "median %s over %d launches (%s)." % ("{:,}".format(n), fmt_num(median(colds), " ms"), len(colds),
                                                    ", ".join("%.0f" % c for c in colds) + " ms"))
            w("")
    imports = window.get("import", [])
    if imports:
        w("Import of a plain-text list of %s lines (`host:port`, one line in ten `socks5://host:port`, one "
          "in ten `http://host:port`, all loopback) on the settings page: the probe calls the page's own "
          "`importFrom(fileUrl)`, as its Import dialog does (the file read, `ListTools.parse`, "
          "`appendEntries`), waits for the first frame that shows the result, then presses Back at once "
          "(the list saved to the store). The store held 10 proxies before; no run is started. Every time "
          "counts from the start of the import:" % "{:,}".format(IMPORT_N))
        w("")
        w("| launch | `importFrom` returned | settings page drawn with the result | Back pressed | "
          "grid drawn | rows in the list | rows stored | longest frame gap |")
        w("|---|---|---|---|---|---|---|---|")
        for i, r in enumerate(imports, 1):
            if r.get("failure"):
                w("| %d | **%s** | | | | | | |" % (i, r["failure"].replace("|", "/").replace("\n", " ")[:200]))
                continue
            w("| %d | %s | %s | %s | %s | %s | %s | %s |" % (
                i, fmt_num(r["call_ms"], " ms"), fmt_num(r["drawn_ms"], " ms"), fmt_num(r["back_ms"], " ms"),
                fmt_num(r["grid_ms"], " ms"), "{:,}".format(r["rows"]) if r.get("rows") is not None else "–",
                "{:,}".format(r["stored_rows"]), fmt_num(r["longest_gap_ms"], " ms")))
        w("")
    render = window.get("render")
    if render:
        w("Rendering: %s." % render)


# ---------------------------------------------------------------- main

# ---------------------------------------------------------------- SOCKS

SOCKS_NS = (1000, 10000)
SOCKS_GOAL = 1.5  # SOCKS5 at 10,000 within this factor of HTTP at 10,000


SOCKET_PATHS = {
    "epoll": "epoll set (Linux)",
    "portable": "portable: a QSocketNotifier per socket",
    "raw": "raw epoll client (the limit)",
}
SOCKS_ENGINE_GOAL = 1.05  # the engine at 10,000 within this factor of the raw client, HTTP and SOCKS5 alike


def measure_socks(args, tools, fleet):
    """The headless driver over the same fleet as HTTP and as SOCKS5 proxies, alternating, built
    once with the epoll set and once with the portable socket path when that build exists."""
    drivers = {"epoll": tools["bench_driver"]}
    if tools.get("bench_driver_portable"):
        drivers["portable"] = tools["bench_driver_portable"]
    drivers["raw"] = tools["bench_epoll_client"]
    records = []
    for n in SOCKS_NS:
        for rep in range(1, args.runs + 1):
            for path, driver in drivers.items():
                for kind in ("http", "socks5"):
                    time.sleep(0.3)
                    result = run_tool([driver, str(fleet.base), str(n), str(fleet.target_port),
                                       str(int(args.limit * 1000))] + (["1"] if path == "raw" else []) + [kind], args.limit)
                    result.update(kind=kind, n=n, rep=rep, path=path)
                    records.append(result)
                    log("N=%-6d run %d %-8s %-6s %s  rss %s  %s" % (
                        n, rep, path, kind, fmt_time(result.get("time_s")) if result.get("complete") else "FAILED",
                        fmt_num(result.get("rss_mb"), " MB"), json.dumps(result.get("outcomes", {}))))
    return records


def write_socks_section(path, records):
    def med(kind, n, field, where="epoll", pick=median):
        values = [r.get(field) for r in records if r["kind"] == kind and r["n"] == n and r.get("complete")
                  and r.get("path", "epoll") == where]
        return pick(values) if values else None

    def outcomes(kind, n, where):
        mine = [r for r in records if r["kind"] == kind and r["n"] == n and r.get("path", "epoll") == where]
        if mine and all(r.get("outcomes", {}).get("alive") == n for r in mine):
            return "all alive"
        return "⚠ " + "; ".join(json.dumps(r.get("outcomes") or r.get("error")) for r in mine)

    paths = [p for p in SOCKET_PATHS if any(r.get("path", "epoll") == p for r in records)]
    lines = ["", "## SOCKS5, and the portable socket path", "",
             "The headless driver over the same fleet, whose proxies also speak SOCKS5 (no authentication, "
             "CONNECT to the target, then the GET through the tunnel), alternating with HTTP runs in the same "
             "session. The driver is built twice: with the epoll set every Linux build uses, and in a build "
             "folder of its own with `-DQUILLFEN_PORTABLE_NET=ON`, the socket path of Windows and macOS "
             "(one `QSocketNotifier` per socket on Qt's event loop). Beside them the raw epoll client over the "
             "same fleet, speaking HTTP and SOCKS5 itself (greeting, CONNECT by name, GET: each a send of its own "
             "once the proxy has answered the last), the limit of this machine for each. Medians of %d runs each." %
             max([r.get("rep", 1) for r in records], default=0), "",
             "| N | type | socket path | time (median) | min – max | peak RSS | CPU | outcomes |",
             "|---|---|---|---|---|---|---|---|"]
    for n in SOCKS_NS:
        for kind in ("http", "socks5"):
            for where in paths:
                times = [r["time_s"] for r in records if r["kind"] == kind and r["n"] == n and r.get("complete")
                         and r.get("path", "epoll") == where]
                lines.append("| %s | %s | %s | %s | %s – %s | %s | %s | %s |" % (
                    "{:,}".format(n), kind, SOCKET_PATHS[where], fmt_time(med(kind, n, "time_s", where)),
                    fmt_time(min(times, default=None)), fmt_time(max(times, default=None)),
                    fmt_num(med(kind, n, "rss_mb", where), " MB"), fmt_num(med(kind, n, "cpu_s", where), " s", 2),
                    outcomes(kind, n, where)))
    r = ratio(med("socks5", SOCKS_NS[-1], "time_s"), med("http", SOCKS_NS[-1], "time_s"))
    lines += ["", "SOCKS5 / HTTP at %s, epoll path: %s (goal ≤ %.1f×): %s" % (
        "{:,}".format(SOCKS_NS[-1]), "%.2f×" % r if r else "–", SOCKS_GOAL,
        verdict(r is not None and r <= SOCKS_GOAL)), ""]
    if "raw" in paths:
        last = SOCKS_NS[-1]
        for label, pick in (("median", median), ("best", min)):
            t = {(k, w): med(k, last, "time_s", w, pick) for k in ("http", "socks5") for w in ("epoll", "raw")}
            engine = {k: ratio(t[(k, "epoll")], t[(k, "raw")]) for k in ("http", "socks5")}
            lines.append("At %s, %s of each: SOCKS5 ÷ HTTP %s for the engine, %s for the raw client; the engine ÷ "
                         "the raw client %s for HTTP and %s for SOCKS5 (goal ≤ %.2f×: %s)." % (
                             "{:,}".format(last), label, fmt_num(ratio(t[("socks5", "epoll")], t[("http", "epoll")]), "×", 2),
                             fmt_num(ratio(t[("socks5", "raw")], t[("http", "raw")]), "×", 2),
                             fmt_num(engine["http"], "×", 2), fmt_num(engine["socks5"], "×", 2), SOCKS_ENGINE_GOAL,
                             verdict(None if None in engine.values() else max(engine.values()) <= SOCKS_ENGINE_GOAL)))
        lines.append("")
    if "portable" in paths:
        lines.append("Portable ÷ epoll path (time, median ÷ median): " + ", ".join(
            "%s at %s %s (CPU %s)" % (
                fmt_num(ratio(med(kind, n, "time_s", "portable"), med(kind, n, "time_s")), "×", 2), kind,
                "{:,}".format(n),
                fmt_num(ratio(med(kind, n, "cpu_s", "portable"), med(kind, n, "cpu_s")), "×", 2))
            for n in SOCKS_NS for kind in ("http", "socks5")) + ".")
        lines.append("")
    elif path:
        lines += ["The portable socket path was not measured: no `bench_driver` built with "
                  "`-DQUILLFEN_PORTABLE_NET=ON` (`--portable-build`).", ""]
    if path:
        with open(path, "a") as handle:
            handle.write("\n".join(lines))
    log("\n".join(lines))


JUDGED_N = 10000


def measure_judged(args, tools, path):
    """The cost of reading the target as a judge: the driver over a fleet whose every answer is a judge's
    echo of the request (its probe marker included), once with a target that does not answer directly
    (nothing read against a reference: a plain run) and once with the target on that fleet, a judge, so
    that every live proxy's answer is held for the reference, parsed, checked for its marker and given a
    level. Alternating, the same fleet, medians of --runs."""
    fleet = Fleet(tools["bench_fleet"], JUDGED_N, judge=True)
    records = []
    try:
        for rep in range(1, args.runs + 1):
            for kind, target in (("plain", fleet.base - 1), ("judged", fleet.base)):
                time.sleep(0.3)
                result = run_tool([tools["bench_driver"], str(fleet.base), str(JUDGED_N), str(target),
                                   str(int(args.limit * 1000))], args.limit)
                result.update(kind=kind, rep=rep)
                records.append(result)
                log("N=%d run %d %-6s %s  rss %s  cpu %s  %s" % (
                    JUDGED_N, rep, kind, fmt_time(result.get("time_s")) if result.get("complete") else "FAILED",
                    fmt_num(result.get("rss_mb"), " MB"), fmt_num(result.get("cpu_s"), " s", 2),
                    json.dumps(result.get("outcomes", {}))))
    finally:
        fleet.stop()

    def med(kind, field):
        values = [r.get(field) for r in records if r["kind"] == kind and r.get("complete")]
        return median(values) if values else None

    lines = ["", "## A judged run", "",
             "The headless driver over %s proxies of a fleet that answers every GET as a judge would (a CGI dump "
             "with the probe's marker). Plain: the target does not answer directly, so no answer is read against "
             "a reference. Judged: the target is a judge on that fleet, so every live proxy waits for the direct "
             "answers, then its answer is parsed, its marker checked and its level found. Medians of %d runs each." %
             ("{:,}".format(JUDGED_N), args.runs), "",
             "| run | time (median) | peak RSS | CPU | outcomes |", "|---|---|---|---|---|"]
    for kind in ("plain", "judged"):
        mine = [r for r in records if r["kind"] == kind]
        lines.append("| %s | %s | %s | %s | %s |" % (
            kind, fmt_time(med(kind, "time_s")), fmt_num(med(kind, "rss_mb"), " MB"), fmt_num(med(kind, "cpu_s"), " s", 2),
            "all alive" if mine and all(r.get("outcomes", {}).get("alive") == JUDGED_N for r in mine)
            else "⚠ " + "; ".join(json.dumps(r.get("outcomes") or r.get("error")) for r in mine)))
    r = ratio(med("judged", "time_s"), med("plain", "time_s"))
    lines += ["", "Judged ÷ plain: %s in time, %s in CPU." % (
        fmt_num(r, "×", 2), fmt_num(ratio(med("judged", "cpu_s"), med("plain", "cpu_s")), "×", 2)), ""]
    if path:
        with open(path, "a") as handle:
            handle.write("\n".join(lines))
    log("\n".join(lines))
    return records


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build-bench")
    parser.add_argument("--portable-build", default="",
                        help="build folder of the driver made with -DQUILLFEN_PORTABLE_NET=ON")
    parser.add_argument("--out", default="BENCHMARKS.md")
    parser.add_argument("--ns", default="100,1000,5000,10000")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--limit", type=float, default=30, help="wall-clock limit of one client run, seconds")
    parser.add_argument("--budget", type=float, default=330,
                        help="seconds after which the remaining client runs are skipped "
                             "(the window is skipped a minute later)")
    parser.add_argument("--window-runs", type=int, default=3)
    parser.add_argument("--window-n", type=int, default=100000)
    parser.add_argument("--cold-starts", type=int, default=3, help="extra launches that only time the first frame")
    parser.add_argument("--no-window", action="store_true")
    parser.add_argument("--socks-only", action="store_true",
                        help="only the SOCKS5 and HTTP runs of the engine and the raw client at 1,000 and 10,000, "
                             "printed; nothing is written")
    parser.add_argument("--judged-only", action="store_true",
                        help="only the plain and the judged runs of the engine at 10,000, printed; nothing is written")
    parser.add_argument("--results", default=os.path.join(here, "results"))
    args = parser.parse_args()
    ns = [int(x) for x in args.ns.split(",")]
    os.makedirs(args.results, exist_ok=True)
    args.results_json = os.path.join(args.results, "latest.json")

    bins = os.path.join(os.path.abspath(args.build), "bin")
    tools = {name: os.path.join(bins, name) for name in
             ("bench_fleet", "bench_epoll_client", "bench_driver")
             + (() if args.socks_only or args.judged_only else ("Quillfen", "quillfen_window_probe.so", "quillfen-check"))}
    missing = [p for p in tools.values() if not os.path.exists(p)]
    if missing:
        raise SystemExit("missing (build first): " + ", ".join(missing))
    if args.portable_build:
        tools["bench_driver_portable"] = os.path.join(os.path.abspath(args.portable_build), "bin", "bench_driver")
        if not os.path.exists(tools["bench_driver_portable"]):
            raise SystemExit("missing (build first): " + tools["bench_driver_portable"])
    for program in ("curl", "/usr/bin/time"):
        if not shutil.which(program):
            raise SystemExit(program + " is missing (make bench installs it)")

    if args.judged_only:
        measure_judged(args, tools, None)
        return

    if args.socks_only:
        fleet = Fleet(tools["bench_fleet"], max(SOCKS_NS))
        try:
            write_socks_section(None, measure_socks(args, tools, fleet))
        finally:
            fleet.stop()
        return

    started = time.time()
    load_before = "%.2f" % os.getloadavg()[0]
    fleet = Fleet(tools["bench_fleet"], max(ns))
    log("fleet:", fleet.ready_line, "target port", fleet.target_port)
    work = tempfile.mkdtemp(prefix="quillfen-bench-")
    runs = []
    window = {}
    socks = []
    check = {}
    try:
        configs = {}
        for n in ns:
            configs[n] = os.path.join(work, "curl-%d.cfg" % n)
            write_curl_config(configs[n], fleet, n)

        over_limit = set()
        for n in ns:
            for rep in range(1, args.runs + 1):
                for client in CLIENTS:
                    record = {"client": client, "n": n, "rep": rep}
                    if client in over_limit or time.time() - started > args.budget:
                        record.update(skipped=True, complete=False)
                        runs.append(record)
                        continue
                    time.sleep(0.3)
                    fleet_before = fleet.cpu_seconds()
                    if client == "epoll":
                        result = run_tool([tools["bench_epoll_client"], str(fleet.base), str(n),
                                           str(fleet.target_port), str(int(args.limit * 1000))], args.limit)
                    elif client == "quillfen":
                        result = run_tool([tools["bench_driver"], str(fleet.base), str(n),
                                           str(fleet.target_port), str(int(args.limit * 1000))], args.limit)
                    else:
                        result = run_curl(configs[n], n, args.limit)
                    record.update(result)
                    record["client"], record["n"] = client, n
                    record["fleet_cpu_s"] = fleet.cpu_seconds() - fleet_before
                    runs.append(record)
                    if record.get("limit_hit"):
                        over_limit.add(client)
                    log("N=%-6d run %d %-9s %s  rss %s  threads %s  %s" % (
                        n, rep, client, fmt_time(record.get("time_s")) if record.get("complete") else
                        ("LIMIT" if record.get("limit_hit") else "FAILED"),
                        fmt_num(record.get("rss_mb"), " MB"), record.get("threads_peak", "–"),
                        json.dumps(record.get("outcomes", {}))))

        socks = measure_socks(args, tools, fleet)
        check = check_bench.measure(tools["quillfen-check"], tools["bench_driver"], fleet,
                                    min(check_bench.N, fleet.count), args.runs, int(args.limit), log)
        if args.no_window:
            window = {"error": "left out (--no-window)"}
        elif time.time() - started > args.budget + 60:
            window = {"error": "skipped: the time budget of the run ran out"}
        else:
            window = measure_window(args, tools, fleet, work)
    finally:
        fleet_final = fleet.stop()
        shutil.rmtree(work, ignore_errors=True)

    finished = time.time()
    summary = summarize(runs, ns)
    qt = next((r.get("qt") for r in runs if r.get("qt")), None)
    info = machine_info(qt)
    info["dispatcher"] = next((r.get("dispatcher") for r in runs if r.get("dispatcher")), "?")
    png = plot(summary, ns, args.results)
    commands = [
        "%s/bench_fleet %d %d &" % (rel_build(args), fleet.base, fleet.count),
        "%s/bench_epoll_client %d N %d %d [1 socks5]" % (rel_build(args), fleet.base, fleet.target_port, args.limit * 1000),
        " ".join(curl_command("curl-N.cfg")),
        "%s/bench_driver %d N %d %d" % (rel_build(args), fleet.base, fleet.target_port, args.limit * 1000),
        "%s/bench_driver %d N %d %d socks5   # N = 1,000 and 10,000; also with the portable build's driver:"
        % (rel_build(args), fleet.base, fleet.target_port, args.limit * 1000),
        "%s/bench_driver %d N %d %d http|socks5" % (
            os.path.join(os.path.relpath(os.path.abspath(args.portable_build)), "bin") if args.portable_build
            else "build-bench-portable/bin", fleet.base, fleet.target_port, args.limit * 1000),
        "%s/quillfen-check --target http://127.0.0.1:%d/test.php --timeout 15000 -q list.txt   # 10,000 lines"
        % (rel_build(args), fleet.target_port),
        "Xvfb -displayfd FD -screen 0 1024x768x24 -nolisten tcp &",
        "DISPLAY=:D XDG_CONFIG_HOME=<tmp> LD_PRELOAD=%s/quillfen_window_probe.so \\\n"
        "  QUILLFEN_PROBE_MODE=run QUILLFEN_PROBE_N=%d QUILLFEN_PROBE_T0_NS=<launch, CLOCK_MONOTONIC> "
        "%s/Quillfen" % (rel_build(args), args.window_n, rel_build(args)),
        "DISPLAY=:D xdotool mousemove --sync X Y click 1   # X Y: the probe's \"button\" line",
        "# cold start only: the same with QUILLFEN_PROBE_MODE=coldstart; the floor: QUILLFEN_PROBE_MODE=idle",
        "# the import: QUILLFEN_PROBE_MODE=import QUILLFEN_PROBE_IMPORT=file:///<tmp>/proxies.txt (100,000 lines)",
    ]
    with open(args.results_json, "w") as handle:
        json.dump({"started": started, "finished": finished, "machine": info, "fleet": {
            "base": fleet.base, "target": fleet.target_port, "count": fleet.count, "final": fleet_final},
            "runs": runs, "window": window, "socks": socks, "check": check}, handle, indent=1)
    load = (load_before, "%.2f" % os.getloadavg()[0])
    write_report(args.out, args, info, runs, summary, ns, window,
                 {"base": fleet.base, "target": fleet.target_port}, commands, png, started, finished, load)
    write_socks_section(args.out, socks)
    with open(args.out, "a") as handle:
        handle.write(check_bench.section(check))
    log(check_bench.section(check))
    measure_judged(args, tools, args.out)
    print_summary(summary, ns, window, fleet_final, args.limit)
    log("wrote", args.out, "and", args.results_json, "in %.0f s" % (finished - started))


def rel_build(args):
    return os.path.join(os.path.relpath(os.path.abspath(args.build)), "bin")


PER_ADDRESS = 10000  # listeners of one fleet process; more do not fit under the open-file limit


class WindowFleets:
    """Fleets on 127.0.0.1, 127.0.0.2, ... that share one range of ports."""

    def __init__(self, binary, n):
        self.addresses = (n + PER_ADDRESS - 1) // PER_ADDRESS
        self.procs = []
        for base in free_port_ranges(PER_ADDRESS):
            for k in range(1, self.addresses + 1):
                proc = subprocess.Popen([binary, str(base), str(PER_ADDRESS), "127.0.0.%d" % k],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                if not proc.stdout.readline().startswith("READY"):
                    proc.wait(timeout=10)
                    log("window fleet could not start at", base, "on 127.0.0.%d:" % k, proc.stderr.read().strip())
                    self.stop()
                    break
                self.procs.append(proc)
            else:
                self.base, self.target_port = base, base - 1
                return
        raise SystemExit("no free range of %d ports below 32768 for the window's fleets" % PER_ADDRESS)

    def host(self, i):
        return "127.0.0.%d" % (1 + i // PER_ADDRESS)

    def port(self, i):
        return self.base + i % PER_ADDRESS

    def stop(self):
        for proc in self.procs:
            proc.send_signal(signal.SIGTERM)
        for proc in self.procs:
            try:
                proc.communicate(timeout=10)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.communicate()
        self.procs = []


def write_import_list(path, fleets, n):
    """A scraped list as the web has them: mostly host:port, some with a scheme, a comment on top."""
    with open(path, "w") as handle:
        handle.write("# %d loopback proxies for the import benchmark\n" % n)
        for i in range(n):
            scheme = {0: "socks5://", 5: "http://"}.get(i % 10, "")
            handle.write("%s%s:%d\n" % (scheme, fleets.host(i), fleets.port(i)))


def measure_import(tools, display, runtime, probe, fleets, work, runs):
    """The settings page's import of a text list of IMPORT_N lines, then Back, in the real window."""
    path = os.path.join(work, "proxies.txt")
    write_import_list(path, fleets, IMPORT_N)
    store = os.path.join(work, "config-import")
    records = []
    for rep in range(runs):
        seed_store(store, fleets, 10)  # every launch starts from the same short list
        env = window_env(display, store, runtime, probe, "import", 10, 60)
        env["QUILLFEN_PROBE_IMPORT"] = "file://" + path
        found = run_window(tools["Quillfen"], env, display, 60)
        grid = [e for e in found.get("pages", []) if e["page"] == "grid" and e["visit"] == 2]
        record = {
            "call_ms": found.get("import", {}).get("call_ms"),
            "rows": found.get("import", {}).get("rows"),
            "drawn_ms": found.get("import_drawn", {}).get("drawn_ms"),
            "back_ms": found.get("import_drawn", {}).get("back_ms"),
            "grid_ms": grid[0]["drawn_ms"] if grid and grid[0]["drawn_ms"] >= 0 else None,
            "longest_gap_ms": found.get("result", {}).get("longest_gap_ms"),
        }
        line = stored_list(store) or ""
        record["stored_rows"] = line.count("host")
        if record["grid_ms"] is None:
            record["failure"] = found.get("error", {}).get("what") or found.get("stderr", "no grid drawn")[-300:]
        records.append(record)
        log("window import run %d: %s" % (rep + 1, json.dumps(record)))
        time.sleep(0.3)
    return records


def stored_list(store):
    with open(os.path.join(store, "Quillfen", "Quillfen.conf")) as handle:
        return next((line for line in handle if line.startswith("savedProxies=")), None)


def measure_window(args, tools, fleet, work):
    for program in ("Xvfb", "xdotool"):
        if not shutil.which(program):
            return {"error": program + " is missing"}
    big, small = args.window_n, min(10000, args.window_n)
    window = {"n_big": big, "n_small": small, "at": {}, "cold_starts": [], "grid_ms": [], "settings_ms": [],
              "back_ms": [], "after_back_gap_ms": [], "epoll": [], "cold_starts_big": []}
    runtime = os.path.join(work, "runtime")
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    fleets = WindowFleets(tools["bench_fleet"], big)
    window.update(fleets=fleets.addresses, per_address=PER_ADDRESS)
    stores = {}
    for n in (big, small):
        stores[n] = os.path.join(work, "config-%d" % n)
        seed_store(stores[n], fleets, n)
    try:
        display = Display()
    except RuntimeError as error:
        fleets.stop()
        return {"error": str(error)}
    limit = 90  # a run of 100,000 takes seconds; a window that needs this long has failed
    probe = tools["quillfen_window_probe.so"]

    def launch(n, mode, time_limit=limit):
        found = run_window(tools["Quillfen"], window_env(display, stores[n], runtime, probe, mode, n, time_limit),
                           display, time_limit)
        pages = [e for e in found.get("pages", []) if e.get("drawn_ms", -1) >= 0]
        for event in pages:
            if event["page"] == "grid" and event["visit"] == 0 and n == big:
                window["grid_ms"].append(event["drawn_ms"])
        if "first_frame" in found:
            window["cold_starts" if n == small else "cold_starts_big"].append(found["first_frame"]["ms"])
        return found, pages

    try:
        for n in (big, small):
            at = window["at"].setdefault(str(n), {"runs": []})
            for rep in range(args.window_runs):
                fleet_before = sum(cpu_of(p.pid) for p in fleets.procs)
                found, _ = launch(n, "run")
                record = dict(found)
                record["fleet_cpu_s"] = sum(cpu_of(p.pid) for p in fleets.procs) - fleet_before
                if "result" not in found:
                    record["failure"] = ("hit the %d s limit" % limit) if "limit" in found else (
                        "no button found" if "button" not in found else "no result")
                at["runs"].append(record)
                x = found.get("result")
                log("window N=%d run %d: %s" % (n, rep + 1, json.dumps(x) if x else record["failure"]))
                if "result" not in found:
                    break  # a window that failed once would only fail again, slowly
                time.sleep(0.5)
            results = [r["result"] for r in at["runs"] if "result" in r]
            at["longest_gap_median"] = median([r["longest_gap_ms"] for r in results])
            at["longest_gap_worst"] = max([r["longest_gap_ms"] for r in results], default=None)
            at["p99_median"] = median([r["p99_ms"] for r in results])
            at["rss_median"] = median([r["rss_mb"] for r in results])
            at["run_s_median"] = median([r["last_outcome_ms"] / 1000 for r in results if r.get("complete")])
            if results and "render" not in window:
                window["render"] = "Qt Quick on OpenGL (Mesa llvmpipe under Xvfb), %s render loop" % (
                    "threaded" if results[0].get("render_loop_thread") else "basic (GUI-thread)")
        for rep in range(args.window_runs):
            time.sleep(0.3)
            result = run_tool([tools["bench_epoll_client"], str(fleets.base), str(big), str(fleets.target_port),
                               str(limit * 1000), str(fleets.addresses)], limit)
            window["epoll"].append(result)
            log("epoll client N=%d run %d: %s %s" % (big, rep + 1, fmt_time(result.get("time_s")),
                                                     json.dumps(result.get("outcomes"))))
        window["epoll_s_median"] = median([r.get("time_s") for r in window["epoll"] if r.get("complete")])
        seeded = stored_list(stores[big])
        for rep in range(args.window_runs):
            found, pages = launch(big, "pages", 60)
            for event in pages:
                if event["visit"] == 1 and event["page"] == "settings":
                    window["settings_ms"].append(event["drawn_ms"])
                if event["visit"] == 2 and event["page"] == "grid":
                    window["back_ms"].append(event["drawn_ms"])
            if "result" in found:
                window["after_back_gap_ms"].append(found["result"]["longest_gap_ms"])
            log("window pages run %d: %s" % (rep + 1, json.dumps(pages)))
        window["store_unchanged"] = stored_list(stores[big]) == seeded
        idle, _ = launch(big, "idle")
        if "result" in idle:
            window["idle"] = idle["result"]
            log("window idle floor:", json.dumps(idle["result"]))
        window["import"] = measure_import(tools, display, runtime, probe, fleets, work, args.window_runs)
        window["import_ms_median"] = median([r["grid_ms"] for r in window["import"]])
        for _ in range(args.cold_starts):
            launch(small, "coldstart", 30)
        log("cold starts (ms):", window["cold_starts"], "splash end to grid (ms):", window["grid_ms"])
    finally:
        display.stop()
        fleets.stop()
    for key in ("grid_ms", "settings_ms", "back_ms", "after_back_gap_ms"):
        window[key + "_median"] = median(window[key])
    window["cold_start_median"] = median(window["cold_starts"])
    return window


def cpu_of(pid):
    with open("/proc/%d/stat" % pid) as handle:
        fields = handle.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def print_summary(summary, ns, window, fleet_final, limit):
    log("")
    log("%-8s %-32s %10s %10s %9s %8s   %s" % ("N", "client", "time", "RSS", "threads", "CPU", "outcomes"))
    for n in ns:
        for client in CLIENTS:
            s = summary[(client, n)]
            if s["complete"] == 0:
                log("%-8s %-32s %10s" % ("{:,}".format(n), CLIENT_LABELS[client],
                                         "LIMIT" if s["limit_hit"] else "skipped" if s["skipped"] else "failed"))
                continue
            log("%-8s %-32s %10s %10s %9s %8s   %s" % (
                "{:,}".format(n), CLIENT_LABELS[client], fmt_time(s["time_s"]), fmt_num(s["rss_mb"], " MB"),
                fmt_num(s["threads"]) if s["threads"] is not None else "–", fmt_num(s["cpu_s"], " s", 2),
                outcome_text(s, n)))
    log("")
    log("Goals:")
    for label, measured, target, ok in goal_rows(summary, ns, window, limit):
        log("  %-58s %-26s %-9s %s" % (label, measured.replace("×", "x"), target.replace("≤", "<=").replace("×", "x"),
                                       verdict(ok, False)))
    if fleet_final:
        log("fleet: %d answers, %.2f s CPU in all" % (fleet_final.get("served", 0), fleet_final.get("cpu_s", 0)))


if __name__ == "__main__":
    main()
