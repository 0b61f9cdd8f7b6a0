"""Upstream packets and wall time of the proxy for one stop, `info threads`
and `thread apply all bt` on the 11-task model image under QEMU.

Run as:  python3 bench/proxy_bench.py PROXY IMAGE_DIR [--board m3|m4f] [--repeat N]
(bench/proxy_bench.sh builds the images and finds the proxy). Each
configuration runs GDB sessions that go one step further each time (connect;
stop at the stop routine; then `info threads`; then `thread apply all bt`);
the proxy's counters (--stats) of consecutive sessions are subtracted, so
each column holds what that step alone cost upstream. Wall times are GDB's,
the median of N sessions. The plug-in's share is the proxy's time in plug-in
requests over its wall time, for the same steps.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CONFIGS = [
    ("block cache", []),
    ("no block cache", ["--no-block-cache"]),
    ("slow probe (1 ms/packet)", ["--probe-delay-ms", "1"]),
    ("slow probe, no block cache", ["--probe-delay-ms", "1", "--no-block-cache"]),
]
STEPS = ["connect", "stop", "info threads", "thread apply all bt"]


def read_stats(path):
    stats = {}
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 2:
                try:
                    stats[parts[0]] = float(parts[1])
                except ValueError:
                    pass
    return stats


def session(proxy, elf, options, steps, work):
    stats = os.path.join(work, "stats.txt")
    times = os.path.join(work, "times.json")
    for path in (stats, times):
        if os.path.exists(path):
            os.remove(path)
    env = dict(os.environ, QX_PROXY=proxy, QX_PROXY_OPTIONS=" ".join(options), QX_STATS=stats,
               QX_STEPS=str(steps), QX_TIMES=times)
    run = subprocess.run(["gdb-multiarch", "-nx", "-batch", "-x",
                          os.path.join(HERE, "proxy_bench_gdb.py"), elf], env=env,
                         capture_output=True, text=True, timeout=120)
    if run.returncode != 0 or not os.path.exists(times) or not os.path.exists(stats):
        sys.exit("session failed (%s, steps %d):\n%s%s" % (" ".join(options), steps,
                                                           run.stdout[-2000:], run.stderr[-2000:]))
    with open(times) as f:
        return read_stats(stats), json.load(f)


def key(stats, *words):
    """The first counter whose name holds every word."""
    for name in sorted(stats):
        if all(w in name for w in words):
            return name
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("proxy")
    parser.add_argument("images")
    parser.add_argument("--board", default="m3", choices=["m3", "m4f"])
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()
    elf = os.path.join(args.images, "model-%s.elf" % args.board)
    rows = []
    with tempfile.TemporaryDirectory() as work:
        for label, options in CONFIGS:
            counters = [session(args.proxy, elf, options, steps, work)[0]
                        for steps in range(len(STEPS))]
            times = [session(args.proxy, elf, options, len(STEPS) - 1, work)[1]
                     for _ in range(args.repeat)]
            packets = key(counters[0], "upstream", "packets") or key(counters[0], "packets")
            plugin_ms = key(counters[0], "plugin", "ms") or key(counters[0], "plugin", "time")
            wall_ms = key(counters[0], "wall", "ms") or key(counters[0], "wall")
            row = {"label": label}
            for i, step in enumerate(STEPS[1:], 1):
                delta = {name: counters[i].get(name, 0) - counters[i - 1].get(name, 0)
                         for name in counters[i]}
                row[step] = {
                    "packets": delta.get(packets),
                    "ms": 1000 * statistics.median(t[step] for t in times),
                    "share": (delta[plugin_ms] / delta[wall_ms]
                              if plugin_ms and wall_ms and delta.get(wall_ms) else None),
                    "delta": delta,
                }
            rows.append(row)

    print("Board %s, %d tasks; packets: upstream packets the step alone cost; ms: GDB's wall "
          "time (median of %d); plug-in: share of the proxy's time in plug-in requests"
          % (args.board, 11, args.repeat))
    head = "%-28s" % "configuration"
    for step in STEPS[1:]:
        head += " | %-28s" % step
    print(head)
    print("%-28s" % "" + (" | %8s %9s %9s" % ("packets", "ms", "plug-in")) * 3)
    for row in rows:
        line = "%-28s" % row["label"]
        for step in STEPS[1:]:
            cell = row[step]
            share = "-" if cell["share"] is None else "%.0f%%" % (100 * cell["share"])
            packets = "?" if cell["packets"] is None else "%d" % cell["packets"]
            line += " | %8s %9.1f %9s" % (packets, cell["ms"], share)
        print(line)
    if args.verbose:
        for row in rows:
            for step in STEPS[1:]:
                print("%s / %s: %s" % (row["label"], step, json.dumps(row[step]["delta"])))


if __name__ == "__main__":
    main()
