// --part I/N: the parts of a run, joined in order, are the whole run byte for byte, and their counts
// add up to its count, in every mode and road; every machine plans the same parts.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>

#include "AttributedMiner.h"
#include "ListingRun.h"
#include "Miner.h"
#include "PartPlan.h"
#include "SearchShapes.h"
#include "graph_families.h"
#include "reference_mcs.h"
#include "test_support.h"

namespace {

// Trailing zero sizes say nothing: a part may have fewer sizes than the whole.
std::vector<std::uint64_t> trimmed(std::vector<std::uint64_t> sizes) {
  while (!sizes.empty() && sizes.back() == 0) sizes.pop_back();
  return sizes;
}

// "Size K: C" and "Patterns: C" lines of the parts, added up.
std::string added_counts(const std::vector<std::string>& outputs) {
  std::map<std::string, std::uint64_t> sums;
  std::vector<std::string> order;
  for (const std::string& out : outputs) {
    std::size_t at = 0;
    while (at < out.size()) {
      const std::size_t end = out.find('\n', at);
      const std::string line = out.substr(at, end - at);
      at = end + 1;
      const std::size_t colon = line.find(": ");
      const std::string key = line.substr(0, colon);
      if (sums.count(key) == 0) order.push_back(key);
      sums[key] += std::stoull(line.substr(colon + 2));
    }
  }
  std::sort(order.begin(), order.end(), [](const std::string& a, const std::string& b) {
    if ((a[0] == 'P') != (b[0] == 'P')) return b[0] == 'P';  // the count line last
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  std::string text;
  for (const std::string& key : order) {
    if (sums[key] > 0 || key[0] == 'P') text += key + ": " + std::to_string(sums[key]) + "\n";
  }
  return text;
}

// A run's lines, its count, and its lines by size.
struct Lines {
  std::string text;
  std::uint64_t count = 0;
  std::vector<std::uint64_t> by_size;
  std::string size_lines;  // MCS: its "Size K: C" lines

  void add(const Lines& part) {
    text += part.text;
    count += part.count;
    size_lines = added_counts({size_lines, part.size_lines});
    if (by_size.size() < part.by_size.size()) by_size.resize(part.by_size.size(), 0);
    for (std::size_t k = 0; k < part.by_size.size(); ++k) by_size[k] += part.by_size[k];
  }
};

Lines list_cis(const AdjacencyList& graph, SizeBounds bounds, unsigned threads,
               std::optional<PartChoice> part) {
  TempDir dir;
  RunOptions options{dir.file("out.txt")};
  options.quiet = true;
  options.part = part;
  PatternOutput output;
  output.open(options.output_name, {});
  const Listing listing = list_patterns(graph, bounds, threads, output, &options);
  output.finish();
  return {read_file(options.output_name), listing.lines, trimmed(listing.by_size), ""};
}

TEST(Parts, CisPartsJoinToTheWholeListing) {
  std::mt19937 random(8128);
  for (int trial = 0; trial < trials(60); ++trial) {
    const bool bounded = trial % 3 == 2;
    const EdgeVector edges =
        bounded ? random_simple_graph(random, 60, 0.08) : random_simple_graph(random, 13);
    const SizeBounds bounds = bounded ? SizeBounds{2, 4} : trial % 3 == 1 ? SizeBounds{3, 7} : SizeBounds{};
    const EdgeList list = edges_of(edge_text(edges));
    const AdjacencyList graph = build_graph(list, list.max_node);
    const Lines whole = list_cis(graph, bounds, 1, std::nullopt);
    // N from 1 to 8, and now and then more parts than patterns.
    const std::uint32_t parts =
        trial % 9 == 8 ? std::uint32_t(whole.count + 3) : 1 + std::uint32_t(trial % 8);
    const unsigned threads = 1 + unsigned(trial % 3);
    SCOPED_TRACE(std::to_string(parts) + " parts, " + std::to_string(threads) + " threads\n" +
                 edge_text(edges));
    Lines joined;
    for (std::uint32_t i = 1; i <= parts; ++i)
      joined.add(list_cis(graph, bounds, threads, PartChoice{i, parts}));
    ASSERT_EQ(joined.text, whole.text);
    ASSERT_EQ(joined.count, whole.count);
    ASSERT_EQ(trimmed(joined.by_size), whole.by_size);
  }
}

// A random attributed graph: rows of 0/1 attributes, and edges.
struct Attributed {
  AttributeTable table;
  std::vector<Edge> edges;
  McsThresholds thresholds;
};

Attributed random_attributed(std::mt19937& random) {
  auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  const int nodes = uniform(1, 24);
  const int attributes = uniform(1, 30);
  const int percent = uniform(40, 95);
  std::vector<std::vector<int>> rows(static_cast<std::size_t>(nodes));
  for (auto& row : rows) {
    for (int j = 0; j < attributes; ++j) row.push_back(uniform(1, 100) <= percent ? 1 : 0);
  }
  Attributed g{attribute_table(rows), {}, McsThresholds{uniform(0, 5), uniform(-1, 3)}};
  for (int i = uniform(0, 2 * nodes); i > 0; --i)
    g.edges.push_back(Edge{uniform(1, nodes), uniform(1, nodes)});
  return g;
}

Lines mine_mcs(const Attributed& g, unsigned threads, std::optional<PartChoice> part) {
  TempDir dir;
  RunOptions options{dir.file("out.txt")};
  options.quiet = true;
  options.threads = threads;
  options.part = part;
  options.by_size = true;
  AttributedMiner miner(g.table, g.edges, g.thresholds, options);
  Lines lines;
  lines.count = miner.enumerate();
  lines.text = read_file(options.output_name);
  lines.size_lines = miner.reported_by_size().lines();
  return lines;
}

TEST(Parts, McsPartsJoinToTheWholeRun) {
  std::mt19937 random(6174);
  for (int trial = 0; trial < trials(60); ++trial) {
    const Attributed g = random_attributed(random);
    const Lines whole = mine_mcs(g, 1, std::nullopt);
    const std::uint32_t parts =
        trial % 9 == 8 ? std::uint32_t(whole.count + 3) : 1 + std::uint32_t(trial % 8);
    const unsigned threads = 1 + unsigned(trial % 3);
    std::string rows;
    for (std::int32_t k = 1; k <= g.table.rows; ++k) rows += std::to_string(g.table.ones(k)) + " ";
    std::string edges;
    for (const Edge& e : g.edges) edges += std::to_string(e.first) + "-" + std::to_string(e.second) + " ";
    SCOPED_TRACE("trial " + std::to_string(trial) + ": " + std::to_string(parts) + " parts, " +
                 std::to_string(threads) + " threads; min_sup " + std::to_string(g.thresholds.min_sup) +
                 ", min_graph_size " + std::to_string(g.thresholds.min_graph_size) +
                 "\nattributes per node: " + rows + "\nedges: " + edges);
    Lines joined;
    for (std::uint32_t i = 1; i <= parts; ++i) joined.add(mine_mcs(g, threads, PartChoice{i, parts}));
    ASSERT_EQ(joined.text, whole.text);
    ASSERT_EQ(joined.count, whole.count);
    ASSERT_EQ(joined.size_lines, added_counts({whole.size_lines}));
  }
}

bool same_pieces(const std::vector<PartPieces>& a, const std::vector<PartPieces>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (a[k].estimate != b[k].estimate || a[k].runs.size() != b[k].runs.size()) return false;
    for (std::size_t r = 0; r < a[k].runs.size(); ++r) {
      const PartPieces::Run &x = a[k].runs[r], &y = b[k].runs[r];
      if (x.first_root != y.first_root || x.end_root != y.end_root || x.piece.root != y.piece.root ||
          x.piece.path != y.piece.path || x.piece.first_child != y.piece.first_child ||
          x.piece.last_child != y.piece.last_child || x.piece.own_line != y.piece.own_line)
        return false;
    }
  }
  return true;
}

TEST(Parts, ThePlanDependsOnTheSearchAndTheNumberOfPartsAlone) {
  const EdgeList list = edges_of(grid(4, 5));
  const AdjacencyList graph = build_graph(list, list.max_node);
  std::vector<std::int32_t> roots;
  for (std::int32_t u = 1; u < graph.node_slots(); ++u) roots.push_back(u);
  for (const std::uint32_t parts : {1u, 3u, 8u, 100u}) {
    SCOPED_TRACE(std::to_string(parts) + " parts");
    ListingShape first(graph, {});
    ListingShape second(graph, {});
    PlanFigures figures, again;
    const std::vector<PartPieces> planned = plan_parts(first, roots, parts, &figures);
    ASSERT_EQ(planned.size(), parts);
    EXPECT_TRUE(same_pieces(planned, plan_parts(second, roots, parts, &again)));
    EXPECT_EQ(again.samplings, figures.samplings);
    EXPECT_EQ(again.sampled, figures.sampled);
    EXPECT_EQ(again.steps, figures.steps);
    EXPECT_GE(figures.samplings, 1u);
    EXPECT_TRUE(same_pieces(planned, plan_parts(first, roots, parts)));  // a shape used before
  }
  // And the parts are even by the estimate: none above twice a part's share of the whole.
  ListingShape shape(graph, {});
  const std::vector<PartPieces> planned = plan_parts(shape, roots, 8);
  std::uint64_t total = 0;
  for (const PartPieces& part : planned) total += part.estimate;
  for (const PartPieces& part : planned) EXPECT_LE(part.estimate, total / 4);
}

TEST(Parts, ThreadsChangeNoPartsLines) {
  const EdgeList list = edges_of(grid(4, 4));
  const AdjacencyList graph = build_graph(list, list.max_node);
  for (std::uint32_t i = 1; i <= 5; ++i) {
    const Lines one = list_cis(graph, {}, 1, PartChoice{i, 5});
    EXPECT_EQ(list_cis(graph, {}, 3, PartChoice{i, 5}).text, one.text);
    EXPECT_EQ(list_cis(graph, {}, 1, PartChoice{i, 5}).text, one.text);
  }
}

// The count line of a run, and its lines by size.
std::string counts_of(const RunResult& run) {
  EXPECT_EQ(run.status, 0) << run.err;
  return run.out;
}

// Through the binary: the files and count lines of the parts against the whole run's.
TEST(Parts, TheBinaryJoinsPartsInEveryMode) {
  TempDir dir;
  const std::string examples = std::string(QUARN_SOURCE_DIR) + "/examples/";
  struct Case {
    std::vector<std::string> args;  // before OUTPUT_FILE
    std::vector<std::string> options;
    std::uint32_t parts;
  };
  const Case cases[] = {
      {{"CIS", examples + "karate.txt"}, {"--max-size", "4", "--by-size", "--threads", "2"}, 4},
      {{"CIS", examples + "grid4x4.txt"}, {"--min-size", "3", "--threads", "1"}, 7},
      {{"CIS", examples + "cycle.txt"}, {"--by-size"}, 16},  // more parts than its 13 patterns
      {{"MCS", examples + "mcs-graph.txt", examples + "mcs-attributes.txt", "1", "0"}, {"--by-size"}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + ", " + std::to_string(c.parts) + " parts");
    auto run = [&](const std::string& output, std::uint32_t part) {
      std::vector<std::string> args = c.args;
      if (!output.empty()) args.push_back(output);
      args.insert(args.end(), c.options.begin(), c.options.end());
      if (part > 0) args.insert(args.end(), {"--part", std::to_string(part) + "/" + std::to_string(c.parts)});
      return run_quarn(args);
    };
    const std::string whole_counts = counts_of(run(dir.file("whole.txt"), 0));
    std::string joined;
    std::vector<std::string> part_counts, count_only;
    for (std::uint32_t i = 1; i <= c.parts; ++i) {
      part_counts.push_back(counts_of(run(dir.file("part.txt"), i)));
      joined += read_file(dir.file("part.txt"));
      // Count-only (CIS: the listing search, writing nothing) counts what the part would list.
      count_only.push_back(counts_of(run("", i)));
      EXPECT_EQ(count_only.back(), part_counts.back());
    }
    EXPECT_EQ(joined, read_file(dir.file("whole.txt")));
    EXPECT_EQ(added_counts(part_counts), whole_counts);
    EXPECT_EQ(counts_of(run("", 0)), whole_counts);  // the count-only road of the whole run agrees
  }
}

TEST(Parts, InvalidPartsAreOneErrorAndNothingIsWritten) {
  TempDir dir;
  write_file(dir.file("g.txt"), "1 2\n");
  for (const std::string value : {"0/4", "5/4", "a/b", "1/0", "", "3", "1/4/2", "+1/4", "1/10001"}) {
    SCOPED_TRACE(value);
    const RunResult run = run_quarn({"CIS", dir.file("g.txt"), dir.file("out.txt"), "--part", value});
    EXPECT_EQ(run.err, "quarn: --part expects I/N, the I-th of N parts, with 1 <= I <= N <= 10000, got \"" +
                           value + "\"\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(std::ifstream(dir.file("out.txt")).good());
  }
  const RunResult missing = run_quarn({"CIS", dir.file("g.txt"), "--part"});
  EXPECT_EQ(missing.err, "quarn: --part expects a value: --part I/N\n");
  EXPECT_EQ(missing.status, 1);
}

}  // namespace
