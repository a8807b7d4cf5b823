// gen_graph: seeded benchmark graphs for quarn, written to standard output as an edge list.
//
//   gen_graph FAMILY PARAMS... [--seed S]
//   gen_graph union FAMILY PARAMS... + FAMILY PARAMS... [+ ...] [--seed S]
//
// Families: grid R C, ladder N, king R C, hypercube D, sparse N AVG_DEGREE, dense N P, tree N, regular N D,
// complete N, path N, cycle N, star K.
// One "u v" line per edge, nodes numbered from 1. A union places its parts side by side: each part's
// nodes follow the previous part's nodes, isolated ones included, so a part's numbers never shift with
// the edges it happens to get. The same arguments and seed always give the same file: the random
// choices come from std::mt19937_64 (fully specified by the standard) through the small mappings
// below, never through the std distributions, whose results differ between standard libraries.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

using Rng = std::mt19937_64;
using Edge = std::pair<std::int64_t, std::int64_t>;

constexpr std::uint64_t kDefaultSeed = 1;
constexpr int kRegularAttempts = 1000;

struct Graph {
  std::int64_t nodes = 0;
  std::vector<Edge> edges;
};

constexpr const char* kUsage =
    "usage: gen_graph FAMILY PARAMS... [--seed S]\n"
    "       gen_graph union FAMILY PARAMS... + FAMILY PARAMS... [+ ...] [--seed S]\n"
    "families:\n"
    "  grid R C             R x C grid\n"
    "  ladder N             the 2 x N grid: two paths of N nodes, joined by N rungs\n"
    "  king R C             R x C grid with the diagonals (a king's moves)\n"
    "  hypercube D          the D-dimensional cube: 2^D nodes, joined when they differ in one bit\n"
    "  sparse N AVG_DEGREE  N nodes, round(N * AVG_DEGREE / 2) distinct random edges\n"
    "  dense N P            N nodes, each pair joined with probability P percent\n"
    "  tree N               uniform random labelled tree (Pruefer sequence)\n"
    "  regular N D          random D-regular graph (configuration model)\n"
    "  complete N           complete graph K_N\n"
    "  path N, cycle N      path and cycle on N nodes\n"
    "  star K               one centre and K leaves\n";

[[noreturn]] void usage_error(const std::string& message) {
  throw std::invalid_argument(message + "\n" + kUsage);
}

// A uniform integer in [0, n): rejects the top values that would make plain modulo biased.
std::uint64_t uniform_below(Rng& rng, std::uint64_t n) {
  const std::uint64_t limit = Rng::max() - Rng::max() % n;
  for (;;) {
    const std::uint64_t x = rng();
    if (x < limit) return x % n;
  }
}

template <typename T>
void shuffle(std::vector<T>& items, Rng& rng) {
  for (std::size_t i = items.size(); i > 1; --i) std::swap(items[i - 1], items[uniform_below(rng, i)]);
}

std::uint64_t pair_key(std::int64_t u, std::int64_t v) {
  if (u > v) std::swap(u, v);
  return (std::uint64_t(u) << 32) | std::uint64_t(v);
}

Graph grid(std::int64_t rows, std::int64_t cols) {
  Graph g{rows * cols, {}};
  for (std::int64_t r = 0; r < rows; ++r) {
    for (std::int64_t c = 0; c < cols; ++c) {
      const std::int64_t v = r * cols + c + 1;
      if (c + 1 < cols) g.edges.emplace_back(v, v + 1);
      if (r + 1 < rows) g.edges.emplace_back(v, v + cols);
    }
  }
  return g;
}

Graph king(std::int64_t rows, std::int64_t cols) {
  Graph g = grid(rows, cols);
  for (std::int64_t r = 0; r + 1 < rows; ++r) {
    for (std::int64_t c = 0; c + 1 < cols; ++c) {
      const std::int64_t v = r * cols + c + 1;
      g.edges.emplace_back(v, v + cols + 1);
      g.edges.emplace_back(v + 1, v + cols);
    }
  }
  return g;
}

Graph hypercube(std::int64_t dimensions) {
  Graph g{std::int64_t(1) << dimensions, {}};
  for (std::int64_t v = 0; v < g.nodes; ++v) {
    for (std::int64_t bit = 1; bit < g.nodes; bit <<= 1) {
      if ((v & bit) == 0) g.edges.emplace_back(v + 1, (v | bit) + 1);
    }
  }
  return g;
}

// G(n, p) with p in percent: every pair tried once, in order.
Graph dense(std::int64_t n, std::int64_t percent, Rng& rng) {
  Graph g{n, {}};
  for (std::int64_t u = 1; u <= n; ++u) {
    for (std::int64_t v = u + 1; v <= n; ++v) {
      if (std::int64_t(uniform_below(rng, 100)) < percent) g.edges.emplace_back(u, v);
    }
  }
  return g;
}

// G(n, m): m distinct edges drawn uniformly, in the order drawn. Not necessarily connected.
Graph sparse(std::int64_t n, double average_degree, Rng& rng) {
  const std::int64_t wanted = std::int64_t(double(n) * average_degree / 2 + 0.5);
  const std::int64_t edges = std::min(wanted, n * (n - 1) / 2);
  Graph g{n, {}};
  std::unordered_set<std::uint64_t> seen;
  while (std::int64_t(g.edges.size()) < edges) {
    const std::int64_t u = std::int64_t(uniform_below(rng, std::uint64_t(n))) + 1;
    const std::int64_t v = std::int64_t(uniform_below(rng, std::uint64_t(n))) + 1;
    if (u != v && seen.insert(pair_key(u, v)).second) g.edges.emplace_back(u, v);
  }
  return g;
}

// Decodes a random Pruefer sequence: every labelled tree on n nodes is equally likely.
Graph tree(std::int64_t n, Rng& rng) {
  Graph g{n, {}};
  if (n < 2) return g;
  std::vector<std::int64_t> code(std::size_t(n - 2));
  for (auto& x : code) x = std::int64_t(uniform_below(rng, std::uint64_t(n))) + 1;
  std::vector<std::int64_t> degree(std::size_t(n + 1), 1);
  for (std::int64_t x : code) ++degree[std::size_t(x)];
  // Min-heap of the current leaves.
  std::vector<std::int64_t> leaves;
  for (std::int64_t v = 1; v <= n; ++v) {
    if (degree[std::size_t(v)] == 1) leaves.push_back(v);
  }
  std::make_heap(leaves.begin(), leaves.end(), std::greater<>());
  for (std::int64_t x : code) {
    std::pop_heap(leaves.begin(), leaves.end(), std::greater<>());
    g.edges.emplace_back(leaves.back(), x);
    leaves.pop_back();
    if (--degree[std::size_t(x)] == 1) {
      leaves.push_back(x);
      std::push_heap(leaves.begin(), leaves.end(), std::greater<>());
    }
  }
  std::sort(leaves.begin(), leaves.end());
  g.edges.emplace_back(leaves[0], leaves[1]);
  return g;
}

// Configuration model: shuffle n * d half-edges and pair them in order. A pairing with a loop or a
// repeated edge is drawn again; if none of kRegularAttempts is simple (large d), the last one is
// kept without its loops and repeats, so a few nodes end with degree below d.
Graph regular(std::int64_t n, std::int64_t d, Rng& rng) {
  if (n * d % 2 != 0) usage_error("regular: N * D must be even");
  if (d >= n) usage_error("regular: D must be below N");
  std::vector<std::int64_t> stubs;
  for (std::int64_t v = 1; v <= n; ++v) stubs.insert(stubs.end(), std::size_t(d), v);
  Graph g{n, {}};
  for (int attempt = 1; attempt <= kRegularAttempts; ++attempt) {
    shuffle(stubs, rng);
    g.edges.clear();
    std::unordered_set<std::uint64_t> seen;
    for (std::size_t i = 0; i + 1 < stubs.size(); i += 2) {
      const std::int64_t u = stubs[i], v = stubs[i + 1];
      if (u != v && seen.insert(pair_key(u, v)).second) g.edges.emplace_back(u, v);
    }
    if (std::int64_t(g.edges.size()) * 2 == n * d) break;
  }
  return g;
}

Graph complete(std::int64_t n) {
  Graph g{n, {}};
  for (std::int64_t u = 1; u <= n; ++u) {
    for (std::int64_t v = u + 1; v <= n; ++v) g.edges.emplace_back(u, v);
  }
  return g;
}

Graph path(std::int64_t n) {
  Graph g{n, {}};
  for (std::int64_t v = 1; v < n; ++v) g.edges.emplace_back(v, v + 1);
  return g;
}

Graph cycle(std::int64_t n) {
  Graph g = path(n);
  if (n >= 3) g.edges.emplace_back(n, 1);
  return g;
}

Graph star(std::int64_t leaves) {
  Graph g{leaves + 1, {}};
  for (std::int64_t v = 2; v <= leaves + 1; ++v) g.edges.emplace_back(1, v);
  return g;
}

std::int64_t parse_count(std::string_view text, std::int64_t least) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < least) {
    usage_error("expected a whole number of at least " + std::to_string(least) + ", found \"" +
                std::string(text) + "\"");
  }
  // Node numbers stay within the signed 32-bit range that quarn reads.
  if (value > 2'000'000'000) usage_error("\"" + std::string(text) + "\" is too large");
  return value;
}

double parse_real(std::string_view text) {
  try {
    std::size_t used = 0;
    const double value = std::stod(std::string(text), &used);
    if (used == text.size() && value >= 0 && value < 1e9) return value;
  } catch (const std::exception&) {
  }
  usage_error("expected a non-negative number, found \"" + std::string(text) + "\"");
}

Graph make_family(const std::vector<std::string_view>& spec, Rng& rng) {
  if (spec.empty()) usage_error("missing FAMILY");
  const std::string_view family = spec[0];
  auto want = [&](std::size_t params) {
    if (spec.size() != params + 1) {
      usage_error(std::string(family) + " takes " + std::to_string(params) + " parameter(s)");
    }
  };
  if (family == "grid") {
    want(2);
    return grid(parse_count(spec[1], 1), parse_count(spec[2], 1));
  }
  if (family == "ladder") {
    want(1);
    return grid(2, parse_count(spec[1], 1));
  }
  if (family == "king") {
    want(2);
    return king(parse_count(spec[1], 1), parse_count(spec[2], 1));
  }
  if (family == "hypercube") {
    want(1);
    const std::int64_t dimensions = parse_count(spec[1], 0);
    if (dimensions > 30) usage_error("a hypercube of more than 30 dimensions has too many nodes");
    return hypercube(dimensions);
  }
  if (family == "dense") {
    want(2);
    return dense(parse_count(spec[1], 1), parse_count(spec[2], 0), rng);
  }
  if (family == "sparse") {
    want(2);
    return sparse(parse_count(spec[1], 1), parse_real(spec[2]), rng);
  }
  if (family == "tree") {
    want(1);
    return tree(parse_count(spec[1], 1), rng);
  }
  if (family == "regular") {
    want(2);
    return regular(parse_count(spec[1], 1), parse_count(spec[2], 0), rng);
  }
  if (family == "complete") {
    want(1);
    return complete(parse_count(spec[1], 1));
  }
  if (family == "path") {
    want(1);
    return path(parse_count(spec[1], 1));
  }
  if (family == "cycle") {
    want(1);
    return cycle(parse_count(spec[1], 1));
  }
  if (family == "star") {
    want(1);
    return star(parse_count(spec[1], 0));
  }
  usage_error("unknown family \"" + std::string(family) + "\"");
}

// The parts of a union share one random stream, drawn from in order.
Graph make_union(const std::vector<std::string_view>& args, Rng& rng) {
  Graph all;
  std::vector<std::string_view> part;
  for (std::size_t i = 0; i <= args.size(); ++i) {
    if (i < args.size() && args[i] != "+") {
      part.push_back(args[i]);
      continue;
    }
    const Graph g = make_family(part, rng);
    for (const auto& [u, v] : g.edges) all.edges.emplace_back(u + all.nodes, v + all.nodes);
    all.nodes += g.nodes;
    part.clear();
  }
  if (all.nodes > 2'000'000'000) usage_error("union: too many nodes");
  return all;
}

void write_edges(const Graph& g) {
  std::string text;
  char number[24];
  for (const auto& [u, v] : g.edges) {
    text.append(number, std::to_chars(number, number + sizeof number, u).ptr);
    text += ' ';
    text.append(number, std::to_chars(number, number + sizeof number, v).ptr);
    text += '\n';
  }
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    throw std::runtime_error(std::string("cannot write: ") + std::strerror(errno));
  }
}

int run(int argc, char** argv) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  std::uint64_t seed = kDefaultSeed;
  const auto seed_at = std::find(args.begin(), args.end(), "--seed");
  if (seed_at != args.end()) {
    if (seed_at + 1 == args.end()) usage_error("--seed needs a value");
    const std::string_view text = *(seed_at + 1);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seed);
    if (error != std::errc() || end != text.data() + text.size()) {
      usage_error("--seed expects a whole number, found \"" + std::string(text) + "\"");
    }
    args.erase(seed_at, seed_at + 2);
  }
  Rng rng(seed);
  if (!args.empty() && args[0] == "union") {
    write_edges(make_union({args.begin() + 1, args.end()}, rng));
  } else {
    write_edges(make_family(args, rng));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "gen_graph: %s", error.what());
    if (error.what()[std::strlen(error.what()) - 1] != '\n') std::fputc('\n', stderr);
    return 1;
  }
}
