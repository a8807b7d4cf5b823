// Counting the connected node sets of a graph without visiting them: a dynamic program over an
// order of the nodes (the frontier, or transfer-matrix, method).
//
// The nodes of one connected component are processed in a chosen order, each either selected or
// not. After some steps the frontier is the set of processed nodes that still have unprocessed
// neighbours; only they can connect a partial selection to what comes later. A state records, for
// every frontier node, whether it is selected and which connected piece of the selection so far it
// belongs to (a canonical partition), and the table maps each state to the number of partial
// selections that lead to it. A selected node joins all the pieces of its selected earlier
// neighbours. When a piece loses its last frontier node it can grow no more: if it is the only piece,
// the selection is complete, connected, and counted, and it must not grow further, so the state is
// dropped; if other pieces remain, the selection can never become connected and is dropped too.
//
// The work is exponential only in the width of the frontier, so graphs of small width with
// astronomically many connected sets (long paths, trees, grids, ladders) are counted in moments.
// Counts are exact at any size: 128-bit while they provably fit, GMP integers after that.
#pragma once

#include <gmpxx.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "helpers.h"

// Fills component with the nodes connected to first (itself included) that placed does not mark yet,
// in order of discovery, and marks them. Edges to node 0 join nothing: node 0 is never in a pattern.
void gather_component(const AdjacencyList& graph, std::int32_t first, std::vector<std::uint8_t>& placed,
                      std::vector<std::int32_t>& component);

// A processing order of one component's nodes and what it costs the dynamic program.
struct FrontierOrder {
  std::vector<std::int32_t> nodes;
  std::int32_t width = 0;  // the most frontier nodes after any step
  double cost = 0;         // the sum over the steps of 2^frontier: how far the states may spread
};

// The widest frontier a state can describe: five bits a node, in 128 bits.
constexpr std::int32_t kMaxFrontierWidth = 25;

// What a run of the dynamic program did, for benchmarks and tests.
struct FrontierStats {
  std::int32_t widest = 0;        // the widest frontier
  std::uint64_t peak_states = 0;  // the most states after any step
  std::uint64_t transitions = 0;  // states processed over all steps
  std::uint64_t peak_bytes = 0;   // the most memory the state tables held at once
};

// Called between the steps of a count with the states processed so far; returning false gives the
// count up.
using FrontierProgress = std::function<bool(std::uint64_t transitions)>;

class FrontierCounter {
 public:
  explicit FrontierCounter(const AdjacencyList& graph);

  // The order with the least cost that a few heuristics find for a connected component (its node
  // numbers, none of them 0; edges to node 0 are ignored). An order whose width would exceed
  // kMaxFrontierWidth is given up: the result then has width kMaxFrontierWidth + 1 and no nodes.
  FrontierOrder choose_order(std::span<const std::int32_t> component);

  // The number of non-empty connected node sets of the component that order lists, or nothing when
  // the state tables would need more than memory_budget bytes or progress gives up.
  std::optional<mpz_class> count(const FrontierOrder& order, std::uint64_t memory_budget,
                                 FrontierStats* stats = nullptr, const FrontierProgress& progress = {});

 private:
  // The component with nodes renumbered 0..k-1 by their place in a given list, without node 0.
  void load_component(std::span<const std::int32_t> nodes);

  const AdjacencyList& graph_;
  std::vector<std::int32_t> local_index_;  // by node number: its place in the loaded list, or -1
  std::vector<std::int64_t> local_offsets_;
  std::vector<std::int32_t> local_neighbours_;
};
