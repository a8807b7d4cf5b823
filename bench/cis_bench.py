#!/usr/bin/env python3
"""Times quarn CIS listings against the comparison peer on prepared graphs; prints markdown tables.

    cis_bench.py --quarn Q [--peer P] --out-dir D [--line-copy-rate L] [--trials N]
                 [--check NAME=FILE]... [--expect NAME=COUNT]... NAME=FILE...

Called by run_cis.sh. For every graph and trial it runs, in turn: each tool writing to /dev/null,
then each tool writing a file in D (the tools swap places on every other trial, so neither always
runs right after the other's large write). CPU time is the user + system time of the child, from
getrusage. Output files are deleted after each run. Both tools must report the same count (and the
--expect count, if given), and write files of the same size with one line per pattern. Each --check
graph is also run with file output by both tools, and the node sets of the lines must be the same
multiset. Without --peer, quarn is timed alone.

Beside each graph it measures the machine's limits for an output of that size, once: cat of quarn's
output file to a new file in D (CPU and wall time of cat), and, with --line-copy-rate, the CPU time
of copying the file's lines into a buffer, one memcpy per line, with no search and no write.
"""
import argparse
import math
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
        self.tools = {"quarn": args.quarn}
        if args.peer:
            self.tools["peer"] = args.peer
        self.line_copy_rate = args.line_copy_rate
        self.out_dir = args.out_dir
        self.trials = args.trials
        self.expected = {name: int(count) for name, count in args.expect}
        self.last_size = 3 << 30  # a guess until the first file is written

    def file_run(self, tool, graph, name, count_lines_too, limits=None):
        """One file-output run; a run that found the disk full is retried once there is room.

        With limits (a dict), also measures cat and the line copying on the file before it goes.
        """
        out = os.path.join(self.out_dir, f"{name}.{tool}.out")
        for attempt in range(NO_SPACE_RETRIES + 1):
            wait_for_space(self.out_dir, 2 * self.last_size + (1 << 30))
            try:
                count, cpu, wall = run([self.tools[tool], "CIS", graph, out])
                size = os.path.getsize(out)
                lines = count_lines(out) if count_lines_too else None
                self.last_size = size
                if limits is not None:
                    limits.update(self.machine_limits(out))
                return count, cpu, wall, size, lines
            except BenchError as error:
                if "No space left" not in str(error) or attempt == NO_SPACE_RETRIES:
                    raise
                print(f"  {name}: {tool} found the disk full; running it again", file=sys.stderr)
            finally:
                if os.path.exists(out):
                    os.unlink(out)

    def machine_limits(self, path):
        """CPU and wall seconds of cat writing a copy of path beside it; CPU seconds of copying its lines."""
        copy = path + ".cat"
        wait_for_space(self.out_dir, os.path.getsize(path) + (1 << 30))
        try:
            with open(copy, "wb") as target:
                before = resource.getrusage(resource.RUSAGE_CHILDREN)
                start = time.perf_counter()
                subprocess.run(["cat", path], stdout=target, check=True)
                wall = time.perf_counter() - start
                after = resource.getrusage(resource.RUSAGE_CHILDREN)
        finally:
            if os.path.exists(copy):
                os.unlink(copy)
        limits = {"cat_cpu": after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime,
                  "cat_wall": wall}
        if self.line_copy_rate:
            done = subprocess.run([self.line_copy_rate, path], stdout=subprocess.PIPE, check=True)
            limits["copy_cpu"] = float(done.stdout.split()[1])
        return limits

    def measure(self, name, graph):
        """Runs every trial of one graph; returns a dict of times and sizes, checked."""
        cpu = {f"{tool}_{mode}": [] for tool in self.tools for mode in ("null", "file")}
        wall = {k: [] for k in cpu}
        counts, sizes, lines = set(), set(), set()
        limits = {}
        tools = list(self.tools)
        for trial in range(self.trials):
            order = tools if trial % 2 == 0 else tools[::-1]
            for tool in order:
                count, c, w = run([self.tools[tool], "CIS", graph, "/dev/null"])
                counts.add(count)
                cpu[f"{tool}_null"].append(c)
                wall[f"{tool}_null"].append(w)
            for tool in order:
                measure_limits = trial == 0 and tool == "quarn"
                count, c, w, size, n = self.file_run(tool, graph, name, trial == 0,
                                                     limits if measure_limits else None)
                counts.add(count)
                sizes.add(size)
                if n is not None:
                    lines.add(n)
                cpu[f"{tool}_file"].append(c)
                wall[f"{tool}_file"].append(w)
            print(f"  {name} trial {trial + 1}: " +
                  " ".join(f"{k}={v[-1]:.2f}s" for k, v in cpu.items()), file=sys.stderr)
        if len(counts) != 1 or len(sizes) != 1 or lines != counts:
            raise BenchError(f"{name}: counts {sorted(counts)}, output bytes {sorted(sizes)}, "
                           f"lines {sorted(lines)}")
        if counts != {self.expected.get(name, min(counts))}:
            raise BenchError(f"{name}: {min(counts)} patterns, expected {self.expected[name]}")
        return {"patterns": counts.pop(), "bytes": sizes.pop(), "cpu": cpu, "wall": wall, "limits": limits}

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
        if "peer" in found and found["quarn"] != found["peer"]:
            raise BenchError(f"{name}: quarn and the peer wrote different node sets")
        print(f"  {name}: {len(found['quarn'])} node sets" + (", the same from both" if "peer" in found else ""),
              file=sys.stderr)


def seconds(times):
    return f"{min(times):.3f} / {statistics.median(times):.3f}"


def ratio(peer, quarn):
    return min(peer) / min(quarn) if min(quarn) > 0 else float("nan")


def rate(amount, secs):
    return f"{amount / secs / 1e6:,.0f}" if secs > 0 else "-"


def geometric_mean(values):
    values = [v for v in values if v > 0 and not math.isnan(v)]
    return math.exp(sum(map(math.log, values)) / len(values)) if values else float("nan")


def bound(r):
    """Shares of quarn's file CPU time: the search (its /dev/null time less the copying), the copying
    of lines into the buffer, and the write (the file time less the /dev/null time)."""
    c, limits = r["cpu"], r["limits"]
    total = min(c["quarn_file"])
    copying = limits.get("copy_cpu")
    if copying is None or total <= 0:
        return "-"
    write = max(0.0, total - min(c["quarn_null"]))
    search = max(0.0, min(c["quarn_null"]) - copying)
    shares = {"search": search, "copy": copying, "write": write}
    top = max(shares, key=shares.get)
    return f"{top} ({' / '.join(f'{100 * v / total:.0f}' for v in shares.values())})"


def print_tables(rows, label, trials, with_peer):
    cpu_model = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                      if line.startswith("model name")), platform.processor())
    print(f"quarn: {label}; {os.cpu_count()} cores ({cpu_model}); {trials} trials per cell; "
          f"CPU seconds (user + sys) as min / median; ratios and rates from the minimums.\n")
    if with_peer:
        print("| graph | nodes | edges | patterns | quarn /dev/null | peer /dev/null | peer/quarn "
              "| quarn file | peer file | peer/quarn |")
        print("|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|")
        null_ratios, file_ratios = [], []
        for name, (nodes, edges), r in rows:
            c = r["cpu"]
            null_ratios.append(ratio(c["peer_null"], c["quarn_null"]))
            file_ratios.append(ratio(c["peer_file"], c["quarn_file"]))
            print(f"| {name} | {nodes} | {edges} | {r['patterns']:,} | {seconds(c['quarn_null'])} "
                  f"| {seconds(c['peer_null'])} | {null_ratios[-1]:.2f} | {seconds(c['quarn_file'])} "
                  f"| {seconds(c['peer_file'])} | {file_ratios[-1]:.2f} |")
        print(f"| geometric mean | | | | | | {geometric_mean(null_ratios):.2f} | | | "
              f"{geometric_mean(file_ratios):.2f} |")
    else:
        print("| graph | nodes | edges | patterns | quarn /dev/null | quarn file |")
        print("|---|--:|--:|--:|--:|--:|")
        for name, (nodes, edges), r in rows:
            c = r["cpu"]
            print(f"| {name} | {nodes} | {edges} | {r['patterns']:,} | {seconds(c['quarn_null'])} "
                  f"| {seconds(c['quarn_file'])} |")
    print("\nOutput rates in MB/s: quarn's bytes over its CPU time, to /dev/null and to a file; cat of a "
          "file of the same size to the same folder, over cat's CPU and wall time; copying the lines into "
          "a buffer alone. Bound: the largest share of quarn's file CPU time (search / copy / write, %).\n")
    print("| graph | output bytes | bytes/line | quarn /dev/null | quarn file | cat CPU | cat wall "
          "| line copy | bound |")
    print("|---|--:|--:|--:|--:|--:|--:|--:|---|")
    for name, _, r in rows:
        c, limits = r["cpu"], r["limits"]
        copying = limits.get("copy_cpu")
        print(f"| {name} | {r['bytes']:,} | {r['bytes'] / max(r['patterns'], 1):.1f} "
              f"| {rate(r['bytes'], min(c['quarn_null']))} | {rate(r['bytes'], min(c['quarn_file']))} "
              f"| {rate(r['bytes'], limits.get('cat_cpu', 0))} | {rate(r['bytes'], limits.get('cat_wall', 0))} "
              f"| {rate(r['bytes'], copying) if copying else '-'} | {bound(r)} |")
    print("\nWall seconds (min):\n")
    tools = ["quarn", "peer"] if with_peer else ["quarn"]
    print("| graph | " + " | ".join(f"{t} /dev/null | {t} file" for t in tools) + " |")
    print("|---|" + "--:|" * (2 * len(tools)))
    for name, _, r in rows:
        w = r["wall"]
        print(f"| {name} | " + " | ".join(f"{min(w[t + '_null']):.2f} | {min(w[t + '_file']):.2f}" for t in tools)
              + " |")


def named_file(text):
    name, sep, path = text.partition("=")
    if not sep:
        raise argparse.ArgumentTypeError(f"expected NAME=FILE, found {text!r}")
    return name, path


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quarn", required=True)
    parser.add_argument("--peer", default="")
    parser.add_argument("--line-copy-rate", default="")
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
        print_tables(rows, args.label or args.quarn, args.trials, bool(args.peer))
    return 0


if __name__ == "__main__":
    sys.exit(main())
