"""Upstream packets and wall time of the proxy for one stop, `info threads`
and `thread apply all bt` on the 11-task model image under QEMU.

Run as:  python3 bench/proxy_bench.py PROXY IMAGE_DIR [--board m3|m4f] [--repeat N]
(bench/proxy_bench.sh builds the images and finds the proxy). Each
configuration runs GDB sessions that go one step further each time (connect;
stop at the stop routine; then `info threads`; then `thread apply all bt`),
N of each; the medians of the proxy's counters (--stats) of consecutive step
levels are subtracted, so each column holds what that step alone cost. Wall
times are GDB's, the median of the N sessions that run every step. The
plug-in's share is the proxy's time in plug-in exchanges (plugin_ms, the
target reads they ask for included) during the stop and `info threads` over
GDB's wall time of those two steps.
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
            # Counters and times of every step level, the median of N sessions each.
            runs = [[session(args.proxy, elf, options, steps, work) for _ in range(args.repeat)]
                    for steps in range(len(STEPS))]
            counters = [{name: statistics.median(r[0].get(name, 0) for r in level)
                         for name in level[0][0]} for level in runs]
            times = [r[1] for r in runs[-1]]
            row = {"label": label}
            for i, step in enumerate(STEPS[1:], 1):
                row[step] = {
                    "packets": (counters[i]["upstream_packets"]
                                - counters[i - 1]["upstream_packets"]),
                    "ms": 1000 * statistics.median(t[step] for t in times),
                    "delta": {name: counters[i].get(name, 0) - counters[i - 1].get(name, 0)
                              for name in counters[i]},
                }
            # The plug-in works at the stop (the snapshot) and for the thread
            # list; its time over both steps is large enough to measure
            # across sessions.
            both = row["stop"]["ms"] + row["info threads"]["ms"]
            plugin = counters[2]["plugin_ms"] - counters[0]["plugin_ms"]
            row["plugin"] = (plugin, plugin / both if both > 0 else 0.0)
            rows.append(row)

    print("Board %s, 11 tasks. Upstream packets: what the step alone cost (medians of the "
          "proxy's counters over %d sessions per step level, consecutive levels subtracted); "
          "ms: GDB's wall time of the step (median); plug-in: the proxy's time in plug-in "
          "exchanges during the stop and `info threads` (the target reads they ask for "
          "included), and its share of their wall time."
          % (args.board, args.repeat))
    print("%-27s | %-15s | %-15s | %-25s | %-15s" % ("", "stop", "info threads",
                                                     "stop + info threads", "thread apply all bt"))
    print("%-27s | %7s %7s | %7s %7s | %7s %9s %7s | %7s %7s" % (
        "configuration", "packets", "ms", "packets", "ms", "packets", "plug-in", "share",
        "packets", "ms"))
    for row in rows:
        stop, threads, bt = row["stop"], row["info threads"], row["thread apply all bt"]
        print("%-27s | %7d %7.1f | %7d %7.1f | %7d %6.1f ms %6.0f%% | %7d %7.1f" % (
            row["label"], stop["packets"], stop["ms"], threads["packets"], threads["ms"],
            stop["packets"] + threads["packets"], row["plugin"][0], 100 * row["plugin"][1],
            bt["packets"], bt["ms"]))
    if args.verbose:
        for row in rows:
            for step in STEPS[1:]:
                print("%s / %s: %s" % (row["label"], step, json.dumps(row[step]["delta"])))


if __name__ == "__main__":
    main()
