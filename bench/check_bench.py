#!/usr/bin/env python3
"""quillfen-check over the bench fleet, beside bench_driver: time and peak RSS.

bench/run.py calls measure() with its fleet and appends section() to BENCHMARKS.md. Both programs
run the same N proxies (127.0.0.1:BASE+i, HTTP) against the fleet's target with a 15,000 ms
time-out, alternating, and the best of the runs counts. The command reads the list from a file
and writes the working proxies to one; its time is the wall time of the whole process (start,
list read, run, output, exit), timed from outside as the driver is too. The driver also reports
its own time, from the start of the run to its last outcome, which is what the goal compares
with. Peak RSS is the process's maximum resident set, as /usr/bin/time reports it."""

import json
import os
import subprocess
import tempfile
import time

N = 10000
GOAL_RATIO, GOAL_RSS_MB = 1.1, 60.0


def timed(command, out_path, limit):
    """Wall seconds, peak RSS in MB and exit status of one process; its standard output goes to out_path.
    The RSS comes from /usr/bin/time: a child's ru_maxrss also counts the process it was forked from."""
    stats = out_path + ".time"
    with open(out_path, "w") as out:
        start = time.monotonic()
        try:
            status = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", stats, *command], stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.DEVNULL, timeout=limit).returncode
        except subprocess.TimeoutExpired:
            return None, None, None
        wall = time.monotonic() - start
    with open(stats) as handle:
        rss_kb = int(handle.read().split()[-1])
    os.remove(stats)
    return wall, rss_kb / 1024.0, status


def measure(check, driver, fleet, n=N, runs=3, limit=60, log=print):
    """Alternating runs of the driver and the command on the fleet; their best figures."""
    target = "http://127.0.0.1:%d/test.php" % fleet.target_port
    work = tempfile.mkdtemp(prefix="quillfen-check-bench-")
    listing, out = os.path.join(work, "list.txt"), os.path.join(work, "out.txt")
    with open(listing, "w") as handle:
        handle.write("".join("127.0.0.1:%d\n" % (fleet.base + i) for i in range(n)))
    records = {"driver": [], "check": []}
    for rep in range(1, runs + 1):
        time.sleep(0.3)
        wall, rss, status = timed([driver, str(fleet.base), str(n), str(fleet.target_port), str(limit * 1000)],
                                  out, limit + 30)
        own = next((json.loads(line[6:]) for line in open(out) if line.startswith("BENCH ")), {})
        records["driver"].append({"wall_s": wall, "time_s": own.get("time_s"), "rss_mb": rss,
                                  "alive": own.get("outcomes", {}).get("alive"), "exit": status})
        time.sleep(0.3)
        wall, rss, status = timed([check, "--target", target, "--timeout", "15000", "-q", listing], out, limit)
        records["check"].append({"wall_s": wall, "rss_mb": rss, "alive": sum(1 for _ in open(out)), "exit": status})
        log("N=%d run %d  bench_driver %.3f s (own %.3f s) %.1f MB  |  quillfen-check %.3f s %.1f MB, %d alive" % (
            n, rep, records["driver"][-1]["wall_s"], records["driver"][-1]["time_s"] or -1,
            records["driver"][-1]["rss_mb"], wall, rss, records["check"][-1]["alive"]))
    os.remove(listing)
    os.remove(out)
    os.rmdir(work)
    complete = {k: [r for r in v if r["alive"] == n] for k, v in records.items()}
    best = lambda kind, key: min((r[key] for r in complete[kind] if r.get(key) is not None), default=None)
    return {"n": n, "runs": records, "check_s": best("check", "wall_s"), "check_rss_mb": best("check", "rss_mb"),
            "driver_s": best("driver", "time_s"), "driver_wall_s": best("driver", "wall_s"),
            "driver_rss_mb": best("driver", "rss_mb")}


def section(found):
    """The BENCHMARKS.md section: both programs side by side, and the goals."""
    f = lambda v, unit, d=3: "–" if v is None else ("%%.%df %%s" % d) % (v, unit)
    ratio = found["check_s"] / found["driver_s"] if found["check_s"] and found["driver_s"] else None
    met = lambda ok: "–" if ok is None else ("met" if ok else "**not met**")
    return "\n".join([
        "", "## quillfen-check, the command", "",
        "`quillfen-check` over %s proxies of the same fleet, alternating with `bench_driver` (best of %d; "
        "`bench/check_bench.py`). The command's time is its whole process: start, reading the list "
        "file, the run, writing the %s working proxies, exit." % ("{:,}".format(found["n"]),
                                                                   len(found["runs"]["check"]), "{:,}".format(found["n"])),
        "", "| program | time | peak RSS |", "|---|---|---|",
        "| bench_driver (start of the run to the last outcome) | %s | %s |" % (f(found["driver_s"], "s"),
                                                                           f(found["driver_rss_mb"], "MB", 1)),
        "| bench_driver (whole process) | %s | |" % f(found["driver_wall_s"], "s"),
        "| quillfen-check (whole process) | %s | %s |" % (f(found["check_s"], "s"), f(found["check_rss_mb"], "MB", 1)),
        "", "| goal | measured | target | |", "|---|---|---|---|",
        "| quillfen-check time ÷ the driver's run | %s | ≤ %.1f× | %s |" % (
            "–" if ratio is None else "%.2f×" % ratio, GOAL_RATIO, met(None if ratio is None else ratio <= GOAL_RATIO)),
        "| quillfen-check peak RSS | %s | < %.0f MB | %s |" % (
            f(found["check_rss_mb"], "MB", 1), GOAL_RSS_MB,
            met(None if found["check_rss_mb"] is None else found["check_rss_mb"] < GOAL_RSS_MB)), ""])

