// The counting search of the CIS count: the listing search without the listing, in no particular
// order, that counts a branch at once when its candidates bring no new neighbours.
//
// From each root of a component in turn it grows patterns depth first, by the candidates whose key
// (level, node number) is larger than the key of the node added last, as the listing does. Counting
// needs no order, and it sets aside the free candidates, whose neighbours are all seen already:
// every pattern of the branch exists with and without each of them, so a branch with f free
// candidates is visited once and counted 2^f times. A finished root stays seen, so that no later
// root of its component takes it as a candidate.
//
// Its state lives in arrays sized once (CountingState); the search allocates nothing. Candidates
// are stored as their keys, the node number in the low 32 bits, so pruning reads one array in order.
// A candidate leaves its slot by moving the last candidate into it, and every change is undone in
// constant time: the pruned and the newly discovered nodes sit on the tops of two stacks whose
// heights each depth records. The recursion is an explicit stack of frames, so the depth of the
// search (the size of the largest pattern) does not depend on the process stack.
//
// On several threads, each has a state of its own and takes pieces of the search (JobBoard.h): a
// root, or some children of a pattern reached from a root by a path of candidate slots, which
// rebuilding the state replays. A thread that starts a piece of root r first marks the roots of the
// component below r as finished, and only those.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "Graph.h"
#include "PatternCount.h"

struct CountingFrame {
  std::int64_t key;           // key of the node added last; its node number is the low half
  std::int32_t next_slot;     // the candidate slot to extend by next
  std::int32_t end_slot;      // the slots from here on are another thread's
  std::int32_t pruned_base;   // height of the pruned stack before this frame pruned
  std::int32_t brought_base;  // candidate count before the node added last brought its neighbours
  std::uint32_t exponent;     // this pattern stands for 2^exponent patterns
};

// What a counting search changes, for one thread.
class CountingState {
 public:
  // For patterns of at most largest_pattern nodes. Node 0 is seen from the start: it never joins a
  // pattern.
  CountingState(const AdjacencyList& graph, std::int64_t largest_pattern);

  // The memory a state takes, by node slot and by level of the deepest pattern.
  static constexpr std::uint64_t kBytesPerNode =
      sizeof(std::uint8_t) + sizeof(std::int32_t) + 2 * sizeof(std::int64_t) + sizeof(std::int32_t);
  static constexpr std::uint64_t kBytesPerLevel = sizeof(CountingFrame);

  void see(std::int32_t node) {
    seen_[std::size_t(node)] = 1;
    for (const std::int32_t x : graph_.of(node)) --unseen_[std::size_t(x)];
  }
  void unsee(std::int32_t node) {
    seen_[std::size_t(node)] = 0;
    for (const std::int32_t x : graph_.of(node)) ++unseen_[std::size_t(x)];
  }
  // Marks exactly the roots of a component (its nodes, ascending) before roots[first] as finished,
  // from what this state marked of that component before.
  void finish_roots_before(std::span<const std::int32_t> roots, std::size_t first);
  // Records that the search of roots[place] is done: it stays seen, as the roots before it.
  void root_finished(std::span<const std::int32_t> roots, std::size_t place);
  // Clears every mark of a component, as after a search that gave up.
  void forget_component(std::span<const std::int32_t> roots);

 private:
  template <class Tally>
  friend class CountingSearch;

  const AdjacencyList& graph_;
  std::vector<std::uint8_t> seen_;        // in the pattern, a candidate, or pruned, from this root
  std::vector<std::int32_t> unseen_;      // neighbours not seen
  std::vector<std::int64_t> candidates_;  // keys
  std::vector<std::int64_t> pruned_;      // keys
  std::vector<std::int32_t> pruned_at_;   // by node: the candidate slot a pruned node left
  std::vector<CountingFrame> frames_;     // one per node of the current pattern
  std::int32_t marked_component_ = -1;    // the first node of the component whose roots are marked finished
  std::size_t marked_roots_ = 0;          // how many of its roots, from the first
};

// Told the number of roots of a component started so far.
using RootProgress = std::function<void(std::size_t roots_started)>;

// Counts the patterns of a component (its nodes, ascending) of at most most nodes, by size when the
// tally is a PatternCountBySize, and adds them to tally; gives up after step_limit patterns, and then
// leaves the tally and the marks as they were.
template <class Tally>
bool count_component_patterns(CountingState& state, std::span<const std::int32_t> roots, std::int32_t most,
                              std::uint64_t step_limit, Tally& tally, const RootProgress& progress = {});

// The same without a step limit, on threads threads, each with a state of states (made as needed).
template <class Tally>
void count_component_patterns_on_threads(const AdjacencyList& graph, std::int64_t largest_pattern,
                                         std::span<const std::int32_t> roots, std::int32_t most,
                                         unsigned threads,
                                         std::vector<std::unique_ptr<CountingState>>& states, Tally& tally,
                                         const RootProgress& progress = {});
