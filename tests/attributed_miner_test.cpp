// The MCS miner against a brute-force oracle: on random small attributed graphs the output must be
// exactly the maximal cohesive node sets, each once, whatever the output choice.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "AttributedMiner.h"
#include "reference_mcs.h"
#include "test_support.h"

namespace {

// A random attributed graph as the two input files give it.
struct Instance {
  int nodes = 0;
  int attributes = 0;
  std::vector<std::vector<int>> rows;  // rows[k] for node k; rows[0] and blank lines are empty
  std::vector<std::pair<int, int>> edges;
  int min_sup = 0;
  int min_graph_size = 0;

  std::string attribute_text() const {
    std::string text;
    for (int k = 1; k <= nodes; ++k) {
      for (const int value : rows[std::size_t(k)]) text += std::to_string(value) + " ";
      text += "\n";
    }
    return text;
  }
  std::string edge_text() const {
    std::string text;
    for (const auto& [u, v] : edges) text += std::to_string(u) + " " + std::to_string(v) + "\n";
    return text;
  }
  std::string describe() const {
    return "min_sup " + std::to_string(min_sup) + ", min_graph_size " + std::to_string(min_graph_size) +
           "\nattributes:\n" + attribute_text() + "edges:\n" + edge_text();
  }
};

Instance random_instance(std::mt19937& random) {
  auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  Instance instance;
  instance.nodes = uniform(1, 12);
  instance.attributes = uniform(1, 40);
  instance.min_sup = uniform(0, 3);
  instance.min_graph_size = uniform(-1, 4);
  const double density = std::uniform_real_distribution<double>(0.3, 0.95)(random);
  instance.rows.resize(std::size_t(instance.nodes) + 1);
  for (int k = 1; k <= instance.nodes; ++k) {
    if (uniform(0, 15) == 0) continue;  // a blank line: a node without attributes
    for (int j = 0; j < instance.attributes; ++j) {
      instance.rows[std::size_t(k)].push_back(std::bernoulli_distribution(density)(random) ? 1 : 0);
    }
  }
  const int edge_count = uniform(0, instance.nodes * 2);
  for (int i = 0; i < edge_count; ++i) {
    // Now and then node 0, a self-loop or a repeated edge, all of which change nothing.
    instance.edges.emplace_back(uniform(uniform(0, 20) == 0 ? 0 : 1, instance.nodes),
                                uniform(1, instance.nodes));
  }
  return instance;
}

// The lines the output must hold, sorted: every node set that is connected through kept edges,
// shares at least min_sup attributes, cannot take in any adjacent node without falling below
// min_sup, and has at least min_graph_size nodes.
std::vector<std::string> oracle(const Instance& g) {
  const int n = g.nodes;
  auto value = [&](int node, int j) {
    const auto& row = g.rows[std::size_t(node)];
    return row.empty() ? 0 : row[std::size_t(j)];
  };
  auto shared = [&](unsigned set, int extra) {
    int count = 0;
    for (int j = 0; j < g.attributes; ++j) {
      bool all = extra == 0 || value(extra, j) == 1;
      for (int u = 1; u <= n && all; ++u) all = !((set >> u) & 1u) || value(u, j) == 1;
      count += all ? 1 : 0;
    }
    return count;
  };
  std::vector<std::vector<bool>> kept(std::size_t(n) + 1, std::vector<bool>(std::size_t(n) + 1, false));
  for (const auto& [u, v] : g.edges) {
    if (u == 0 || v == 0 || u == v) continue;
    const unsigned pair = (1u << u) | (1u << v);
    if (shared(1u << u, 0) >= g.min_sup && shared(1u << v, 0) >= g.min_sup && shared(pair, 0) >= g.min_sup) {
      kept[std::size_t(u)][std::size_t(v)] = kept[std::size_t(v)][std::size_t(u)] = true;
    }
  }
  std::vector<std::string> lines;
  for (unsigned set = 2; set < (2u << n); set += 2) {
    const int size = std::popcount(set);
    if (g.min_graph_size < 0 || size < g.min_graph_size || shared(set, 0) < g.min_sup) continue;
    // Connected: grow from the smallest member through kept edges inside the set.
    unsigned reached = set & (~set + 1);
    for (bool grew = true; grew;) {
      grew = false;
      for (int u = 1; u <= n; ++u) {
        if (!((reached >> u) & 1u)) continue;
        for (int v = 1; v <= n; ++v) {
          if (((set & ~reached) >> v) & 1u && kept[std::size_t(u)][std::size_t(v)]) {
            reached |= 1u << v;
            grew = true;
          }
        }
      }
    }
    if (reached != set) continue;
    bool maximal = true;
    for (int w = 1; w <= n && maximal; ++w) {
      if ((set >> w) & 1u) continue;
      bool adjacent = false;
      for (int u = 1; u <= n; ++u)
        adjacent = adjacent || (((set >> u) & 1u) && kept[std::size_t(u)][std::size_t(w)]);
      maximal = !(adjacent && shared(set, w) >= g.min_sup);
    }
    if (!maximal) continue;
    std::string line;
    for (int u = 1; u <= n; ++u) {
      if ((set >> u) & 1u) line += std::to_string(u) + " ";
    }
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> sorted_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST(AttributedMiner, FindsExactlyTheMaximalCohesiveSetsOfRandomGraphs) {
  std::mt19937 random(2024);
  TempDir dir;
  const std::string graph = dir.file("g.txt");
  const std::string attributes = dir.file("a.txt");
  const std::string out = dir.file("out.txt");
  for (int trial = 0; trial < trials(150); ++trial) {
    const Instance g = random_instance(random);
    SCOPED_TRACE("trial " + std::to_string(trial) + "\n" + g.describe());
    write_file(graph, g.edge_text());
    write_file(attributes, g.attribute_text());
    const std::vector<std::string> expected = oracle(g);
    const std::string count_line = "Patterns: " + std::to_string(expected.size()) + "\n";
    const std::vector<std::string> args{"MCS", graph, attributes, std::to_string(g.min_sup),
                                        std::to_string(g.min_graph_size)};

    const RunResult counted = run_quarn(args);
    EXPECT_EQ(counted.out, count_line);
    EXPECT_EQ(counted.status, 0);

    std::vector<std::string> to_console = args;
    to_console.push_back("-");
    const RunResult console = run_quarn(to_console);
    ASSERT_GE(console.out.size(), count_line.size());
    const std::size_t lines_end = console.out.size() - count_line.size();
    EXPECT_EQ(console.out.substr(lines_end), count_line);
    EXPECT_EQ(sorted_lines(console.out.substr(0, lines_end)), expected);

    std::vector<std::string> to_file = args;
    to_file.push_back(out);
    const RunResult filed = run_quarn(to_file);
    EXPECT_EQ(filed.out, count_line);
    EXPECT_EQ(read_file(out), console.out.substr(0, lines_end));
    if (HasFailure()) break;
  }
}

AttributeTable table_of(const Instance& g) {
  return attribute_table({g.rows.begin() + 1, g.rows.end()});
}

// Graphs larger than the oracle can take (kept sparse, since the search grows exponentially with
// dense cohesive regions): the miner must write the same lines in the same order as
// the plain reference search, with rows copied on even trials and read from the table on odd ones.
TEST(AttributedMiner, WritesWhatTheReferenceSearchWritesLineForLine) {
  std::mt19937 random(31337);
  auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  TempDir dir;
  for (int trial = 0; trial < trials(300); ++trial) {
    Instance g = random_instance(random);
    g.nodes = uniform(1, 30);
    g.attributes = uniform(1, 70);
    g.min_sup = uniform(-1, 6);
    g.min_graph_size = uniform(-1, 3);
    const int percent = uniform(30, 95);
    g.rows.assign(std::size_t(g.nodes) + 1, {});
    for (int k = 1; k <= g.nodes; ++k) {
      if (uniform(0, 30) == 0) continue;
      for (int j = 0; j < g.attributes; ++j)
        g.rows[std::size_t(k)].push_back(uniform(1, 100) <= percent ? 1 : 0);
    }
    g.edges.clear();
    std::vector<Edge> edges;
    for (int i = uniform(0, 2 * g.nodes); i > 0; --i) {
      edges.push_back(Edge{uniform(uniform(0, 30) == 0 ? 0 : 1, g.nodes), uniform(1, g.nodes)});
      g.edges.emplace_back(edges.back().first, edges.back().second);
    }
    SCOPED_TRACE("trial " + std::to_string(trial) + "\n" + g.describe());
    const AttributeTable table = table_of(g);
    const std::string expected = reference_mcs_lines(table, edges, g.min_sup, g.min_graph_size);
    const RowLayout layout = trial % 2 == 0 ? RowLayout::copied : RowLayout::table;
    SCOPED_TRACE(layout == RowLayout::copied ? "rows copied" : "rows read from the table");
    RunOptions options{dir.file("out.txt")};
    options.threads = 1 + unsigned(trial % 4);
    SCOPED_TRACE(std::to_string(options.threads) + " threads");
    AttributedMiner miner(table, edges, McsThresholds{g.min_sup, g.min_graph_size}, options, layout);
    const std::uint64_t count = miner.enumerate();
    ASSERT_EQ(read_file(dir.file("out.txt")), expected);
    ASSERT_EQ(count, std::uint64_t(std::count(expected.begin(), expected.end(), '\n')));
  }
}

// A pattern far deeper than the process stack would allow recursion for: a path of 200,000 nodes
// that all share one attribute is one pattern.
TEST(AttributedMiner, SearchesAPatternOfAPathOfManyNodes) {
  constexpr int kNodes = 200000;
  AttributeTable table;
  table.rows = kNodes;
  table.attribute_count = 1;
  table.words_per_row = 1;
  table.words.assign(std::size_t(kNodes) + 1, 1);
  table.words[0] = 0;
  std::vector<Edge> edges;
  for (int u = 1; u < kNodes; ++u) edges.push_back(Edge{u, u + 1});
  AttributedMiner counter(table, edges, McsThresholds{1, kNodes}, RunOptions{});
  EXPECT_EQ(counter.enumerate(), 1u);
  TempDir dir;
  AttributedMiner writer(table, edges, McsThresholds{1, 1}, RunOptions{dir.file("out.txt")});
  EXPECT_EQ(writer.enumerate(), 1u);
  std::string expected;
  for (int u = 1; u <= kNodes; ++u) expected += std::to_string(u) + " ";
  EXPECT_EQ(read_file(dir.file("out.txt")), expected + "\n");
}

// A larger graph, where the searches of many roots run deep and threads take pieces of one another's:
// the lines must be those of one thread, in the same order.
TEST(AttributedMiner, AnyNumberOfThreadsWritesTheLinesOfOne) {
  std::mt19937 random(8080);
  auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  const int nodes = 3000;
  std::vector<std::vector<int>> rows(nodes, std::vector<int>(40, 0));
  for (auto& row : rows) {
    for (int j = 0; j < 8; ++j) row[std::size_t(j)] = 1;  // every node shares eight attributes...
    for (int j = 8; j < 40; ++j) row[std::size_t(j)] = uniform(0, 3) == 0 ? 1 : 0;  // ...and some others
  }
  std::vector<Edge> edges;
  for (int i = 0; i < 2 * nodes; ++i) edges.push_back(Edge{uniform(1, nodes), uniform(1, nodes)});
  const AttributeTable table = attribute_table(rows);
  TempDir dir;
  auto lines_with = [&](unsigned threads) {
    RunOptions options{dir.file("out.txt")};
    options.threads = threads;
    AttributedMiner miner(table, edges, McsThresholds{9, 2}, options);
    const std::uint64_t count = miner.enumerate();
    const std::string lines = read_file(dir.file("out.txt"));
    EXPECT_EQ(count, std::uint64_t(std::count(lines.begin(), lines.end(), '\n')));
    return lines;
  };
  const std::string one = lines_with(1);
  ASSERT_GT(one.size(), 10000u);
  for (const unsigned threads : {2u, 3u, 8u}) EXPECT_EQ(lines_with(threads), one) << threads << " threads";
}

}  // namespace
