// The MCS search written plainly, as a reference for the tuned miner: every pattern keeps ordered
// sets of its nodes and neighbours, each child is a fresh heap object, and the search recurses.
// Slow and simple on purpose; the tests compare the miner with it line for line.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "BitMap.h"
#include "helpers.h"

class ReferencePattern;
using ReferenceLevel1 = std::vector<std::unique_ptr<ReferencePattern>>;

class ReferencePattern {
 public:
  ReferencePattern(std::int32_t node, const AttributeTable& attributes, const AdjacencyList& graph);
  ReferencePattern(const ReferencePattern& parent, std::int32_t node, const AdjacencyList& graph,
                   const ReferenceLevel1& level1_patterns, int min_sup);

  bool is_maximal() const { return neighbors0.empty() && neighbors1.empty() && neighbors2.empty(); }
  bool covered(std::int32_t node, const ReferenceLevel1& level1_patterns) const;
  bool same_profile(std::int32_t node, const ReferenceLevel1& level1_patterns) const;
  void append_line(std::string& line) const;

  std::int32_t level;
  std::int32_t root;
  std::set<std::int32_t> nodes;
  std::set<std::int32_t> neighbors0;
  std::set<std::int32_t> neighbors1;
  std::set<std::int32_t> neighbors2;
  BitMap profile;
};

// The attribute table of these rows, the first for node 1, as the reader makes it of their text (an
// empty row is a blank line).
AttributeTable attribute_table(const std::vector<std::vector<int>>& rows);

// Every pattern line of the search, in search order.
std::string reference_mcs_lines(const AttributeTable& attributes, const std::vector<Edge>& edges, int min_sup,
                                int min_graph_size);
