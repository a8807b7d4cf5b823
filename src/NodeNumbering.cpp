#include "NodeNumbering.h"

#include <algorithm>
#include <bit>
#include <vector>

#include "helpers.h"

NodeNumbering survey_node_numbering(const EdgeList& edges, bool count_unused) {
  NodeNumbering numbering;
  numbering.max_node = std::max(edges.max_node, 0);
  for (const Edge& e : edges.edges) numbering.lines_naming_zero += e.first == 0 || e.second == 0;
  if (!count_unused || numbering.max_node == 0) return numbering;

  constexpr std::size_t kBits = 64;
  std::vector<std::uint64_t> named(std::size_t(numbering.max_node) / kBits + 1, 0);
  for (const Edge& e : edges.edges) {
    for (const std::int32_t node : {e.first, e.second}) {
      const auto u = std::size_t(node);
      named[u / kBits] |= std::uint64_t{1} << (u % kBits);
    }
  }
  std::int64_t named_count = 0;
  for (const std::uint64_t word : named) named_count += std::popcount(word);
  const bool zero_named = (named[0] & 1) != 0;
  numbering.unused_nodes = std::int64_t(numbering.max_node) - (named_count - (zero_named ? 1 : 0));
  return numbering;
}

void note_node_numbering(const RunOptions& options, const std::string& name, const NodeNumbering& numbering) {
  if (numbering.lines_naming_zero > 0) {
    const bool one = numbering.lines_naming_zero == 1;
    note(options, name + ": " + std::to_string(numbering.lines_naming_zero) +
                      (one ? " edge line names" : " edge lines name") +
                      " node 0, which is not a node (nodes are numbered from 1); " +
                      (one ? "that edge joins nothing" : "those edges join nothing"));
  }
  if (2 * numbering.unused_nodes > std::int64_t(numbering.max_node)) {
    const std::string n = std::to_string(numbering.max_node);
    note(options, name + ": " + std::to_string(numbering.unused_nodes) + " of the nodes 1 to " + n +
                      " appear on no line (" + n +
                      " is the largest number in the file); each is an isolated node, a pattern of its own");
  }
}
