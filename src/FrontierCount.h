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
//
// Counting by size, a state holds a row of counts instead of one: its partial selections by their
// number of nodes. Up to a most size B the rows stop at B and the states with more than B selected
// nodes are dropped, so that the work grows with B rather than with the component.
#pragma once

#include <gmpxx.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "FrontierOrder.h"
#include "Graph.h"
#include "SizeCounts.h"

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

// Connected node sets by column, each column with the sum over its sets of the weights of their
// nodes: for the size of the lines that list them.
struct WeightedCounts {
  std::vector<mpz_class> sets;     // by column
  std::vector<mpz_class> weights;  // by column
};

// The weight of a node (its node number), for count_weighted.
using NodeWeight = std::function<std::uint32_t(std::int32_t node)>;

class FrontierCounter {
 public:
  explicit FrontierCounter(const AdjacencyList& graph);

  // The order with the least cost that the heuristics of FrontierOrder.h find for a connected
  // component (its node numbers, none of them 0; edges to node 0 are ignored).
  FrontierOrder choose_order(std::span<const std::int32_t> component);

  // The number of non-empty connected node sets of the component that order lists, or nothing when
  // the state tables would need more than memory_budget bytes or progress gives up.
  std::optional<mpz_class> count(const FrontierOrder& order, std::uint64_t memory_budget,
                                 FrontierStats* stats = nullptr, const FrontierProgress& progress = {});
  // The same by size: entry k counts the sets in column k of columns (SizeCounts.h).
  std::optional<std::vector<mpz_class>> count_by_size(const FrontierOrder& order, SizeColumns columns,
                                                      std::uint64_t memory_budget,
                                                      FrontierStats* stats = nullptr,
                                                      const FrontierProgress& progress = {});
  // The same with the weights of the sets: a state carries, beside each count, the sum of the weights
  // of the selections it counts, and selecting a node of weight w adds w times their count to it.
  // Numbers are 128-bit only: nothing when one would not fit, as when the budget or progress gives up.
  std::optional<WeightedCounts> count_weighted(const FrontierOrder& order, SizeColumns columns,
                                               const NodeWeight& weight, std::uint64_t memory_budget,
                                               const FrontierProgress& progress = {});

 private:
  ComponentLoader loader_;
  LocalGraph local_;
};
