// The counting search on several threads counts what it counts on one, by size and within bounds,
// however the work is split; and one that runs out of steps leaves its state as it found it.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "CountingSearch.h"
#include "Miner.h"
#include "SizeCounts.h"
#include "graph_families.h"
#include "test_support.h"

namespace {

struct Component {
  AdjacencyList graph;
  std::vector<std::int32_t> nodes;  // ascending
};

// The graph of an edge text and the nodes 1..N as one list (the tests use connected graphs, or
// count every node as a root of its own component).
Component component_of(const std::string& text) {
  const EdgeList edges = edges_of(text);
  Component c{build_graph(edges, edges.max_node), {}};
  for (std::int32_t u = 1; u <= edges.max_node; ++u) c.nodes.push_back(u);
  return c;
}

std::string counted(const Component& c, std::int32_t most, unsigned threads) {
  std::vector<std::unique_ptr<CountingState>> states;
  const auto largest = std::int64_t(c.nodes.size());
  if (most == SizeBounds::kNoMost) {
    PatternCount total(std::uint32_t(c.nodes.size()));
    if (threads == 1) {
      CountingState state(c.graph, largest);
      EXPECT_TRUE(count_component_patterns(state, c.nodes, most, UINT64_MAX, total));
    } else {
      count_component_patterns_on_threads(c.graph, largest, c.nodes, most, threads, states, total);
    }
    return total.value().get_str();
  }
  PatternCountBySize tally;
  if (threads == 1) {
    CountingState state(c.graph, largest);
    EXPECT_TRUE(count_component_patterns(state, c.nodes, most, UINT64_MAX, tally));
  } else {
    count_component_patterns_on_threads(c.graph, largest, c.nodes, most, threads, states, tally);
  }
  SizeCounts counts(SizeBounds{1, most}, largest, true);
  tally.add_to(counts);
  return counts.lines();
}

TEST(CountingSearch, AnyNumberOfThreadsCountsWhatOneCounts) {
  std::mt19937 random(31);
  for (int trial = 0; trial < trials(120); ++trial) {
    // Connected or not: the roots of other components are searched all the same.
    const EdgeVector edges =
        random_simple_graph(random, trial % 2 == 0 ? 26 : 60, trial % 2 == 0 ? 0.5 : 0.08);
    const Component c = component_of(edge_text(edges));
    // The sparse graphs have far too many patterns to count them all by the search.
    const std::int32_t most = trial % 4 == 0 ? SizeBounds::kNoMost : std::int32_t(2 + trial % 6);
    const unsigned threads = 2 + unsigned(trial % 6);
    SCOPED_TRACE(std::to_string(threads) + " threads, most " + std::to_string(most) + "\n" +
                 edge_text(edges));
    ASSERT_EQ(counted(c, most, threads), counted(c, most, 1));
  }
}

// A wheel: root 1 holds most of the patterns, so the other threads must split it to help.
TEST(CountingSearch, OneLargeRootIsSplitAndCountedOnce) {
  std::string wheel;
  for (int u = 2; u <= 40; ++u) {
    wheel += "1 " + std::to_string(u) + "\n" + std::to_string(u) + " " + std::to_string(u == 40 ? 2 : u + 1) +
             "\n";
  }
  const Component c = component_of(wheel);
  // 2^39 sets with the hub, and 39 * 38 + 1 arcs of the rim without it.
  EXPECT_EQ(counted(c, SizeBounds::kNoMost, 1), "549755815371");
  for (const unsigned threads : {2u, 3u, 8u})
    EXPECT_EQ(counted(c, SizeBounds::kNoMost, threads), "549755815371");
}

TEST(CountingSearch, RunningOutOfStepsLeavesTheStateAsItWas) {
  const Component c = component_of(grid(4, 5));
  CountingState state(c.graph, 20);
  PatternCount cut(20);
  EXPECT_FALSE(count_component_patterns(state, c.nodes, SizeBounds::kNoMost, 1000, cut));
  PatternCount whole(20);
  ASSERT_TRUE(count_component_patterns(state, c.nodes, SizeBounds::kNoMost, UINT64_MAX, whole));
  EXPECT_EQ(whole.value().get_str(), "116166");  // the 4x5 grid's connected sets
}

}  // namespace
