// CIS enumeration: worked examples, closed forms, a brute-force oracle, and a byte-for-byte comparison
// with a plain recursive version of the search.
#include "Miner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <numeric>
#include <random>

#include "reference_cis.h"
#include "test_support.h"

namespace {

using Road = Miner::CountRoad;

// Counts the patterns of an edge-list file without writing them, by the given road of the counting
// mode or, with by_enumeration, by the search that visits every pattern.
std::string count_file(const std::string& text, bool by_enumeration = false, Road road = Road::automatic) {
  TempDir dir;
  write_file(dir.file("g.txt"), text);
  std::string args[] = {"quarn", "CIS", dir.file("g.txt")};
  char* argv[] = {args[0].data(), args[1].data(), args[2].data()};
  Miner miner(3, argv);
  return by_enumeration ? std::to_string(miner.enumerate()) : miner.count(road);
}

// Runs the miner on an edge-list file, patterns to a file.
Enumeration enumerate_file(const std::string& text) {
  TempDir dir;
  write_file(dir.file("g.txt"), text);
  std::string args[] = {"quarn", "CIS", dir.file("g.txt"), dir.file("out.txt")};
  char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data()};
  Enumeration result;
  {
    Miner miner(4, argv);
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
    const Enumeration result = enumerate_file(c.edges);
    EXPECT_EQ(result.lines, c.lines);
    EXPECT_EQ(result.count, split_lines(c.lines).size());
  }
}

std::string path(int n, int first = 1) {
  std::string text;
  for (int i = first; i < first + n - 1; ++i) text += std::to_string(i) + " " + std::to_string(i + 1) + "\n";
  return text;
}

std::string complete_bipartite(int m, int n) {
  std::string text;
  for (int i = 1; i <= m; ++i) {
    for (int j = m + 1; j <= m + n; ++j) text += std::to_string(i) + " " + std::to_string(j) + "\n";
  }
  return text;
}

std::string grid(int rows, int columns) {
  std::string text;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      const int u = r * columns + c + 1;
      if (c + 1 < columns) text += std::to_string(u) + " " + std::to_string(u + 1) + "\n";
      if (r + 1 < rows) text += std::to_string(u) + " " + std::to_string(u + columns) + "\n";
    }
  }
  return text;
}

TEST(Cis, ClosedFormAndPublishedCounts) {
  auto complete = [](int n) {
    std::string text;
    for (int i = 1; i <= n; ++i) {
      for (int j = i + 1; j <= n; ++j) text += std::to_string(i) + " " + std::to_string(j) + "\n";
    }
    return text;
  };
  auto star = [](int leaves) { return complete_bipartite(1, leaves); };
  enum Roads { all, counting, frontier_only, no_frontier };
  struct Case {
    std::string name;
    std::string edges;
    std::string count;
    Roads roads;
  };
  const Case cases[] = {
      {"path 40", path(40), "820", all},                                 // n(n + 1) / 2
      {"cycle 25", path(25) + "25 1\n", "601", all},                     // n(n - 1) + 1
      {"complete 12", complete(12), "4095", all},                        // 2^n - 1
      {"star 10", star(10), "1034", all},                                // 2^k + k
      {"complete bipartite 3 4", complete_bipartite(3, 4), "112", all},  // (2^m - 1)(2^n - 1) + m + n
      // a path, a triangle, and the isolated nodes 6, 10, 11 and 12: 15 + 7 + 4
      {"two components and isolated nodes", path(5) + "7 8\n9 7\n8 9\n12 12\n", "26", all},
      {"grid 4x4", grid(4, 4), "11506", all},
      {"path 3000", path(3000), "4501500", counting},
      {"cycle 1000", path(1000) + "1000 1\n", "999001", counting},
      {"complete 16", complete(16), "65535", counting},
      {"complete bipartite 6 9", complete_bipartite(6, 9), "32208", counting},
      {"grid 5x5", grid(5, 5), "2301877", counting},
      {"complete 70", complete(70), "1180591620717411303423", no_frontier},  // too wide for states
      {"complete 130", complete(130), "1361129467683753853853498429727072845823", no_frontier},
      {"star 64", star(64), "18446744073709551680", counting},  // 2^64 + 64
      {"star 200", star(200), "1606938044258990275541962092341162602522202993782792835301576", frontier_only},
      {"grid 8x8", grid(8, 8), "51016818604894742", frontier_only},
      {"grid 9x9", grid(9, 9), "1980555831431088025753", frontier_only},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string counted = count_file(c.edges, false, Road::frontier);
    if (c.roads != no_frontier) {
      EXPECT_EQ(counted, c.count);
    }
    if (c.roads == all) {
      EXPECT_EQ(count_file(c.edges, true), counted);
    }
    if (c.roads != frontier_only) {
      EXPECT_EQ(count_file(c.edges, false, Road::search), counted);
    }
    if (c.roads == frontier_only) {
      EXPECT_EQ(count_file(c.edges), counted);
    }
  }
  // Past 127 nodes the counts leave 128 bits; the same grid numbered across gets other states.
  const std::string long_grid = count_file(grid(4, 40), false, Road::frontier);
  EXPECT_GT(long_grid.size(), 39U);
  EXPECT_EQ(count_file(grid(40, 4), false, Road::frontier), long_grid);
}

TEST(Cis, FrontierCountAgreesWithTheSearchOnRandomGraphs) {
  std::mt19937 random(909);
  for (int trial = 0; trial < 2500; ++trial) {
    EdgeVector edges = random_simple_graph(random, 18, trial % 3 == 0 ? 1.0 : 0.3);
    if (trial % 5 == 0) edges.emplace_back(edges.front());
    if (trial % 7 == 0) edges.emplace_back(edges.back().first, edges.back().first);
    SCOPED_TRACE(edge_text(edges));
    const std::string searched = count_file(edge_text(edges), false, Road::search);
    ASSERT_EQ(count_file(edge_text(edges), false, Road::frontier), searched);
    if (trial % 10 == 0) {
      ASSERT_EQ(count_file(edge_text(edges)), searched);
      ASSERT_EQ(count_file(edge_text(edges), true), searched);
    }
  }
}

std::string random_tree(int n) {
  std::mt19937 random(2024);
  std::string text;
  for (int v = 2; v <= n; ++v) {
    text +=
        std::to_string(std::uniform_int_distribution<int>(1, v - 1)(random)) + " " + std::to_string(v) + "\n";
  }
  return text;
}

TEST(Cis, FrontierOrdersStayNarrowOrGiveUp) {
  struct Case {
    std::string name;
    std::string edges;
    std::int32_t widest;
  };
  const Case cases[] = {
      {"path", path(500), 1},
      {"grid 6x30", grid(6, 30), 7},
      {"ladder 2x100", grid(2, 100), 3},
      {"complete bipartite 3 40", complete_bipartite(3, 40), 4},
      {"complete bipartite 30 30", complete_bipartite(30, 30), kMaxFrontierWidth + 1},
      {"random tree of 2000 nodes", random_tree(2000), 12},  // at most log2(n) + 1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir.file("g.txt"), c.edges);
    const EdgeList edges = read_edges(dir.file("g.txt"));
    const AdjacencyList graph = build_graph(edges, edges.max_node);
    std::vector<std::int32_t> nodes(std::size_t(edges.max_node));
    std::iota(nodes.begin(), nodes.end(), 1);
    FrontierCounter counter(graph);
    const FrontierOrder order = counter.choose_order(nodes);
    EXPECT_LE(order.width, c.widest);
    if (order.width > kMaxFrontierWidth) {
      EXPECT_TRUE(order.nodes.empty());
      continue;
    }
    std::vector<std::int32_t> sorted = order.nodes;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, nodes);
    // States that outgrow the memory budget give the count up rather than run out of memory.
    EXPECT_FALSE(counter.count(order, 1000).has_value());
  }
}

TEST(Cis, MatchesBruteForceOnRandomGraphs) {
  std::mt19937 random(20261208);
  for (int trial = 0; trial < 300; ++trial) {
    const EdgeVector edges = random_simple_graph(random, 12);
    SCOPED_TRACE(edge_text(edges));
    const Enumeration result = enumerate_file(edge_text(edges));
    std::vector<std::string> got = split_lines(result.lines);
    std::vector<std::string> expected = brute_force_lines(edges);
    EXPECT_EQ(result.count, expected.size());
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(got, expected);  // a duplicate or a wrongly ordered line fails here

    EdgeVector shuffled = edges;
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    for (auto& edge : shuffled) std::swap(edge.first, edge.second);
    std::vector<std::string> again = split_lines(enumerate_file(edge_text(shuffled)).lines);
    std::sort(again.begin(), again.end());
    ASSERT_EQ(again, expected);
  }
}

TEST(Cis, SameBytesAsThePlainSearch) {
  std::mt19937 random(77);
  for (int trial = 0; trial < 400; ++trial) {
    // Larger sparse graphs give deeper patterns and longer candidate lists.
    const EdgeVector edges =
        trial < 300 ? random_simple_graph(random, 12) : random_simple_graph(random, 30, 0.12);
    SCOPED_TRACE(edge_text(edges));
    const Enumeration expected = PlainMiner(edges).run();
    const Enumeration got = enumerate_file(edge_text(edges));
    ASSERT_EQ(got.lines, expected.lines);
    ASSERT_EQ(got.count, expected.count);
  }
}

TEST(Cis, RepeatedEdgesAndSelfLoopsCollapse) {
  std::mt19937 random(5);
  for (int trial = 0; trial < 200; ++trial) {
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
    const Enumeration got = enumerate_file(edge_text(noisy));
    ASSERT_EQ(got.lines, expected.lines);
    ASSERT_EQ(got.count, expected.count);
  }
}

}  // namespace
