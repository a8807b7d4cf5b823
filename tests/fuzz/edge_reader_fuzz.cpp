// Fuzzes the edge-list reader: the input is the file. A QuarnError naming the file is the expected
// way to refuse it; what is accepted must hold together, and the simple graph built from it too.
#include <algorithm>
#include <string>

#include "fuzz_support.h"
#include "helpers.h"

namespace {

// Larger graphs are read but not built: the tables grow with the largest node number.
constexpr std::int32_t kLargestNodeBuilt = 1 << 16;

void check_graph(const EdgeList& list) {
  const AdjacencyList graph = build_simple_graph(list.edges, list.max_node);
  FUZZ_CHECK(graph.node_slots() == std::int64_t(list.max_node) + 1, "node slots");
  for (std::int32_t u = 0; u < graph.node_slots(); ++u) {
    const auto neighbours = graph.of(u);
    std::vector<std::int32_t> sorted(neighbours.begin(), neighbours.end());
    std::sort(sorted.begin(), sorted.end());
    FUZZ_CHECK(std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end(), "repeated neighbour");
    for (const std::int32_t v : neighbours) {
      FUZZ_CHECK(v != u, "self-loop kept at " + std::to_string(u));
      const auto back = graph.of(v);
      FUZZ_CHECK(std::find(back.begin(), back.end(), u) != back.end(), "one-way edge");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = scratch_file("edges.txt");
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  write_bytes(path, bytes);

  // The whole input as one line, for the line parser alone.
  Edge edge{-1, -1};
  std::string error;
  if (parse_edge_line(bytes, edge, error) == EdgeLineKind::edge) {
    FUZZ_CHECK(edge.first >= 0 && edge.second >= 0 && error.empty(), "accepted line");
  }

  EdgeList list;
  try {
    list = read_edges(path);
  } catch (const QuarnError& e) {
    FUZZ_CHECK(std::string_view(e.what()).starts_with(path + ":"), e.what());
    return 0;
  }
  FUZZ_CHECK(list.edges.empty() == (list.max_node == -1), "max_node without edges");
  for (const Edge& e : list.edges) {
    FUZZ_CHECK(e.first >= 0 && e.second >= 0 && std::max(e.first, e.second) <= list.max_node, "edge range");
  }
  if (list.max_node < 0) return 0;

  // A bound just below the largest node must stop the reader at the first line that names it.
  const std::string expected = path + ":" + std::to_string(list.max_node_line) + ": node number " +
                               std::to_string(list.max_node) + " big";
  try {
    read_edges(path, list.max_node - 1, "big");
    finding("the largest node passed a lower bound");
  } catch (const QuarnError& e) {
    FUZZ_CHECK(e.what() == expected, e.what());
  }
  if (list.max_node <= kLargestNodeBuilt) check_graph(list);
  return 0;
}
