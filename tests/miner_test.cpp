// CIS enumeration: worked examples, closed forms, a brute-force oracle, and a byte-for-byte comparison
// with a plain recursive version of the search.
#include "Miner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <map>
#include <numeric>
#include <random>
#include <sstream>

#include "graph_families.h"
#include "reference_cis.h"
#include "test_support.h"

namespace {

// Runs the miner on an edge-list text, patterns to a file.
Enumeration enumerate_text(const std::string& text) {
  TempDir dir;
  Enumeration result;
  {
    Miner miner(edges_of(text), "g.txt", RunOptions{dir.file("out.txt")});
    result.count = miner.enumerate();
  }
  result.lines = read_file(dir.file("out.txt"));
  return result;
}

// Every connected node set of the graph by brute force, each as its expected line: the smallest node,
// then the others by distance from it inside the set, equal distances by number.
std::vector<std::string> brute_force_lines(const EdgeVector& edges) {
  int n = 0;
  for (const auto& [u, v] : edges) n = std::max({n, u, v});
  std::vector<std::uint32_t> adjacent(std::size_t(n + 1), 0);
  for (const auto& [u, v] : edges) {
    if (u == 0 || v == 0 || u == v) continue;
    adjacent[u] |= 1u << v;
    adjacent[v] |= 1u << u;
  }
  std::vector<std::string> lines;
  for (std::uint32_t set = 2; set < (2u << n); set += 2) {  // bit 0 is node 0, never in a pattern
    const int root = std::countr_zero(set);
    std::vector<int> distance(std::size_t(n + 1), -1);
    std::vector<int> order{root};
    distance[root] = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
      for (int w = 1; w <= n; ++w) {
        if ((set >> w & 1u) && (adjacent[order[i]] >> w & 1u) && distance[w] < 0) {
          distance[w] = distance[order[i]] + 1;
          order.push_back(w);
        }
      }
    }
    if (int(order.size()) != std::popcount(set)) continue;
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return std::pair(distance[a], a) < std::pair(distance[b], b); });
    std::string line;
    for (int node : order) line += std::to_string(node) + " ";
    lines.push_back(line);
  }
  return lines;
}

TEST(Cis, WorkedExamples) {
  struct Case {
    std::string edges;
    std::string lines;
  };
  const Case cases[] = {
      {"1 3\n1 2\n2 4\n3 4\n",
       "1 \n1 3 \n1 3 4 \n1 2 \n1 2 3 \n1 2 3 4 \n1 2 4 \n2 \n2 4 \n2 4 3 \n3 \n3 4 \n4 \n"},
      {"2 5\n", "1 \n2 \n2 5 \n3 \n4 \n5 \n"},
      {"1 2\n2 3\n", "1 \n1 2 \n1 2 3 \n2 \n2 3 \n3 \n"},
      {"3 1\n1 2\n", "1 \n1 3 \n1 2 \n1 2 3 \n2 \n3 \n"},
      {"0 1\n", "1 \n"},
      {"0 0\n", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.edges);
    const Enumeration result = enumerate_text(c.edges);
    EXPECT_EQ(result.lines, c.lines);
    EXPECT_EQ(result.count, split_lines(c.lines).size());
  }
}

TEST(Cis, MatchesBruteForceOnRandomGraphs) {
  std::mt19937 random(20261208);
  for (int trial = 0; trial < trials(300); ++trial) {
    const EdgeVector edges = random_simple_graph(random, 12);
    SCOPED_TRACE(edge_text(edges));
    const Enumeration result = enumerate_text(edge_text(edges));
    std::vector<std::string> got = split_lines(result.lines);
    std::vector<std::string> expected = brute_force_lines(edges);
    EXPECT_EQ(result.count, expected.size());
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(got, expected);  // a duplicate or a wrongly ordered line fails here

    EdgeVector shuffled = edges;
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    for (auto& edge : shuffled) std::swap(edge.first, edge.second);
    std::vector<std::string> again = split_lines(enumerate_text(edge_text(shuffled)).lines);
    std::sort(again.begin(), again.end());
    ASSERT_EQ(again, expected);
  }
}

TEST(Cis, SameBytesAsThePlainSearch) {
  std::mt19937 random(77);
  for (int trial = 0; trial < trials(400); ++trial) {
    // Larger sparse graphs give deeper patterns and longer candidate lists.
    const EdgeVector edges =
        trial % 4 != 3 ? random_simple_graph(random, 12) : random_simple_graph(random, 24, 0.12);
    SCOPED_TRACE(edge_text(edges));
    const Enumeration expected = PlainMiner(edges).run();
    const Enumeration got = enumerate_text(edge_text(edges));
    ASSERT_EQ(got.lines, expected.lines);
    ASSERT_EQ(got.count, expected.count);
  }
}

TEST(Cis, RepeatedEdgesAndSelfLoopsCollapse) {
  std::mt19937 random(5);
  for (int trial = 0; trial < trials(200); ++trial) {
    const EdgeVector edges = random_simple_graph(random, 10);
    SCOPED_TRACE(edge_text(edges));
    // Repeat lines in either orientation right after their first appearance or later, and add
    // self-loops: the simple graph keeps its neighbour order, so the bytes must not change.
    EdgeVector noisy;
    for (const auto& edge : edges) {
      noisy.push_back(edge);
      if (random() % 3 == 0) noisy.emplace_back(edge.second, edge.first);
      if (random() % 5 == 0) noisy.emplace_back(edge.first, edge.first);
    }
    for (std::size_t i = 0; i < edges.size(); i += 2) noisy.push_back(edges[i]);
    const Enumeration expected = PlainMiner(edges).run();
    const Enumeration got = enumerate_text(edge_text(noisy));
    ASSERT_EQ(got.lines, expected.lines);
    ASSERT_EQ(got.count, expected.count);
  }
}

// The memory check before the search must not promise less than the run takes: a run's peak may
// exceed the check's figure only by what every process holds (the program, its libraries, the
// read and write buffers).
TEST(CisLimits, TheMemoryCheckCoversWhatTheRunTakes) {
#ifdef QUARN_SANITIZED
  GTEST_SKIP() << "the sanitizers' own memory would dwarf the figures";
#endif
  constexpr int kPairs = 1'000'000;  // 2,000,000 nodes in pairs: few patterns, large tables
  std::string text;
  for (int u = 1; u < 2 * kPairs; u += 2) text += std::to_string(u) + " " + std::to_string(u + 1) + "\n";
  TempDir dir;
  write_file(dir.file("g.txt"), text);
  const EdgeList edges = edges_of(text);
  constexpr std::uint64_t kEveryProcess = 24 << 20;
  struct Case {
    bool counting;
    unsigned threads;
  };
  for (const Case c : {Case{true, 1}, Case{false, 1}, Case{false, 3}}) {
    SCOPED_TRACE((c.counting ? "count only, " : "listing, ") + std::to_string(c.threads) + " threads");
    const Miner::MemoryNeed need = Miner::memory_needed(edges, c.counting, c.threads);
    std::vector<std::string> args{"CIS", dir.file("g.txt"), "--threads", std::to_string(c.threads)};
    if (!c.counting) args.emplace_back("/dev/null");
    const RunResult run = run_quarn(args);
    EXPECT_EQ(run.out, "Patterns: " + std::to_string(3 * kPairs) + "\n");
    EXPECT_LE(run.peak_bytes, need.node_bytes + need.other_bytes + kEveryProcess);
  }
}

// A line's size: the node numbers on it, each followed by a space.
int size_of(std::string_view line) {
  return int(std::count(line.begin(), line.end(), ' '));
}

// The lines of a listing, each without its line end.
std::vector<std::string_view> lines_of(const std::string& text) {
  std::vector<std::string_view> lines;
  for (std::size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
    lines.push_back(std::string_view(text).substr(begin, end - begin));
  }
  return lines;
}

struct BoundedListing {
  std::string lines;
  std::uint64_t count = 0;
  std::string by_size;  // the tally's lines
};

BoundedListing enumerate_within(const std::string& text, int least, int most) {
  TempDir dir;
  RunOptions options{dir.file("out.txt")};
  options.min_size = least;
  options.max_size = most;
  BoundedListing result;
  {
    Miner miner(edges_of(text), "g.txt", options);
    result.count = miner.enumerate();
    result.by_size = miner.listed_by_size().lines();
  }
  result.lines = read_file(dir.file("out.txt"));
  return result;
}

// The lines of a listing within size bounds, in their order, and their tally by size.
BoundedListing expected_within(const std::vector<std::string_view>& lines, int least, int most) {
  BoundedListing expected;
  std::map<int, std::uint64_t> by_size;
  for (const std::string_view line : lines) {
    const int size = size_of(line);
    if (size < least || size > most) continue;
    expected.lines += line;
    expected.lines += '\n';
    ++expected.count;
    ++by_size[size];
  }
  for (const auto& [size, count] : by_size) {
    expected.by_size += "Size " + std::to_string(size) + ": " + std::to_string(count) + "\n";
  }
  return expected;
}

TEST(Cis, SizeBoundsOnTheWorkedExample) {
  struct Case {
    int least;
    int most;
    std::string lines;
    std::string by_size;
  };
  const Case cases[] = {
      {1, 1, "1 \n2 \n3 \n4 \n", "Size 1: 4\n"},
      {2, 3, "1 3 \n1 3 4 \n1 2 \n1 2 3 \n1 2 4 \n2 4 \n2 4 3 \n3 4 \n", "Size 2: 4\nSize 3: 4\n"},
      {4, 4, "1 2 3 4 \n", "Size 4: 1\n"},
      {3, 9, "1 3 4 \n1 2 3 \n1 2 3 4 \n1 2 4 \n2 4 3 \n", "Size 3: 4\nSize 4: 1\n"},
      {5, 9, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.least) + " to " + std::to_string(c.most));
    const BoundedListing result = enumerate_within("1 3\n1 2\n2 4\n3 4\n", c.least, c.most);
    EXPECT_EQ(result.lines, c.lines);
    EXPECT_EQ(result.count, split_lines(c.lines).size());
    EXPECT_EQ(result.by_size, c.by_size);
  }
}

TEST(Cis, SizeBoundsKeepTheLinesOfTheFullListingInOrder) {
  std::mt19937 random(1208);
  for (int trial = 0; trial < trials(400); ++trial) {
    const EdgeVector edges =
        trial % 8 != 7 ? random_simple_graph(random, 12) : random_simple_graph(random, 26, 0.12);
    SCOPED_TRACE(edge_text(edges));
    const std::string listing = PlainMiner(edges).run().lines;
    const std::vector<std::string_view> full = lines_of(listing);
    int largest = 1;
    for (const std::string_view line : full) largest = std::max(largest, size_of(line));
    std::uniform_int_distribution<int> size(1, largest + 1);
    int least = size(random);
    int most = trial % 3 == 0 ? least : size(random);  // now and then one size alone
    if (least > most) std::swap(least, most);
    SCOPED_TRACE(std::to_string(least) + " to " + std::to_string(most));
    const BoundedListing expected = expected_within(full, least, most);
    const BoundedListing got = enumerate_within(edge_text(edges), least, most);
    ASSERT_EQ(got.lines, expected.lines);
    ASSERT_EQ(got.count, expected.count);
    ASSERT_EQ(got.by_size, expected.by_size);
  }
}

}  // namespace
