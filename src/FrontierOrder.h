// Orders of a connected component for the frontier count (FrontierCount.h): the count's work grows
// exponentially with the widest frontier of its order, so the order is the best that a few
// heuristics find.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "Graph.h"

// A component with its nodes renumbered 0..k-1 by their places in a list, without node 0: the
// form in which orders are chosen and counted.
struct LocalGraph {
  std::vector<std::size_t> offsets;  // k + 1 entries
  std::vector<std::uint32_t> neighbours;

  std::uint32_t size() const { return std::uint32_t(offsets.size() - 1); }
  std::span<const std::uint32_t> of(std::uint32_t u) const {
    return {neighbours.data() + offsets[u], neighbours.data() + offsets[u + 1]};
  }
  std::size_t degree(std::uint32_t u) const { return offsets[u + 1] - offsets[u]; }
};

// Renumbers components of one graph, keeping a table by node number between calls.
class ComponentLoader {
 public:
  explicit ComponentLoader(const AdjacencyList& graph);
  // The component that nodes lists (all of one component, none of them 0), renumbered by place.
  void load(std::span<const std::int32_t> nodes, LocalGraph& local);

 private:
  const AdjacencyList& graph_;
  std::vector<std::uint32_t> local_index_;  // by node number: its place in the list being loaded
};

// The widest frontier a state of the count can describe: five bits a node, in 128 bits.
constexpr std::int32_t kMaxFrontierWidth = 25;

// A processing order of one component's nodes and what it costs the frontier count.
struct FrontierOrder {
  std::vector<std::int32_t> nodes;
  std::int32_t width = 0;  // the most frontier nodes after any step
  double cost = 0;         // the sum over the steps of 2^frontier: how far the states may spread
};

// The order with the least cost that the heuristics find for a loaded component, in its local
// numbers. An order whose width would exceed kMaxFrontierWidth is given up: the result then has
// width kMaxFrontierWidth + 1 and no nodes.
FrontierOrder choose_local_order(const LocalGraph& component);
