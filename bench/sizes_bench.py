#!/usr/bin/env python3
"""Counts by size: quarn against igraph's count of connected sets of k nodes, side by side.

    sizes_bench.py --build DIR [--timeout S] [--trials N] [--only REGEX] [--quick] [--list]

DIR holds quarn and bench/gen_graph (run_sizes.sh builds it). Needs igraph (Debian: python3-igraph),
so run it with Debian's python3.

For every graph and size k, igraph counts the connected induced subgraphs of k nodes
(Graph.motifs_randesu_no(size=k, cut_prob=[0] * k), which enumerates them) and quarn counts every
size from 1 to k at once (quarn CIS G --by-size --max-size k, count-only). Both must give the same
number. Times are CPU seconds, the minimum over the trials: igraph's is the call alone, in a child
process that has already read the graph, for size k and summed over the sizes 3 to k (what a count
of every size takes it); quarn's is its whole run (starting and reading the graph included, from
wait4) and the count alone (count_bench auto, reading excluded), to set against igraph's call. A
run past the timeout is killed and shown as "> S". A second table times quarn on
every size at once, and on the other figures the work asks for: the karate club and the 10x10
grid at every size, the 12x12 grid up to 11 nodes, and listing against counting up to 4 nodes on a
random sparse network of 100,000 nodes and 300,000 edges.
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

KARATE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "karate.txt")

# name, gen_graph arguments (or a file), the sizes k to compare with igraph
GRAPHS = [
    ("karate club", KARATE, range(3, 13)),
    ("grid 10x10", ["grid", "10", "10"], range(3, 12)),
    ("king 8x8", ["king", "8", "8"], range(3, 9)),
    ("tree 1000", ["tree", "1000", "--seed", "1"], range(3, 11)),
    ("sparse 1000, degree 4", ["sparse", "1000", "4"], range(3, 9)),
    ("dense 60, p = 0.2", ["dense", "60", "20"], range(3, 7)),
    ("sparse 100000, degree 6", ["sparse", "100000", "6"], range(3, 5)),
]
QUICK = {"karate club", "grid 10x10"}

IGRAPH_CHILD = """
import sys, time, igraph
pairs = [tuple(int(x) - 1 for x in line.split()[:2]) for line in open(sys.argv[1]) if line.strip()[:1].isdigit()]
graph = igraph.Graph(n=max(max(p) for p in pairs) + 1, edges=pairs)
graph.simplify()
k = int(sys.argv[2])
start = time.process_time()
count = graph.motifs_randesu_no(size=k, cut_prob=[0] * k)
print(int(count), time.process_time() - start)
"""


def run(cmd, timeout):
    """Runs cmd; returns (stdout, CPU seconds, peak MiB), stdout None when killed at the timeout."""
    with tempfile.TemporaryFile() as out:
        child = subprocess.Popen(cmd, stdout=out, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + timeout
        while True:
            pid, status, usage = os.wait4(child.pid, os.WNOHANG)
            if pid != 0:
                break
            if time.monotonic() > deadline:
                child.send_signal(signal.SIGKILL)
                pid, status, usage = os.wait4(child.pid, 0)
                return None, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024
            time.sleep(0.005)
        if os.waitstatus_to_exitcode(status) != 0:
            raise SystemExit(f"{' '.join(cmd)} failed with status {os.waitstatus_to_exitcode(status)}")
        out.seek(0)
        return out.read().decode(), usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def best(cmd, timeout, trials):
    """The output, the least CPU seconds and the largest peak MiB over the trials; None if timed out."""
    outputs, times, peaks = set(), [], []
    for _ in range(trials):
        text, cpu, mib = run(cmd, timeout)
        if text is None:
            return None, cpu, mib
        outputs.add(text)
        times.append(cpu)
        peaks.append(mib)
    if len(outputs) != 1:
        raise SystemExit(f"{' '.join(cmd)} gave different outputs")
    return outputs.pop(), min(times), max(peaks)


def igraph_count(path, k, timeout, trials):
    """igraph's count of connected sets of k nodes and its least CPU seconds, or (None, None)."""
    counts, times = set(), []
    for _ in range(trials):
        try:
            done = subprocess.run([sys.executable, "-c", IGRAPH_CHILD, path, str(k)], capture_output=True,
                                  text=True, timeout=timeout, check=True)
        except subprocess.TimeoutExpired:
            return None, None
        count, seconds = done.stdout.split()
        counts.add(int(count))
        times.append(float(seconds))
    return counts.pop(), min(times)


def sizes_of(text):
    return {int(k): int(n) for k, n in re.findall(r"^Size (\d+): (\d+)$", text, re.M)}


def cell(value, timeout, digits=3):
    return f"> {timeout:g}" if value is None else f"{value:.{digits}f}"


def ratio(slow, fast):
    if slow is None or fast is None or fast <= 0:
        return "-"
    return f"{slow / fast:.2g}" if slow < 10 * fast else f"{slow / fast:.0f}"


def compare_with_igraph(args, graphs, quarn, counter, folder, generator):
    print("| graph | nodes | edges | k | connected sets of k nodes | igraph s, size k | igraph s, sizes 3 to k | "
          "quarn run s | quarn count s | igraph/quarn, size k | igraph/quarn, sizes 3 to k |")
    print("|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|")
    for name, source, sizes in graphs:
        path = graph_file(source, folder, generator)
        nodes, edges = shape(path)
        print(f"{name}...", file=sys.stderr)
        igraph_so_far = 0.0
        for k in sizes:
            options = ["--by-size", "--max-size", str(k)]
            out, run_s, _ = best([quarn, "CIS", path, *options], args.timeout, args.trials)
            count_s = None
            if out is not None:
                counted = [best([counter, "auto", path, *options], args.timeout, 1)[0] for _ in range(args.trials)]
                count_s = min(float(re.search(r"cpu=([0-9.]+)", line).group(1)) for line in counted)
            count, igraph_s = igraph_count(path, k, args.timeout, args.trials)
            igraph_so_far = None if igraph_s is None or igraph_so_far is None else igraph_so_far + igraph_s
            ours = sizes_of(out).get(k, 0) if out is not None else None
            if count is not None and ours is not None and count != ours:
                raise SystemExit(f"{name}, size {k}: quarn {ours}, igraph {count}")
            known = ours if ours is not None else count
            known = "?" if known is None else f"{known:,}"
            print(f"| {name} | {nodes} | {edges} | {k} | {known} | {cell(igraph_s, args.timeout)} | "
                  f"{cell(igraph_so_far, args.timeout)} | {cell(run_s if out else None, args.timeout)} | "
                  f"{cell(count_s, args.timeout, 4)} | {ratio(igraph_s, count_s)} | {ratio(igraph_so_far, count_s)} |",
                  flush=True)


def targets(args, quarn, folder, generator):
    print()
    print("| run | patterns | quarn CPU s | peak MiB |")
    print("|---|--:|--:|--:|")
    runs = [
        ("karate club, every size", KARATE, ["--by-size"]),
        ("grid 10x10, every size", ["grid", "10", "10"], ["--by-size"]),
        ("grid 12x12, sizes 1 to 11", ["grid", "12", "12"], ["--by-size", "--max-size", "11"]),
    ]
    for label, source, options in runs:
        path = graph_file(source, folder, generator)
        print(f"{label}...", file=sys.stderr)
        out, cpu, mib = best([quarn, "CIS", path, *options], max(args.timeout, 120), args.trials)
        patterns = out.splitlines()[-1].split()[-1] if out else "?"
        print(f"| {label} | {patterns} | {cell(cpu if out else None, 120)} | {mib:.0f} |", flush=True)

    path = graph_file(["sparse", "100000", "6"], folder, generator)
    patterns_file = os.path.join(folder, "patterns.txt")
    print("listing and counting up to 4 nodes...", file=sys.stderr)
    listed, list_s, list_mib = best([quarn, "CIS", path, patterns_file, "--max-size", "4"], 120, args.trials)
    size = os.path.getsize(patterns_file)
    os.remove(patterns_file)
    devnull, null_s, _ = best([quarn, "CIS", path, os.devnull, "--max-size", "4"], 120, args.trials)
    counted, count_s, count_mib = best([quarn, "CIS", path, "--max-size", "4"], 120, args.trials)
    read, read_s, _ = best([quarn, "CIS", path, "--max-size", "1"], 120, args.trials)
    if not (listed == devnull == counted):
        raise SystemExit(f"listing and counting differ: {listed!r} {devnull!r} {counted!r}")
    patterns = counted.split()[-1]
    print(f"| sparse 100000, degree 6: listing up to 4 nodes to a file ({size / 1e6:.0f} MB) | {patterns} | "
          f"{list_s:.3f} | {list_mib:.0f} |")
    print(f"| the same listing to /dev/null | {patterns} | {null_s:.3f} | |")
    print(f"| the same, count-only | {patterns} | {count_s:.3f} | {count_mib:.0f} |")
    print(f"| reading the graph alone (--max-size 1) | | {read_s:.3f} | |")
    print(f"\nlisting/count-only: {list_s / count_s:.1f} (file), {null_s / count_s:.1f} (/dev/null); "
          f"without reading the graph: {(list_s - read_s) / (count_s - read_s):.1f} and "
          f"{(null_s - read_s) / (count_s - read_s):.1f}")


def graph_file(source, folder, generator):
    if isinstance(source, str):
        return source
    path = os.path.join(folder, "_".join(source) + ".txt")
    if not os.path.exists(path):
        with open(path, "w") as out:
            subprocess.run([generator] + source, stdout=out, check=True)
    return path


def shape(path):
    """Nodes and edge lines, read line by line: the benchmark's own memory counts in a child's peak
    before it starts quarn."""
    nodes = edges = 0
    with open(path) as lines:
        for line in lines:
            if line.strip() and not line.startswith("#"):
                a, b = line.split()[:2]
                nodes = max(nodes, int(a), int(b))
                edges += 1
    return nodes, edges


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True)
    parser.add_argument("--timeout", type=float, default=60)
    parser.add_argument("--trials", type=int, default=3)
    parser.add_argument("--only")
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--no-targets", action="store_true")
    args = parser.parse_args()
    graphs = [g for g in GRAPHS if (not args.quick or g[0] in QUICK) and (not args.only or re.search(args.only, g[0]))]
    if args.list:
        for name, source, sizes in graphs:
            what = source if isinstance(source, str) else "gen_graph " + " ".join(source)
            print(f"{name}: {what}, sizes {sizes.start} to {sizes.stop - 1}")
        return
    quarn = os.path.join(args.build, "quarn")
    counter = os.path.join(args.build, "bench", "count_bench")
    generator = os.path.join(args.build, "bench", "gen_graph")
    with tempfile.TemporaryDirectory() as folder:
        compare_with_igraph(args, graphs, quarn, counter, folder, generator)
        if not args.no_targets:
            targets(args, quarn, folder, generator)


if __name__ == "__main__":
    main()
