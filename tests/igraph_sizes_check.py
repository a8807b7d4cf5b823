#!/usr/bin/env python3
"""quarn's counts by size against an independent counter: igraph (Debian: python3-igraph).

    igraph_sizes_check.py QUARN KARATE_EDGE_LIST

igraph counts the connected induced subgraphs of k nodes, one size at a time, from k = 3 up
(Graph.motifs_randesu_no(size=k, cut_prob=[0] * k)); it gets sizes 1 and 2 wrong, so those are
checked against the nodes and the edges. On Zachary's karate club and on seeded random graphs
(sparse and dense, with isolated nodes), quarn's "Size K" lines must give igraph's numbers for
every size checked, in count-only runs with and without --max-size, and in listing runs. Exits
77 (skipped) when igraph cannot be imported, except under CI, where that is a failure.
"""
import os
import random
import re
import subprocess
import sys
import tempfile

try:
    import igraph
except ImportError:
    print("igraph is not installed (Debian: python3-igraph)")
    sys.exit(1 if os.environ.get("CI") else 77)

SIZE_LINE = re.compile(r"Size (\d+): (\d+)")


def quarn_sizes(quarn, path, *options):
    """Runs quarn CIS with --by-size; returns its counts by size and its count line's number."""
    out = subprocess.run([quarn, "CIS", path, "--by-size", *options], check=True, capture_output=True,
                         text=True).stdout
    lines = out.splitlines()
    if not lines or not lines[-1].startswith("Patterns: "):
        raise SystemExit(f"no count line from quarn on {path}: {out[-200:]!r}")
    sizes = {int(m.group(1)): int(m.group(2)) for m in map(SIZE_LINE.fullmatch, lines) if m}
    total = int(lines[-1][len("Patterns: "):])
    if sum(sizes.values()) != total:
        raise SystemExit(f"{path}: the sizes add up to {sum(sizes.values())}, the count line says {total}")
    return sizes


def igraph_sizes(graph, largest):
    """The connected sets of 1 to largest nodes by igraph: nodes, edges, then its count of each size."""
    sizes = {1: graph.vcount(), 2: graph.ecount()}
    for k in range(3, largest + 1):
        sizes[k] = int(graph.motifs_randesu_no(size=k, cut_prob=[0] * k))
    return {k: n for k, n in sizes.items() if n != 0}


def check(quarn, name, graph, path, largest, listed):
    """Compares the sizes up to largest, by count-only runs with a bound (and without one on graphs
    small enough to count every size at once), and by a listing."""
    expected = igraph_sizes(graph, largest)
    runs = {f"count-only --max-size {largest}": quarn_sizes(quarn, path, "--max-size", str(largest))}
    if graph.vcount() <= 34:
        runs["count-only"] = quarn_sizes(quarn, path)
    if listed:
        runs[f"listing --max-size {largest}"] = quarn_sizes(quarn, path, "--max-size", str(largest), os.devnull)
    for run, sizes in runs.items():
        got = {k: n for k, n in sizes.items() if k <= largest}
        if got != expected:
            raise SystemExit(f"{name}, {run}: quarn {got}, igraph {expected}")
    counts = ", ".join(f"{k}: {n}" for k, n in sorted(expected.items()))
    print(f"ok: {name}, sizes 1 to {largest}: {counts}", flush=True)


def write_edges(graph, path):
    """quarn's nodes are 1 to N: igraph's vertex v is node v + 1."""
    with open(path, "w") as out:
        for u, v in graph.get_edgelist():
            out.write(f"{u + 1} {v + 1}\n")


def read_edges(path):
    """An edge list of nodes 1 to N, with comment lines, as an igraph graph of vertices 0 to N - 1."""
    with open(path) as lines:
        pairs = [tuple(int(x) - 1 for x in line.split()[:2]) for line in lines if line.strip()[:1].isdigit()]
    return igraph.Graph(n=max(max(pair) for pair in pairs) + 1, edges=pairs)


def random_graph(rng, nodes, edges):
    """A random simple graph whose last vertex has an edge, so that quarn sees every vertex."""
    pairs = set()
    while len(pairs) < edges:
        u, v = rng.sample(range(nodes), 2)
        pairs.add((min(u, v), max(u, v)))
    if all(nodes - 1 not in pair for pair in pairs):
        pairs.add((rng.randrange(nodes - 1), nodes - 1))
    pairs = list(pairs)
    rng.shuffle(pairs)
    return igraph.Graph(n=nodes, edges=pairs)


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    quarn, karate_path = sys.argv[1], sys.argv[2]
    karate = read_edges(karate_path)
    check(quarn, "Zachary's karate club", karate, karate_path, 7, listed=True)

    rng = random.Random(20261209)
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "g.txt")
        for trial in range(60):
            nodes = rng.randint(4, 34)
            density = rng.choice([0.05, 0.1, 0.2, 0.4, 0.8])
            edges = max(1, min(nodes * (nodes - 1) // 2, round(density * nodes * (nodes - 1) / 2)))
            graph = random_graph(rng, nodes, edges)
            write_edges(graph, path)
            largest = min(nodes, 7 if density <= 0.1 else 5 if density <= 0.2 else 4)
            check(quarn, f"random graph {trial} ({nodes} nodes, {graph.ecount()} edges)", graph, path, largest,
                  listed=trial % 4 == 0)
        # Past 127 nodes: the dynamic program's counts leave 128 bits for the larger sizes.
        for nodes, edges in [(200, 220), (300, 450)]:
            graph = random_graph(rng, nodes, edges)
            write_edges(graph, path)
            check(quarn, f"random graph of {nodes} nodes, {graph.ecount()} edges", graph, path, 6, listed=True)


if __name__ == "__main__":
    main()
