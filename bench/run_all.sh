#!/bin/bash
# Runs the speed benchmarks of an already built Release tree and prints the
# ratios the project tracks in one table: JSON parse and parse+write against
# RapidJSON and nlohmann, the plug-in's CPU per message against cat's, the
# pipe refresh rate against a plain echo, and the service round trips per
# attribute with the plug-in's cache off and on. Builds nothing; the proxy
# benchmark (bench/proxy_bench.sh) runs too when the tree holds the proxy.
#   bench/run_all.sh BUILD_DIR [--repetitions N] [--no-proxy] [--verbose]
# The machine may be shared: ratios are taken within one run, from the
# median of the repetitions (5 unless told).
set -eu

usage() {
  echo "usage: $0 BUILD_DIR [--repetitions N] [--no-proxy] [--verbose]" >&2
  exit 1
}

[ $# -ge 1 ] || usage
build=$1
shift
repetitions=5
proxy=yes
verbose=no
while [ $# -gt 0 ]; do
  case $1 in
    --repetitions) [ $# -ge 2 ] || usage; repetitions=$2; shift 2 ;;
    --no-proxy) proxy=no; shift ;;
    --verbose) verbose=yes; shift ;;
    *) usage ;;
  esac
done
top=$(cd "$(dirname "$0")/.." && pwd)

for bench in json_bench refresh_bench; do
  if [ ! -x "$build/bench/$bench" ]; then
    echo "no $build/bench/$bench: build it first (ninja -C $build $bench osa_plugin)" >&2
    exit 1
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/osa-run-all.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Runs one benchmark binary with JSON results into $work/NAME.json; its
# console output goes to stderr with --verbose only.
run() {
  local name=$1
  shift
  local console=/dev/null
  [ "$verbose" = yes ] && console=/dev/stderr
  echo "running $name ..." >&2
  (cd "$top" && "$build/bench/$name" "$@" --benchmark_repetitions="$repetitions" \
    --benchmark_out="$work/$name.json" --benchmark_out_format=json >"$console" 2>&1) ||
    { echo "$name failed (run it alone to see why)" >&2; exit 1; }
}

run json_bench --benchmark_filter='^BM_(Json|RapidJson|Nlohmann)(Parse|ParseWrite)/[0-9]+$'
run refresh_bench --benchmark_filter='^BM_(FullRefreshPipe/same_cpu:1/|RefreshBesideEcho/)'

python3 - "$work/json_bench.json" "$work/refresh_bench.json" <<'PYTHON'
import json
import statistics
import sys


def runs(path):
    """Median of every benchmark's repetitions, by run name: real time in
    ms and every counter."""
    with open(path) as f:
        data = json.load(f)
    groups = {}
    for b in data.get("benchmarks", []):
        if b.get("run_type") == "aggregate" or b.get("error_occurred"):
            continue
        groups.setdefault(b["run_name"], []).append(b)
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
    medians = {}
    for name, group in groups.items():
        keys = set().union(*(b.keys() for b in group))
        median = {}
        for key in keys:
            values = [b[key] for b in group if isinstance(b.get(key), (int, float))]
            if values and len(values) == len(group):
                median[key] = statistics.median(values)
        median["real_ms"] = statistics.median(
            b["real_time"] * scale.get(b.get("time_unit", "ns"), 1e-6) for b in group)
        medians[name] = median
    return medians


def find(medians, prefix):
    for name, values in medians.items():
        if name.startswith(prefix):
            return values
    return None


rows = []


def row(what, value, goal, detail=""):
    rows.append((what, value, goal, detail))


js = runs(sys.argv[1])
shapes = ["request", "4 KiB answer", "60 KiB array", "session"]
for step, label in (("Parse", "parse"), ("ParseWrite", "parse+write")):
    def rate(library, shape):
        values = js.get("BM_%s%s/%d" % (library, step, shape))
        return values.get("bytes_per_second", 0.0) / 1e6 if values else 0.0
    own, rapid = rate("Json", 3), rate("RapidJson", 3)
    if own and rapid:
        row("JSON %s, session messages / RapidJSON" % label, "%.2f" % (own / rapid), ">= 0.8",
            "%.0f vs %.0f MB/s" % (own, rapid))
    worst = None
    for shape in range(4):
        own, nlohmann = rate("Json", shape), rate("Nlohmann", shape)
        if own and nlohmann and (worst is None or own / nlohmann < worst[0]):
            worst = (own / nlohmann, shapes[shape], own, nlohmann)
    if worst:
        row("JSON %s / nlohmann, worst shape" % label, "%.2f" % worst[0], ">= 1.0",
            "%s: %.0f vs %.0f MB/s" % worst[1:])

rb = runs(sys.argv[2])
# The plug-in and cat take turns in one run (BM_RefreshBesideEcho), so a
# slow spell of a shared machine weighs on both sides of each ratio.
for same_cpu, placed in ((1, "same CPU"), (0, "placed by the scheduler")):
    turns = find(rb, "BM_RefreshBesideEcho/same_cpu:%d/" % same_cpu)
    if not turns:
        continue
    plugin_cpu = turns.get("plugin_cpu_us_per_msg", 0.0)
    echo_cpu = turns.get("echo_cpu_us_per_msg", 0.0)
    # Each ratio is the median of the ratios of the repetitions.
    if echo_cpu:
        row("plug-in CPU per message / cat's (%s)" % placed, "%.2f" % turns.get("cpu_ratio", 0.0),
            "<= 1.5", "%.2f vs %.2f us" % (plugin_cpu, echo_cpu))
    refresh_us = turns.get("refresh_us_per_msg", 0.0)
    echo_us = turns.get("echo_us_per_msg", 0.0)
    if refresh_us:
        row("pipe refresh rate / echo's (%s)" % placed, "%.2f" % turns.get("rate_ratio", 0.0),
            ">= 0.8", "%.1f us vs %.1f us echoed per message" % (refresh_us, echo_us))
for cache, label in ((0, "off"), (1, "on")):
    refresh = find(rb, "BM_FullRefreshPipe/same_cpu:1/cache:%d/" % cache)
    if not refresh:
        continue
    if cache and not refresh.get("cache_on"):
        row("service round trips per attribute, cache on", "-", "<= 0.3",
            "the plug-in has no cache yet")
        continue
    row("service round trips per attribute, cache %s" % label,
        "%.2f" % refresh.get("service_rt_per_attr", 0.0), "<= 0.3" if cache else "",
        "%.2f over the whole refresh, %.0f attributes" %
        (refresh.get("service_rt_all_per_attr", 0.0), refresh.get("attrs_per_refresh", 0.0)))

widths = [max(len(r[i]) for r in rows + [("ratio", "value", "goal", "")]) for i in range(3)]
print("%-*s  %*s  %-*s  %s" % (widths[0], "ratio", widths[1], "value", widths[2], "goal",
                               "measured"))
for what, value, goal, detail in rows:
    print("%-*s  %*s  %-*s  %s" % (widths[0], what, widths[1], value, widths[2], goal, detail))
PYTHON

if [ "$proxy" = yes ] && [ -x "$build/proxy/osa_gdbproxy" ] && [ -f "$top/bench/proxy_bench.sh" ]; then
  echo
  echo "proxy: upstream packets and wall time per step (bench/proxy_bench.sh)"
  sh "$top/bench/proxy_bench.sh" "$build"
fi
