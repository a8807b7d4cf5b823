// Neighbour lists from edges: order of first appearance, no self-loops, no repeats.
#include "Graph.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::vector<std::int32_t>> lists_of(const AdjacencyList& graph) {
  std::vector<std::vector<std::int32_t>> lists;
  for (std::int32_t u = 0; u < graph.node_slots(); ++u) {
    lists.emplace_back(graph.of(u).begin(), graph.of(u).end());
  }
  return lists;
}

TEST(BuildSimpleGraph, KeepsFirstAppearanceOrderWithoutLoopsOrRepeats) {
  using Lists = std::vector<std::vector<std::int32_t>>;
  EXPECT_EQ(lists_of(build_simple_graph({{2, 5}}, 5)), (Lists{{}, {}, {5}, {}, {}, {2}}));
  EXPECT_EQ(lists_of(build_simple_graph({{3, 2}, {2, 1}}, 3)), (Lists{{}, {2}, {3, 1}, {2}}));
  EXPECT_EQ(lists_of(build_simple_graph({{1, 2}, {2, 2}, {2, 1}, {3, 1}, {1, 2}, {0, 3}}, 3)),
            (Lists{{3}, {2, 3}, {1}, {1, 0}}));
  const std::uint8_t keep[] = {1, 0, 1};
  EXPECT_EQ(lists_of(build_simple_graph({{1, 2}, {2, 3}, {3, 1}}, 3, keep)), (Lists{{}, {2, 3}, {1}, {1}}));
  EXPECT_EQ(build_simple_graph({}, -1).node_slots(), 0);
}

}  // namespace
