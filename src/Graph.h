// The graph as the miners see it: the edges of an edge-list file, and neighbour lists built from
// them in one contiguous array.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct Edge {
  std::int32_t first;
  std::int32_t second;
};

// The edges of an edge-list file in file order, exactly as the lines give them.
struct EdgeList {
  std::vector<Edge> edges;
  std::int32_t max_node = -1;      // the largest number on any line; -1 without edges
  std::int64_t max_node_line = 0;  // the first line that names max_node
};

// Neighbour lists of a graph in one contiguous array: the neighbours of node u are
// neighbours[offsets[u]] to neighbours[offsets[u + 1] - 1], in the order the edge lines gave them.
struct AdjacencyList {
  std::vector<std::size_t> offsets;  // one more than the number of node slots
  std::vector<std::int32_t> neighbours;

  std::int64_t node_slots() const { return offsets.empty() ? 0 : std::int64_t(offsets.size()) - 1; }
  std::span<const std::int32_t> of(std::int32_t node) const {
    const auto u = std::size_t(node);
    return {neighbours.data() + offsets[u], neighbours.data() + offsets[u + 1]};
  }
};

// Builds neighbour lists for the nodes 0 to max_node. Each edge (u, v) appends v to the list of u and
// u to the list of v, in edge order; self-loops and repeated edges (in either orientation) are
// dropped, so every list holds each neighbour once, in the order of its first appearance. When keep
// is not empty, edge i enters the graph only if keep[i] is non-zero.
AdjacencyList build_simple_graph(const std::vector<Edge>& edges, std::int32_t max_node,
                                 std::span<const std::uint8_t> keep = {});

// Fills component with the nodes connected to first (itself included) that placed does not mark yet,
// in order of discovery, and marks them. Edges to node 0 join nothing: node 0 is never in a pattern.
void gather_component(const AdjacencyList& graph, std::int32_t first, std::vector<std::uint8_t>& placed,
                      std::vector<std::int32_t>& component);
