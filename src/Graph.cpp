#include "Graph.h"

AdjacencyList build_simple_graph(const std::vector<Edge>& edges, std::int32_t max_node,
                                 std::span<const std::uint8_t> keep) {
  AdjacencyList graph;
  if (max_node < 0) return graph;
  const std::size_t slots = std::size_t(max_node) + 1;
  auto kept = [&](std::size_t i) {
    return (keep.empty() || keep[i] != 0) && edges[i].first != edges[i].second;
  };

  // Count, prefix-sum, then fill: ends[u] walks from the start of list u to its end, and is then
  // shifted back by one slot.
  std::vector<std::size_t>& ends = graph.offsets;
  ends.assign(slots + 1, 0);
  for (std::size_t i = 0; i < edges.size(); ++i) {
    if (!kept(i)) continue;
    ++ends[std::size_t(edges[i].first) + 1];
    ++ends[std::size_t(edges[i].second) + 1];
  }
  for (std::size_t u = 1; u <= slots; ++u) ends[u] += ends[u - 1];
  std::vector<std::int32_t>& neighbours = graph.neighbours;
  neighbours.resize(ends[slots]);
  for (std::size_t i = 0; i < edges.size(); ++i) {
    if (!kept(i)) continue;
    const Edge e = edges[i];
    neighbours[ends[std::size_t(e.first)]++] = e.second;
    neighbours[ends[std::size_t(e.second)]++] = e.first;
  }
  for (std::size_t u = slots; u > 0; --u) ends[u] = ends[u - 1];
  ends[0] = 0;

  // Drop repeated neighbours, keeping each first appearance, and close the gaps.
  std::vector<std::int32_t> seen_from(slots, -1);
  std::size_t write = 0;
  std::size_t read_begin = 0;
  for (std::size_t u = 0; u < slots; ++u) {
    const std::size_t read_end = ends[u + 1];
    ends[u] = write;
    for (std::size_t k = read_begin; k < read_end; ++k) {
      const std::int32_t x = neighbours[k];
      if (seen_from[std::size_t(x)] == std::int32_t(u)) continue;
      seen_from[std::size_t(x)] = std::int32_t(u);
      neighbours[write++] = x;
    }
    read_begin = read_end;
  }
  ends[slots] = write;
  if (write < neighbours.size()) {
    neighbours.resize(write);
    neighbours.shrink_to_fit();
  }
  return graph;
}

void gather_component(const AdjacencyList& graph, std::int32_t first, std::vector<std::uint8_t>& placed,
                      std::vector<std::int32_t>& component) {
  component.assign(1, first);
  placed[std::size_t(first)] = 1;
  for (std::size_t head = 0; head < component.size(); ++head) {
    for (const std::int32_t x : graph.of(component[head])) {
      if (x != 0 && placed[std::size_t(x)] == 0) {
        placed[std::size_t(x)] = 1;
        component.push_back(x);
      }
    }
  }
}
