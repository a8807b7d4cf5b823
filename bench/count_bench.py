#!/usr/bin/env python3
"""Times quarn's count-only CIS mode, road by road, on prepared graphs; prints a markdown table.

    count_bench.py --build DIR [--peer P] [--timeout S] [--only REGEX] [--quick] [--list]

DIR holds quarn and bench/{gen_graph,count_bench} (run_count.sh builds it). For every graph it runs:
quarn CIS G (the automatic road, as users run it); count_bench frontier (the dynamic program on every
component it can take, with its figures); count_bench search (the counting search alone); count_bench
order (only the choice of orders, which the automatic road pays before it counts); and the peer's
count-only run if a peer is given. Times are CPU seconds (user + system) of each child, memory its peak
resident set, both from wait4. A run past the timeout is killed and shown as "> S". Every road that
finishes must give the same count, and graphs with a published count must give it.
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

# name, gen_graph arguments (or a file), published or closed-form count (or None)
GRAPHS = [
    ("karate club", KARATE, "3923410433"),
    ("grid 5x5", ["grid", "5", "5"], "2301877"),
    ("grid 6x6", ["grid", "6", "6"], None),
    ("grid 7x7", ["grid", "7", "7"], "4872949974666"),
    ("grid 8x8", ["grid", "8", "8"], "51016818604894742"),
    ("grid 9x9", ["grid", "9", "9"], "1980555831431088025753"),
    ("grid 10x10", ["grid", "10", "10"], "284374318545830329487309785"),
    ("grid 11x11", ["grid", "11", "11"], None),
    ("grid 12x12", ["grid", "12", "12"], None),
    ("king 6x6", ["king", "6", "6"], None),
    ("king 8x8", ["king", "8", "8"], None),
    ("king 10x10", ["king", "10", "10"], None),
    ("ladder 2x100", ["grid", "2", "100"], None),
    ("path 30000", ["path", "30000"], "450015000"),
    ("hypercube 4", ["hypercube", "4"], None),
    ("hypercube 5", ["hypercube", "5"], None),
    ("hypercube 6", ["hypercube", "6"], None),
    ("tree 1000 (seed 1)", ["tree", "1000", "--seed", "1"], None),
    ("tree 1000 (seed 2)", ["tree", "1000", "--seed", "2"], None),
    ("sparse 40, degree 3", ["sparse", "40", "3"], None),
    ("sparse 80, degree 3", ["sparse", "80", "3"], None),
    ("sparse 120, degree 3", ["sparse", "120", "3"], None),
    ("sparse 160, degree 3", ["sparse", "160", "3"], None),
    ("sparse 200, degree 3", ["sparse", "200", "3"], None),
    ("dense 30, p = 0.3", ["dense", "30", "30"], None),
    ("dense 35, p = 0.25", ["dense", "35", "25"], None),
    ("dense 40, p = 0.5", ["dense", "40", "50"], None),
    ("dense 60, p = 0.3", ["dense", "60", "30"], None),
    ("complete 26", ["complete", "26"], "67108863"),
]
QUICK = {"karate club", "grid 5x5", "grid 8x8", "ladder 2x100", "tree 1000 (seed 1)", "dense 40, p = 0.5"}


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
                child.returncode = -9
                return None, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024
            time.sleep(0.01)
        child.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        text = out.read().decode()
        if child.returncode != 0:
            raise SystemExit(f"{' '.join(cmd)} failed with status {child.returncode}")
        return text, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024


def fields(line):
    return dict(item.split("=", 1) for item in line.split())


def seconds(value, text, timeout):
    return f"> {timeout:g}" if text is None else f"{value:.3f}"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True)
    parser.add_argument("--peer")
    parser.add_argument("--timeout", type=float, default=None,
                        help="seconds before a run is stopped (default 60, or 2 with --quick)")
    parser.add_argument("--only")
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--list", action="store_true")
    args = parser.parse_args()

    if args.timeout is None:
        args.timeout = 2 if args.quick else 60
    graphs = [g for g in GRAPHS if (not args.quick or g[0] in QUICK) and (not args.only or re.search(args.only, g[0]))]
    if args.list:
        for name, source, _ in graphs:
            print(f"{name}: {source if isinstance(source, str) else 'gen_graph ' + ' '.join(source)}")
        return
    quarn = os.path.join(args.build, "quarn")
    counter = os.path.join(args.build, "bench", "count_bench")
    generator = os.path.join(args.build, "bench", "gen_graph")

    header = ["graph", "nodes", "edges", "width", "peak states", "count", "quarn s", "quarn MiB",
              "program s", "program MiB", "search s", "order s"]
    if args.peer:
        header.append("peer s")
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join("---" if i == 0 else "--:" for i in range(len(header))) + "|")
    with tempfile.TemporaryDirectory() as folder:
        for name, source, expected in graphs:
            path = source
            if not isinstance(source, str):
                path = os.path.join(folder, "graph.txt")
                with open(path, "w") as out:
                    subprocess.run([generator] + source, stdout=out, check=True)
            lines = [l.split() for l in open(path) if l.strip() and not l.startswith("#")]
            nodes = max(max(int(a), int(b)) for a, b, *_ in lines)
            print(f"{name}...", file=sys.stderr)

            quarn_out, quarn_s, quarn_mib = run([quarn, "CIS", path], args.timeout)
            program_out, program_s, program_mib = run([counter, "frontier", path], args.timeout)
            search_out, search_s, _ = run([counter, "search", path], args.timeout)
            order_out, order_s, _ = run([counter, "order", path], args.timeout)
            counts = set()
            if quarn_out is not None:
                counts.add(quarn_out.split()[-1])
            program = fields(program_out) if program_out is not None else {}
            if program:
                counts.add(program["count"])
            if search_out is not None:
                counts.add(fields(search_out)["count"])
            widest = int(fields(order_out)["widest"]) if order_out is not None else None
            width = "?" if widest is None else (f"> {widest - 1}" if widest > 25 else str(widest))
            row = [name, str(nodes), str(len(lines)), width, program.get("states", "-") if widest and widest <= 25 else "-"]
            if args.peer:
                peer_out, peer_s, _ = run([args.peer, "CIS", path], args.timeout)
                if peer_out is not None:
                    counts.add(peer_out.split()[-1])
            if len(counts) > 1 or (expected and counts and counts != {expected}):
                raise SystemExit(f"{name}: counts differ: {sorted(counts)} (expected {expected})")
            count = counts.pop() if counts else "?"
            row.append(count if len(count) <= 20 else f"{count[:4]}e{len(count) - 1} ({len(count)} digits)")
            row += [seconds(quarn_s, quarn_out, args.timeout), f"{quarn_mib:.0f}",
                    seconds(program_s, program_out, args.timeout), f"{program_mib:.0f}",
                    seconds(search_s, search_out, args.timeout), seconds(order_s, order_out, args.timeout)]
            if args.peer:
                row.append(seconds(peer_s, peer_out, args.timeout))
            print("| " + " | ".join(row) + " |", flush=True)


if __name__ == "__main__":
    main()
