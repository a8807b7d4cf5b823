#!/usr/bin/env python3
"""Times quarn CIS against the comparison peer on prepared graphs; prints markdown tables.

    cis_bench.py --quarn Q --peer P --out-dir D [--trials N] [--check NAME=FILE]...
                 [--expect NAME=COUNT]... NAME=FILE...

Called by run_cis.sh. For every graph and trial it runs, in turn: quarn count-only, peer count-only,
quarn file output, peer file output (the two tools swap places on every other trial, so neither
always runs right after the other's large write). CPU time is the user + system time of the child,
from getrusage. Output files go to D and are deleted after each run. Both tools must report the same
count (and the --expect count, if given), and write files of the same size with one line per pattern.
Each --check graph is also run
with file output by both tools, and the node sets of the lines must be the same multiset.
"""
import argparse
import os
import platform
import resource
import shutil
import statistics
import subprocess
import sys
import time

CHUNK = 64 << 20
SPACE_WAIT_SECONDS = 900
NO_SPACE_RETRIES = 3


class BenchError(Exception):
    pass


def run(cmd):
    """Runs cmd; returns (pattern count, CPU seconds of the child, wall seconds)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
    text = done.stdout.decode(errors="replace")
    if done.returncode != 0 or not text.startswith("Patterns: "):
        raise BenchError(f"{' '.join(cmd)}: status {done.returncode}, stdout {text[-200:]!r}, "
                       f"stderr {done.stderr.decode(errors='replace')[-200:]!r}")
    return int(text.split()[1]), cpu, wall


def wait_for_space(folder, need):
    """Waits until the disk holding folder has need bytes free: other work on the machine may fill it."""
    deadline = time.monotonic() + SPACE_WAIT_SECONDS
    while (free := shutil.disk_usage(folder).free) < need:
        if time.monotonic() > deadline:
            raise BenchError(f"{folder}: {free:,} bytes free, {need:,} needed")
        print(f"  waiting for disk space: {free:,} bytes free, {need:,} needed", file=sys.stderr)
        time.sleep(10)


def count_lines(path):
    lines = 0
    with open(path, "rb") as f:
        while chunk := f.read(CHUNK):
            lines += chunk.count(b"\n")
    return lines


def graph_size(path):
    """(nodes, edges) as the tools see them: the largest node number and the edge lines."""
    nodes = edges = 0
    with open(path) as f:
        for line in f:
            u, v = line.split()[:2]
            nodes = max(nodes, int(u), int(v))
            edges += 1
    return nodes, edges


class Bench:
    def __init__(self, args):
        self.tools = {"quarn": args.quarn, "peer": args.peer}
        self.out_dir = args.out_dir
        self.trials = args.trials
        self.expected = {name: int(count) for name, count in args.expect}
        self.last_size = 3 << 30  # a guess until the first file is written

    def file_run(self, tool, graph, name, count_lines_too):
        """One file-output run; a run that found the disk full is retried once there is room."""
        out = os.path.join(self.out_dir, f"{name}.{tool}.out")
        for attempt in range(NO_SPACE_RETRIES + 1):
            wait_for_space(self.out_dir, 2 * self.last_size + (1 << 30))
            try:
                count, cpu, wall = run([self.tools[tool], "CIS", graph, out])
                size = os.path.getsize(out)
                lines = count_lines(out) if count_lines_too else None
                self.last_size = size
                return count, cpu, wall, size, lines
            except BenchError as error:
                if "No space left" not in str(error) or attempt == NO_SPACE_RETRIES:
                    raise
                print(f"  {name}: {tool} found the disk full; running it again", file=sys.stderr)
            finally:
                if os.path.exists(out):
                    os.unlink(out)

    def measure(self, name, graph):
        """Runs every trial of one graph; returns a dict of times and sizes, checked."""
        cpu = {k: [] for k in ("qc", "pc", "qf", "pf")}
        wall = {k: [] for k in cpu}
        counts, sizes, lines = set(), set(), set()
        for trial in range(self.trials):
            order = ("quarn", "peer") if trial % 2 == 0 else ("peer", "quarn")
            for tool in order:
                count, c, w = run([self.tools[tool], "CIS", graph])
                counts.add(count)
                cpu[tool[0] + "c"].append(c)
                wall[tool[0] + "c"].append(w)
            for tool in order:
                count, c, w, size, n = self.file_run(tool, graph, name, trial == 0)
                counts.add(count)
                sizes.add(size)
                if n is not None:
                    lines.add(n)
                cpu[tool[0] + "f"].append(c)
                wall[tool[0] + "f"].append(w)
            print(f"  {name} trial {trial + 1}: " +
                  " ".join(f"{k}={v[-1]:.2f}s" for k, v in cpu.items()), file=sys.stderr)
        if len(counts) != 1 or len(sizes) != 1 or lines != counts:
            raise BenchError(f"{name}: counts {sorted(counts)}, output bytes {sorted(sizes)}, "
                           f"lines {sorted(lines)}")
        if counts != {self.expected.get(name, min(counts))}:
            raise BenchError(f"{name}: {min(counts)} patterns, expected {self.expected[name]}")
        return {"patterns": counts.pop(), "bytes": sizes.pop(), "cpu": cpu, "wall": wall}

    def check_lines(self, name, graph):
        """Both tools must write the same multiset of node sets, one per line, and count them.

        The two list a pattern's nodes in different orders, so each line's nodes are sorted first.
        """
        found = {}
        for tool in self.tools:
            out = os.path.join(self.out_dir, f"{name}.{tool}.check")
            count, _, _ = run([self.tools[tool], "CIS", graph, out])
            with open(out) as f:
                found[tool] = sorted(tuple(sorted(map(int, line.split()))) for line in f)
            os.unlink(out)
            if count != len(found[tool]):
                raise BenchError(f"{name}: {tool} reports {count} patterns but wrote {len(found[tool])} lines")
        if found["quarn"] != found["peer"]:
            raise BenchError(f"{name}: quarn and the peer wrote different node sets")
        print(f"  {name}: same {len(found['quarn'])} node sets from both", file=sys.stderr)


def seconds(times):
    return f"{min(times):.3f} / {statistics.median(times):.3f}"


def ratio(peer, quarn):
    return f"{min(peer) / min(quarn):.2f}" if min(quarn) > 0 else "-"


def rate(amount, secs, unit):
    return f"{amount / secs / 1e6:.1f} {unit}" if secs > 0 else "-"


def print_tables(rows, label, trials):
    cpu_model = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                      if line.startswith("model name")), platform.processor())
    print(f"quarn: {label}; {os.cpu_count()} cores ({cpu_model}); {trials} trials per cell; "
          f"CPU seconds (user + sys) as min / median; ratios and rates from the minimums.\n")
    print("| graph | nodes | edges | patterns | quarn count CPU s | peer count CPU s | peer/quarn "
          "| quarn file CPU s | peer file CPU s | peer/quarn | patterns/s (quarn count) "
          "| bytes/s (quarn file) |")
    print("|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|")
    for name, (nodes, edges), r in rows:
        c = r["cpu"]
        print(f"| {name} | {nodes} | {edges} | {r['patterns']:,} | {seconds(c['qc'])} | {seconds(c['pc'])} "
              f"| {ratio(c['pc'], c['qc'])} | {seconds(c['qf'])} | {seconds(c['pf'])} "
              f"| {ratio(c['pf'], c['qf'])} | {rate(r['patterns'], min(c['qc']), 'M/s')} "
              f"| {rate(r['bytes'], min(c['qf']), 'MB/s')} |")
    print("\nWall seconds (min), and the size of the output file:\n")
    print("| graph | quarn count | peer count | quarn file | peer file | output bytes |")
    print("|---|--:|--:|--:|--:|--:|")
    for name, _, r in rows:
        w = r["wall"]
        print(f"| {name} | {min(w['qc']):.2f} | {min(w['pc']):.2f} | {min(w['qf']):.2f} "
              f"| {min(w['pf']):.2f} | {r['bytes']:,} |")


def named_file(text):
    name, sep, path = text.partition("=")
    if not sep:
        raise argparse.ArgumentTypeError(f"expected NAME=FILE, found {text!r}")
    return name, path


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quarn", required=True)
    parser.add_argument("--peer", required=True)
    parser.add_argument("--out-dir", required=True)
    parser.add_argument("--trials", type=int, default=3)
    parser.add_argument("--label", default="")
    parser.add_argument("--check", type=named_file, action="append", default=[])
    parser.add_argument("--expect", type=named_file, action="append", default=[])
    parser.add_argument("graphs", type=named_file, nargs="*")
    args = parser.parse_args()
    bench = Bench(args)
    try:
        for name, path in args.check:
            bench.check_lines(name, path)
        rows = []
        for name, path in args.graphs:
            rows.append((name, graph_size(path), bench.measure(name, path)))
    except BenchError as error:
        print(f"cis_bench: {error}", file=sys.stderr)
        return 1
    if rows:
        print_tables(rows, args.label or args.quarn, args.trials)
    return 0


if __name__ == "__main__":
    sys.exit(main())
