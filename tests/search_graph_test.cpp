// The search graph of the MCS mode: which rows are copied next to the neighbours, and the marks.
#include <gtest/gtest.h>

#include <algorithm>

#include "AttributedMiner.h"
#include "SearchGraph.h"
#include "reference_mcs.h"

namespace {

using Nodes = std::vector<std::int32_t>;

// Rows are copied next to node numbers up to 8 words (256 attributes); wider ones are read from the
// table, whatever the graph.
TEST(SearchGraph, CopiesRowsOfUpToEightWords) {
  struct Case {
    int attributes;
    bool copied;
  };
  const Case cases[] = {{1, true}, {64, true}, {256, true}, {257, false}, {10000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.attributes) + " attributes");
    const int n = 20;
    std::vector<Edge> edges;
    for (int u = 1; u <= n; ++u) edges.push_back(Edge{u, u % n + 1});
    const AttributeTable table = attribute_table(
        std::vector<std::vector<int>>(std::size_t(n), std::vector<int>(std::size_t(c.attributes), 1)));
    const AdjacencyList graph = build_cohesive_graph(table, edges, 1);
    const SearchGraph search(graph, table, 1, RowLayout::automatic);
    EXPECT_EQ(search.copied_words(), c.copied ? table.words_per_row : 0);
    EXPECT_EQ(search.linkage().linked_nodes, std::size_t(n));
    EXPECT_EQ(search.linkage().max_degree, 2u);
    // The memory the check asks for is that of the layout chosen, and copies cost more.
    const RowLayout chosen = c.copied ? RowLayout::copied : RowLayout::table;
    EXPECT_EQ(SearchGraph::bytes_needed(graph, table, RowLayout::automatic),
              SearchGraph::bytes_needed(graph, table, chosen));
    EXPECT_GT(SearchGraph::bytes_needed(graph, table, RowLayout::copied),
              SearchGraph::bytes_needed(graph, table, RowLayout::table));
    // Every neighbour's row reads the same in the block as in the table.
    for (std::int32_t u = 1; u <= n; ++u) {
      const std::uint64_t block = search.block_of(u);
      const std::uint32_t* entry = search.entries(block);
      ASSERT_EQ(search.degree(block), 2u);
      for (std::uint32_t k = 0; k < 2; ++k, entry += search.stride()) {
        const Words row = table.row(std::int32_t(entry[0]));
        EXPECT_TRUE(std::equal(row.begin(), row.end(), search.entry_row(entry)));
      }
    }
  }
}

// The seen marks are bits packed 64 to a word: marks on either side of a word boundary stay apart.
TEST(NodeMarks, SetsAndClearsSingleNodesAcrossWords) {
  NodeMarks marks(200);
  const Nodes nodes{0, 1, 63, 64, 65, 127, 128, 199};
  for (const std::int32_t u : nodes) marks.set(u);
  for (std::int32_t u = 0; u < 200; ++u) {
    EXPECT_EQ(marks.test(u), std::count(nodes.begin(), nodes.end(), u) == 1) << u;
  }
  marks.reset(64);
  EXPECT_FALSE(marks.test(64));
  EXPECT_TRUE(marks.test(63));
  EXPECT_TRUE(marks.test(65));
}

}  // namespace
