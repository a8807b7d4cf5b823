#include "CountingSearch.h"

#include <algorithm>
#include <limits>
#include <mutex>
#include <type_traits>

#include "JobBoard.h"

namespace {

// Nodes below the root can never join a pattern of this root. They get the key of a level-0 node,
// which no pattern node's key is ever below, so the one key comparison also tests for the root.
inline std::int64_t make_key(std::int64_t level, std::int32_t node, std::int32_t root) {
  return node < root ? std::int64_t{node} : (level << 32) | std::int64_t{node};
}

inline std::int32_t level_of(std::int64_t key) {
  return std::int32_t(key >> 32);
}
inline std::int32_t node_of(std::int64_t key) {
  return std::int32_t(key & 0xffffffff);
}

constexpr std::int32_t kAllSlots = std::numeric_limits<std::int32_t>::max();

}  // namespace

CountingState::CountingState(const AdjacencyList& graph, std::int64_t largest_pattern)
    : graph_(graph),
      seen_(std::size_t(graph.node_slots()), 0),
      unseen_(std::size_t(graph.node_slots()), 0),
      candidates_(std::size_t(graph.node_slots()), 0),
      pruned_(std::size_t(graph.node_slots()), 0),
      pruned_at_(std::size_t(graph.node_slots()), 0),
      frames_(std::size_t(std::max<std::int64_t>(largest_pattern, 0)) + 1, CountingFrame{}) {
  for (std::int32_t u = 0; u < graph.node_slots(); ++u)
    unseen_[std::size_t(u)] = std::int32_t(graph.of(u).size());
  if (graph.node_slots() > 0) see(0);  // node 0 is never part of a pattern
}

void CountingState::finish_roots_before(std::span<const std::int32_t> roots, std::size_t first) {
  if (marked_component_ != roots.front()) {
    marked_component_ = roots.front();
    marked_roots_ = 0;
  }
  for (; marked_roots_ < first; ++marked_roots_) see(roots[marked_roots_]);
  for (; marked_roots_ > first; --marked_roots_) unsee(roots[marked_roots_ - 1]);
}

void CountingState::forget_component(std::span<const std::int32_t> roots) {
  for (const std::int32_t u : roots) seen_[std::size_t(u)] = 0;
  for (const std::int32_t u : roots) {
    std::int32_t not_seen = 0;
    for (const std::int32_t x : graph_.of(u)) not_seen += seen_[std::size_t(x)] == 0 ? 1 : 0;
    unseen_[std::size_t(u)] = not_seen;
  }
  if (marked_component_ == roots.front()) marked_roots_ = 0;
}

void CountingState::root_finished(std::span<const std::int32_t> roots, std::size_t place) {
  marked_component_ = roots.front();
  marked_roots_ = place + 1;
}

// The search from one root, or one piece of it, in four phases: visit a pattern (prune the
// candidates that may not follow the node added last, then count it), extend it by its next
// candidate, and, when none is left, put the pruned back and return to the parent pattern.
//
// Counting by size (a Tally other than PatternCount) tallies each pattern by its size and free
// candidates instead. Under a most size B it stops at patterns of B - 2 nodes and counts the
// patterns of B - 1 and B nodes of their branches from their candidates (see count_last_sizes).
//
// The state is held in this object for the root's whole search, and every method is inlined into
// its callers, so that the object lives in registers: stores through the marks and the counts of
// unseen neighbours could otherwise alias its counters and force reloads.
template <class Tally>
class CountingSearch {
  static constexpr bool kBySize = !std::is_same_v<Tally, PatternCount>;

 public:
  CountingSearch(CountingState& state, std::int32_t root, std::int32_t most, std::uint64_t steps,
                 Tally& total)
      : state_(state),
        root_(root),
        total_(total),
        is_seen_(state.seen_.data()),
        candidates_(state.candidates_.data()),
        pruned_(state.pruned_.data()),
        slot_of_pruned_(state.pruned_at_.data()),
        unseen_(state.unseen_.data()),
        neighbours_(state.graph_.neighbours.data()),
        offsets_(state.graph_.offsets.data()),
        frames_(state.frames_.data()),
        most_(most),
        steps_(steps) {}

  // Counts every pattern of the root; false when the search runs out of steps first.
  [[gnu::always_inline]] bool run() {
    start();
    if (!visit()) return false;
    if (!search_below(0, nullptr, nullptr)) return false;
    finish();
    return true;
  }

  // Counts the patterns of a piece of the root (see Piece in JobBoard.h), giving work away to the
  // board's hungry workers.
  void run_piece(const Piece& piece, JobBoard::Worker& worker) {
    start();
    for (const std::uint32_t slot : piece.path) {
      prune_and_count(false);
      frames_[depth_].next_slot = std::int32_t(slot);
      extend();
    }
    const std::int32_t base = depth_;
    prune_and_count(piece.own_line);
    if (!piece.own_line) {
      frames_[base].next_slot = std::int32_t(piece.first_child);
      frames_[base].end_slot = std::int32_t(std::min<std::uint32_t>(piece.last_child, kAllSlots));
    }
    search_below(base, &piece, &worker);
    while (depth_ > 0) {
      return_to_parent();
      put_back_pruned();
    }
    finish();
  }

  std::uint64_t steps_left() const { return steps_; }

 private:
  // The counts of unseen neighbours serve the prune passes that set free candidates aside.
  // Counting by size under a most size B has no such pass at B - 2 nodes or more, so the nodes that
  // patterns of that size bring are only marked.
  [[gnu::always_inline]] bool counts_unseen(std::int32_t depth) const {
    return !kBySize || depth + 3 < most_;
  }

  [[gnu::always_inline]] void discover(std::int32_t node, std::int32_t depth) {
    if (counts_unseen(depth)) {
      state_.see(node);
    } else {
      is_seen_[node] = 1;
    }
  }

  [[gnu::always_inline]] void forget(std::int64_t candidate_key, std::int32_t depth) {
    if (counts_unseen(depth)) {
      state_.unsee(node_of(candidate_key));
    } else {
      is_seen_[node_of(candidate_key)] = 0;
    }
  }

  // The root alone: its neighbours are the candidates. The root stays seen after: see finish().
  [[gnu::always_inline]] void start() {
    state_.see(root_);
    for (std::size_t k = offsets_[root_]; k < offsets_[root_ + 1]; ++k) {
      const std::int32_t u = neighbours_[k];
      if (is_seen_[u] != 0) continue;  // a root already done
      discover(u, 0);
      candidates_[candidate_count_++] = make_key(1, u, root_);
    }
    frames_[0] = CountingFrame{root_, 0, kAllSlots, 0, 0, 0};
  }

  // Visits the patterns below the one at depth base, whose own visit is done: extends each pattern by
  // its candidates in turn and visits the child, until base has none left, then puts base's pruned
  // back. False when out of steps.
  [[gnu::always_inline]] bool search_below(std::int32_t base, const Piece* piece, JobBoard::Worker* worker) {
    for (;;) {
      while (!extend()) {
        put_back_pruned();
        if (depth_ == base) return true;
        return_to_parent();
      }
      if (!visit()) return false;
      if (worker != nullptr && worker->split_wanted()) [[unlikely]] {
        offer_work(base, *piece, *worker);
      }
    }
  }

  // A new pattern: prunes the candidates that may not follow the node added last, sets the free
  // ones aside the same way, and counts the pattern. False when out of steps.
  [[gnu::always_inline]] bool visit() {
    if (steps_-- == 0) return false;
    prune_and_count(true);
    return true;
  }

  [[gnu::always_inline]] void prune_and_count(bool count) {
    CountingFrame& frame = frames_[depth_];
    frame.pruned_base = pruned_count_;
    frame.next_slot = 0;
    frame.end_slot = kAllSlots;
    if constexpr (kBySize) {
      if (depth_ + 3 >= most_) {
        count_last_sizes(frame, count);
        return;
      }
    }
    std::uint32_t free_count = 0;
    const std::int64_t last_key = frame.key;  // a local, as the stacks' stores may alias the frame
    for (std::int32_t i = 0; i < candidate_count_;) {
      const std::int64_t u = candidates_[i];
      bool keep = u > last_key;
      if (keep && unseen_[node_of(u)] == 0) {
        keep = false;
        ++free_count;
      }
      if (keep) {
        ++i;
      } else {
        pruned_[pruned_count_++] = u;
        candidates_[i] = candidates_[--candidate_count_];
        slot_of_pruned_[node_of(u)] = i;
      }
    }
    frame.exponent = (depth_ == 0 ? 0 : frames_[depth_ - 1].exponent) + free_count;
    if (!count) return;
    if constexpr (kBySize) {
      total_.add(std::uint32_t(depth_ + 1), frame.exponent);
    } else {
      total_.add_power_of_two(frame.exponent);
    }
  }

  // A pattern of s = B - 2 or more nodes under the most size B, counted with the patterns of its
  // branch, which is not searched. Its children are the k candidates that may follow the node added
  // last, each with the f free nodes set aside above it (counted at s + 1 nodes); the patterns of
  // B = s + 2 nodes without a free node are the pairs of those candidates (the child of the first
  // has the second) and each candidate with an unseen neighbour (which it would bring).
  void count_last_sizes(CountingFrame& frame, bool count) {
    const auto size = std::uint32_t(depth_ + 1);
    const auto most = std::uint32_t(most_);
    const std::uint32_t free = size < most && depth_ > 0 ? frames_[depth_ - 1].exponent : 0;
    frame.exponent = free;
    frame.next_slot = candidate_count_;
    if (!count) return;
    std::uint64_t children = 0;
    std::uint64_t brought = 0;
    for (std::int32_t i = 0; i < candidate_count_ && size < most; ++i) {
      if (candidates_[i] <= frame.key) continue;
      ++children;
      if (size + 2 != most) continue;
      const std::int32_t v = node_of(candidates_[i]);
      for (std::size_t k = offsets_[v]; k < offsets_[v + 1]; ++k)
        brought += is_seen_[neighbours_[k]] == 0 ? 1 : 0;
    }
    total_.add(size, free);
    if (children != 0) total_.add(size + 1, size + 1 < most ? free : 0, children);
    if (size + 2 == most && children * (children - 1) / 2 + brought != 0) {
      total_.add(most, 0, children * (children - 1) / 2 + brought);
    }
  }

  // Extends the pattern by its next candidate, which brings its unseen neighbours; the last
  // candidate takes the place of the one added. Returns false when no candidate is left.
  [[gnu::always_inline]] bool extend() {
    CountingFrame& frame = frames_[depth_];
    const std::int32_t slot = frame.next_slot;
    if (slot >= std::min(candidate_count_, frame.end_slot)) return false;
    const std::int64_t v = candidates_[slot];
    const std::int64_t child_level = std::int64_t{level_of(v)} + 1;
    candidates_[slot] = candidates_[--candidate_count_];
    const std::int32_t brought_base = candidate_count_;
    const std::int32_t v_node = node_of(v);
    for (std::size_t k = offsets_[v_node]; k < offsets_[v_node + 1]; ++k) {
      const std::int32_t w = neighbours_[k];
      if (is_seen_[w] == 0) {
        discover(w, depth_ + 1);
        candidates_[candidate_count_++] = make_key(child_level, w, root_);
      }
    }
    CountingFrame& child = frames_[++depth_];
    child.key = v;
    child.brought_base = brought_base;
    return true;
  }

  // The pattern's branch is done: its pruned go back into their slots, in reverse order.
  [[gnu::always_inline]] void put_back_pruned() {
    const std::int32_t pruned_base = frames_[depth_].pruned_base;
    while (pruned_count_ > pruned_base) {
      const std::int64_t u = pruned_[--pruned_count_];
      const std::int32_t p = slot_of_pruned_[node_of(u)];
      candidates_[candidate_count_++] = candidates_[p];
      candidates_[p] = u;
    }
  }

  // Back in the parent: forgets what the node added last brought in, and puts it back into its slot.
  [[gnu::always_inline]] void return_to_parent() {
    const CountingFrame& frame = frames_[depth_];
    const std::int64_t v = frame.key;
    const std::int32_t brought_base = frame.brought_base;
    for (std::int32_t k = brought_base; k < candidate_count_; ++k) forget(candidates_[k], depth_);
    candidate_count_ = brought_base;
    CountingFrame& parent = frames_[--depth_];
    const std::int32_t j = parent.next_slot;
    candidates_[candidate_count_++] = candidates_[j];
    candidates_[j] = v;
    parent.next_slot = j + 1;
  }

  // The candidates are the root's neighbours again, exactly those it discovered; the root stays seen.
  [[gnu::always_inline]] void finish() {
    for (std::int32_t k = 0; k < candidate_count_; ++k) forget(candidates_[k], 0);
  }

  // Gives away the children not yet started of the shallowest pattern of this piece that has some.
  // A pattern whose child is being searched has the slots after that child's; the current pattern
  // has all of its own.
  void offer_work(std::int32_t base, const Piece& piece, JobBoard::Worker& worker) {
    for (std::int32_t k = base; k <= depth_; ++k) {
      CountingFrame& frame = frames_[k];
      const bool current = k == depth_;
      const std::int32_t first = current ? frame.next_slot : frame.next_slot + 1;
      const std::int32_t count = current ? candidate_count_ : frames_[k + 1].brought_base + 1;
      const std::int32_t end = std::min(frame.end_slot, count);
      if (first >= end) continue;
      Piece rest{piece.root, piece.path, std::uint32_t(first), std::uint32_t(end), false};
      for (std::int32_t i = base; i < k; ++i) rest.path.push_back(std::uint32_t(frames_[i].next_slot));
      if (worker.offer(std::move(rest))) frame.end_slot = first;
      return;
    }
  }

  CountingState& state_;
  const std::int32_t root_;
  Tally& total_;
  std::uint8_t* const is_seen_;
  std::int64_t* const candidates_;
  std::int64_t* const pruned_;
  std::int32_t* const slot_of_pruned_;
  const std::int32_t* const unseen_;
  const std::int32_t* const neighbours_;
  const std::size_t* const offsets_;
  CountingFrame* const frames_;
  const std::int32_t most_;
  std::int32_t candidate_count_ = 0;
  std::int32_t pruned_count_ = 0;
  std::int32_t depth_ = 0;
  std::uint64_t steps_;
};

namespace {

template <class Tally>
Tally fresh_tally(std::span<const std::int32_t> roots);
template <>
PatternCount fresh_tally<PatternCount>(std::span<const std::int32_t> roots) {
  return PatternCount(std::uint32_t(roots.size()));  // a component of k nodes has fewer than 2^k patterns
}
template <>
PatternCountBySize fresh_tally<PatternCountBySize>(std::span<const std::int32_t> /*roots*/) {
  return {};
}

// The place of a root in its component's nodes, which are ascending.
std::size_t place_of(std::span<const std::int32_t> roots, std::int32_t root) {
  return std::size_t(std::lower_bound(roots.begin(), roots.end(), root) - roots.begin());
}

}  // namespace

template <class Tally>
bool count_component_patterns(CountingState& state, std::span<const std::int32_t> roots, std::int32_t most,
                              std::uint64_t step_limit, Tally& tally, const RootProgress& progress) {
  std::uint64_t steps = step_limit;
  for (std::size_t i = 0; i < roots.size(); ++i) {
    if (progress) progress(i);
    state.finish_roots_before(roots, i);
    CountingSearch<Tally> search(state, roots[i], most, steps, tally);
    if (!search.run()) {
      // Out of steps: every mark of this component goes, and the counts of unseen neighbours with it.
      state.forget_component(roots);
      return false;
    }
    steps = search.steps_left();
    state.root_finished(roots, i);
  }
  return true;
}

template <class Tally>
void count_component_patterns_on_threads(const AdjacencyList& graph, std::int64_t largest_pattern,
                                         std::span<const std::int32_t> roots, std::int32_t most,
                                         unsigned threads,
                                         std::vector<std::unique_ptr<CountingState>>& states, Tally& tally,
                                         const RootProgress& progress) {
  while (states.size() < threads) states.push_back(std::make_unique<CountingState>(graph, largest_pattern));
  std::size_t next_root = 0;
  JobBoard board(threads,
                 [&](Piece& piece) {
                   if (next_root == roots.size()) return false;
                   if (progress) progress(next_root);
                   piece = Piece{roots[next_root++], {}, 0, std::numeric_limits<std::uint32_t>::max(), true};
                   return true;
                 },
                 nullptr, {});
  std::mutex tally_mutex;
  board.run([&](JobBoard::Worker& worker) {
    CountingState& state = *states[worker.index()];
    Tally own = fresh_tally<Tally>(roots);
    while (const Piece* piece = worker.take()) {
      const std::size_t place = place_of(roots, piece->root);
      state.finish_roots_before(roots, place);
      CountingSearch<Tally>(state, piece->root, most, std::numeric_limits<std::uint64_t>::max(), own)
          .run_piece(*piece, worker);
      state.root_finished(roots, place);
    }
    const std::lock_guard lock(tally_mutex);
    tally.add(own);
  });
}

template bool count_component_patterns(CountingState&, std::span<const std::int32_t>, std::int32_t,
                                       std::uint64_t, PatternCount&, const RootProgress&);
template bool count_component_patterns(CountingState&, std::span<const std::int32_t>, std::int32_t,
                                       std::uint64_t, PatternCountBySize&, const RootProgress&);
template void count_component_patterns_on_threads(const AdjacencyList&, std::int64_t,
                                                  std::span<const std::int32_t>, std::int32_t, unsigned,
                                                  std::vector<std::unique_ptr<CountingState>>&, PatternCount&,
                                                  const RootProgress&);
template void count_component_patterns_on_threads(const AdjacencyList&, std::int64_t,
                                                  std::span<const std::int32_t>, std::int32_t, unsigned,
                                                  std::vector<std::unique_ptr<CountingState>>&,
                                                  PatternCountBySize&, const RootProgress&);
