// One node of the MCS search tree: a connected node set grown from its smallest node (root), the
// attributes all its nodes share (profile), and its supporting neighbours, sorted into three sets.
//
// A supporting neighbour is a node outside the pattern, adjacent to one of its nodes, that shares at
// least min_sup attributes with the profile. neighbors1 and neighbors2 are the candidates, tried in
// candidate order (neighbors1 ascending, then neighbors2 ascending); neighbors0 holds the supporting
// neighbours this branch must not add: those not above root, and those that came before an added
// node in its parent's candidate order. The three sets are disjoint and hold no node of the pattern.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "BitMap.h"
#include "helpers.h"

class AttributedPattern;
using Level1Patterns = std::vector<std::unique_ptr<AttributedPattern>>;

class AttributedPattern {
 public:
  // The single-node pattern of node: its profile is the node's row, its neighbours go to neighbors1
  // when above node and to neighbors0 otherwise.
  AttributedPattern(std::int32_t node, const AttributeTable& attributes, const AdjacencyList& graph);
  // parent extended by node, a member of parent's neighbors1 or neighbors2.
  AttributedPattern(const AttributedPattern& parent, std::int32_t node, const AdjacencyList& graph,
                    const Level1Patterns& level1_patterns, int min_sup);

  // No supporting neighbour at all, excluded ones included.
  bool is_maximal() const { return neighbors0.empty() && neighbors1.empty() && neighbors2.empty(); }
  // True when an excluded neighbour, or a candidate before node, keeps every attribute that adding
  // node keeps: the extension by node is then found from that other neighbour, or not at all.
  bool covered(std::int32_t node, const Level1Patterns& level1_patterns) const;
  // True when adding node loses no attribute of the profile.
  bool same_profile(std::int32_t node, const Level1Patterns& level1_patterns) const;
  // Appends the pattern line: the nodes ascending, each followed by a space, then a line feed.
  void append_line(std::string& line) const;

  std::int32_t level;
  std::int32_t root;
  std::set<std::int32_t> nodes;
  std::set<std::int32_t> neighbors0;
  std::set<std::int32_t> neighbors1;
  std::set<std::int32_t> neighbors2;
  BitMap profile;
};
