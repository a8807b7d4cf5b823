// Counting without listing: the dynamic program over a frontier and the counting search must give
// the closed forms, the published counts and each other's numbers, and the listing's.
#include <gtest/gtest.h>

#include <optional>
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

// Runs with size bounds (0 for none) and counts by size.
RunOptions sized(int least, int most) {
  RunOptions options;
  if (least != 0) options.min_size = least;
  if (most != 0) options.max_size = most;
  options.by_size = true;
  return options;
}

std::string size_lines(const std::string& text, Road road, int least = 0, int most = 0) {
  Miner miner(edges_of(text), "g.txt", sized(least, most));
  return miner.count_sizes(road).lines();
}

std::string bounded_count(const std::string& text, Road road, int least, int most) {
  RunOptions options = sized(least, most);
  options.by_size = false;
  return Miner(edges_of(text), "g.txt", options).count(road);
}

struct Listed {
  std::string lines;  // by size
  std::string count;
};

Listed listed_by_size(const std::string& text, int least = 0, int most = 0) {
  Miner miner(edges_of(text), "g.txt", sized(least, most));
  const std::uint64_t count = miner.enumerate();
  return {miner.listed_by_size().lines(), std::to_string(count)};
}

std::string binomial(unsigned long n, unsigned long k) {
  mpz_class value;
  mpz_bin_uiui(value.get_mpz_t(), n, k);
  return value.get_str();
}

// "Size K: COUNT" lines from the count of each size, sizes from 1.
std::string lines_of(const std::vector<std::string>& by_size, std::size_t least = 1) {
  std::string lines;
  for (std::size_t k = least; k < by_size.size(); ++k) {
    if (by_size[k] != "0") lines += "Size " + std::to_string(k) + ": " + by_size[k] + "\n";
  }
  return lines;
}

TEST(CountBySize, EveryRoadGivesTheListingsSizesOnRandomGraphs) {
  std::mt19937 random(4711);
  for (int trial = 0; trial < trials(500); ++trial) {
    const EdgeVector edges = random_simple_graph(random, 14, trial % 4 == 0 ? 1.0 : 0.35);
    const std::string text = edge_text(edges);
    SCOPED_TRACE(text);
    const Listed listed = listed_by_size(text);
    const std::string plain = count_text(text, Road::search);
    ASSERT_EQ(listed.count, plain);
    const int nodes =
        std::max(1, edges.empty() ? 1 : std::max_element(edges.begin(), edges.end(), [](auto a, auto b) {
                                          return std::max(a.first, a.second) < std::max(b.first, b.second);
                                        })->second);
    std::uniform_int_distribution<int> size(1, nodes + 2);
    int least = size(random);
    int most = size(random);
    if (least > most) std::swap(least, most);
    const Listed bounded = listed_by_size(text, least, most);
    const Listed at_least = listed_by_size(text, least, 0);
    const Listed at_most = listed_by_size(text, 0, most);
    for (const Road road : {Road::frontier, Road::search, Road::automatic}) {
      SCOPED_TRACE("road " + std::to_string(int(road)) + ", sizes " + std::to_string(least) + " to " +
                   std::to_string(most));
      ASSERT_EQ(size_lines(text, road), listed.lines);
      ASSERT_EQ(size_lines(text, road, least, most), bounded.lines);
      ASSERT_EQ(size_lines(text, road, least, 0), at_least.lines);
      ASSERT_EQ(size_lines(text, road, 0, most), at_most.lines);
      ASSERT_EQ(bounded_count(text, road, least, most), bounded.count);
      ASSERT_EQ(bounded_count(text, road, least, 0), at_least.count);  // the larger sizes in one column
      ASSERT_EQ(bounded_count(text, road, 0, most), at_most.count);
    }
  }
}

TEST(CountBySize, ClosedFormsAndLargeCounts) {
  enum Roads { all, frontier_only, search_only };
  struct Case {
    std::string name;
    std::string edges;
    std::vector<std::string> by_size;  // the count of each size, from size 0
    Roads roads;
  };
  std::vector<Case> cases;
  // path P_n: n - k + 1 of size k. Past 127 nodes the rows of counts leave 128 bits.
  std::vector<std::string> path_sizes{"0"};
  for (int k = 1; k <= 300; ++k) path_sizes.push_back(std::to_string(300 - k + 1));
  cases.push_back({"path 300", path(300), path_sizes, all});
  // cycle C_n: n of each size below n, one of n.
  std::vector<std::string> cycle_sizes(200, "200");
  cycle_sizes[0] = "0";
  cycle_sizes.push_back("1");
  cases.push_back({"cycle 200", path(200) + "200 1\n", cycle_sizes, all});
  // star with k leaves: k + 1 single nodes, then the centre with any j leaves: C(k, j).
  std::vector<std::string> star_sizes{"0", "201"};
  for (unsigned long j = 1; j <= 200; ++j) star_sizes.push_back(binomial(200, j));
  cases.push_back({"star 200", star(200), star_sizes, all});
  // K_n: C(n, k); too wide for the dynamic program.
  std::vector<std::string> complete_sizes{"0"};
  for (unsigned long k = 1; k <= 130; ++k) complete_sizes.push_back(binomial(130, k));
  cases.push_back({"complete 130", complete(130), complete_sizes, search_only});
  // A path, a triangle, the isolated nodes 6, 10, 11 and 12, and an edge to node 0.
  cases.push_back(
      {"components", path(5) + "7 8\n9 7\n8 9\n12 12\n0 3\n", {"0", "12", "7", "4", "2", "1"}, all});
  cases.push_back({"no node", "0 0\n", {"0"}, all});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string expected = lines_of(c.by_size);
    for (const Road road : {Road::frontier, Road::search, Road::automatic}) {
      if ((c.roads == frontier_only && road == Road::search) ||
          (c.roads == search_only && road != Road::search)) {
        continue;
      }
      SCOPED_TRACE(int(road));
      EXPECT_EQ(size_lines(c.edges, road), expected);
      // Bounds: one size, the smallest and largest ones, and a most size past every pattern.
      const int largest = int(c.by_size.size()) - 1;
      for (const auto& [least, most] :
           {std::pair{1, 1}, std::pair{2, 2}, std::pair{3, 5}, std::pair{largest, largest},
            std::pair{largest - 1, largest + 9}, std::pair{1, largest + 1}}) {
        if (least < 1) continue;
        SCOPED_TRACE(std::to_string(least) + " to " + std::to_string(most));
        std::vector<std::string> within = c.by_size;
        within.resize(std::min<std::size_t>(within.size(), std::size_t(most) + 1));
        EXPECT_EQ(size_lines(c.edges, road, least, most), lines_of(within, std::size_t(least)));
      }
    }
  }
}

TEST(CountBySize, BoundsAgreeWithTheSizesPastOneHundredTwentySevenNodes) {
  // The grid 4x40 (160 nodes) is counted by the dynamic program only: its counts by size must add
  // up to the plain count, and bounds must cut the same numbers out of them, whichever columns the
  // program carries (every size, up to a most size, or from a least size up in one column).
  const std::string text = grid(4, 40);
  Miner by_size_miner(edges_of(text), "g.txt", sized(0, 0));
  const SizeCounts sizes = by_size_miner.count_sizes(Road::frontier);
  EXPECT_EQ(sizes.total().get_str(), count_text(text, Road::frontier));
  for (const auto& [least, most] :
       {std::pair{1, 70}, std::pair{60, 0}, std::pair{150, 0}, std::pair{90, 120}}) {
    SCOPED_TRACE(std::to_string(least) + " to " + std::to_string(most));
    mpz_class expected;
    for (int k = least; k <= (most == 0 ? 160 : most); ++k) expected += sizes.of_size(std::uint32_t(k));
    EXPECT_EQ(bounded_count(text, Road::frontier, least, most), expected.get_str());
    EXPECT_EQ(bounded_count(text, Road::automatic, least, most), expected.get_str());
  }
  // A path too long for the search without a bound: up to 5 nodes it stops at 4 and counts the 5.
  const std::string long_path = path(3000);
  for (const Road road : {Road::frontier, Road::search, Road::automatic}) {
    EXPECT_EQ(size_lines(long_path, road, 0, 5),
              "Size 1: 3000\nSize 2: 2999\nSize 3: 2998\nSize 4: 2997\nSize 5: 2996\n");
  }
}

}  // namespace
