// Counting without listing: the dynamic program over a frontier and the counting search must give
// the closed forms, the published counts and each other's numbers, and the listing's.
#include <gtest/gtest.h>

#include <random>

#include "FrontierCount.h"
#include "Miner.h"
#include "graph_families.h"
#include "test_support.h"

namespace {

using Road = Miner::CountRoad;

std::string count_text(const std::string& text, Road road = Road::automatic) {
  Miner miner(edges_of(text), "g.txt", RunOptions{});
  return miner.count(road);
}

std::string count_by_listing(const std::string& text) {
  Miner miner(edges_of(text), "g.txt", RunOptions{});
  return std::to_string(miner.enumerate());
}

TEST(CountOnly, EveryRoadGivesTheClosedFormAndPublishedCounts) {
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
    const std::string counted = count_text(c.edges, Road::frontier);
    if (c.roads != no_frontier) {
      EXPECT_EQ(counted, c.count);
    }
    if (c.roads == all) {
      EXPECT_EQ(count_by_listing(c.edges), counted);
    }
    if (c.roads != frontier_only) {
      EXPECT_EQ(count_text(c.edges, Road::search), counted);
    }
    if (c.roads == frontier_only) {
      EXPECT_EQ(count_text(c.edges), counted);
    }
  }
  // Past 127 nodes the counts leave 128 bits; the same grid numbered across gets other states.
  const std::string long_grid = count_text(grid(4, 40), Road::frontier);
  EXPECT_GT(long_grid.size(), 39U);
  EXPECT_EQ(count_text(grid(40, 4), Road::frontier), long_grid);
}

TEST(CountOnly, FrontierCountAgreesWithTheSearchOnRandomGraphs) {
  std::mt19937 random(909);
  for (int trial = 0; trial < trials(2500); ++trial) {
    EdgeVector edges = random_simple_graph(random, 18, trial % 3 == 0 ? 1.0 : 0.3);
    if (trial % 5 == 0) edges.emplace_back(edges.front());
    if (trial % 7 == 0) edges.emplace_back(edges.back().first, edges.back().first);
    SCOPED_TRACE(edge_text(edges));
    const std::string searched = count_text(edge_text(edges), Road::search);
    ASSERT_EQ(count_text(edge_text(edges), Road::frontier), searched);
    if (trial % 10 == 0) {
      ASSERT_EQ(count_text(edge_text(edges)), searched);
      ASSERT_EQ(count_by_listing(edge_text(edges)), searched);
    }
  }
}

}  // namespace
