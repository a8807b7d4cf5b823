// Orders for the frontier count: narrow on the families whose width is known, every node once, and
// given up when too wide.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "FrontierCount.h"
#include "FrontierOrder.h"
#include "Miner.h"
#include "graph_families.h"
#include "test_support.h"

namespace {

TEST(FrontierOrder, StaysNarrowOrGivesUp) {
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
    const EdgeList edges = edges_of(c.edges);
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

}  // namespace
