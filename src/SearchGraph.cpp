#include "SearchGraph.h"

#include <algorithm>

namespace {

std::span<const std::int32_t> neighbours_of(const AdjacencyList& graph, std::size_t u) {
  return std::int64_t(u) < graph.node_slots() ? graph.of(std::int32_t(u)) : std::span<const std::int32_t>{};
}

// The position of every node's block, and the total size, as the last entry.
std::vector<std::uint64_t> block_positions(const AdjacencyList& graph, std::size_t slots,
                                           std::size_t stride) {
  std::vector<std::uint64_t> positions(slots + 1);
  for (std::size_t u = 0; u < slots; ++u)
    positions[u + 1] = positions[u] + 1 + neighbours_of(graph, u).size() * stride;
  return positions;
}

}  // namespace

Linkage linkage_of(const AdjacencyList& graph) {
  Linkage linkage;
  for (std::int64_t u = 0; u < graph.node_slots(); ++u) {
    const std::size_t degree = graph.of(std::int32_t(u)).size();
    if (degree != 0) ++linkage.linked_nodes;
    linkage.max_degree = std::max(linkage.max_degree, degree);
  }
  return linkage;
}

std::size_t SearchGraph::copied_words_for(const AttributeTable& table, RowLayout layout) {
  const bool copied = layout == RowLayout::copied || (layout == RowLayout::automatic && copies_pay(table));
  return copied ? table.words_per_row : 0;
}

std::uint64_t SearchGraph::bytes_needed(const AdjacencyList& graph, const AttributeTable& table,
                                        RowLayout layout) {
  const std::uint64_t slots = std::uint64_t(table.rows) + 1;
  const std::uint64_t entries = graph.neighbours.size();
  return (slots + entries * (kHeader + copied_words_for(table, layout))) * sizeof(std::uint32_t) +
         (slots + 1) * sizeof(std::uint64_t);
}

SearchGraph::SearchGraph(const AdjacencyList& graph, const AttributeTable& table, std::int32_t support,
                         RowLayout layout)
    : attributes(table),
      min_sup(support),
      copied_words_(copied_words_for(table, layout)),
      linkage_(linkage_of(graph)),
      blocks_of(block_positions(graph, std::size_t(table.rows) + 1, stride())),
      blocks(blocks_of.back()) {
  const std::size_t slots = std::size_t(table.rows) + 1;
  auto neighbours = [&](std::size_t u) { return neighbours_of(graph, u); };
  for (std::size_t u = 0; u < slots; ++u) {
    std::uint32_t* out = blocks.data() + blocks_of[u];
    *out++ = std::uint32_t(neighbours(u).size());
    for (const std::int32_t w : neighbours(u)) {
      const std::uint64_t block = blocks_of[std::size_t(w)];
      out[0] = std::uint32_t(w);
      out[1] = std::uint32_t(block);
      out[2] = std::uint32_t(block >> 32);
      const Words row = table.row(w);
      std::copy_n(row.begin(), copied_words_, out + kHeader);
      out += stride();
    }
  }
}
