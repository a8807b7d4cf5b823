#include "FrontierCount.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <queue>
#include <utility>

namespace {

__extension__ typedef unsigned __int128 Uint128;

// ---------------------------------------------------------------------------------------------
// Orders

enum class OrderRule {
  breadth_first,              // in order of discovery
  least_growth,               // the node that adds least to the frontier, net of the nodes it retires
  fewest_unprocessed,         // the node with the fewest unprocessed neighbours (a minimum-degree rule)
  least_growth_from_the_end,  // least growth, choosing the last node first, then the one before...
};

// Grows orders of the loaded component from a start node, taking at every step the discovered
// node that a rule prefers. A lazy heap holds the discovered nodes: every change to a node's
// priority pushes it again, and popped entries that are no longer current are skipped.
//
// Growing from the end sees what growing from the start misses: in a graph of a few hubs and many
// nodes joined to all of them, the hubs should come first, so that each of the others leaves the
// frontier as soon as it joins; a forward rule starting at a hub takes the others first, as each
// of them adds no more than a hub would. From the end, the frontier at a cut is the set of the
// earlier nodes with a later neighbour, and taking the others one by one keeps it at the hubs.
class OrderGrower {
 public:
  OrderGrower(const std::vector<std::int64_t>& offsets, const std::vector<std::int32_t>& neighbours)
      : offsets_(offsets), neighbours_(neighbours), size_(std::int32_t(offsets.size()) - 1) {}

  // Fills order (local nodes) and returns true, or gives up and returns false once the cost
  // reaches give_up_cost or the frontier grows wider than a state can describe.
  bool grow(std::int32_t start, OrderRule rule, double give_up_cost, FrontierOrder& order) {
    reset();
    rule_ = rule;
    order.nodes.clear();
    order.width = 0;
    order.cost = 0;
    std::int32_t frontier = 0;
    touch(start);
    while (!heap_.empty()) {
      const Entry entry = heap_.top();
      heap_.pop();
      const std::int32_t u = entry.node;
      if (processed_[std::size_t(u)] != 0 || entry != priority(u)) continue;
      frontier += rule == OrderRule::least_growth_from_the_end ? place_before(u) : process(u);
      order.nodes.push_back(u);
      order.width = std::max(order.width, frontier);
      order.cost += std::ldexp(1.0, frontier);
      if (order.width > kMaxFrontierWidth || order.cost >= give_up_cost) return false;
    }
    if (rule == OrderRule::least_growth_from_the_end) std::reverse(order.nodes.begin(), order.nodes.end());
    return true;
  }

 private:
  struct Entry {
    std::int32_t first, second, third, node;
    auto operator<=>(const Entry&) const = default;
  };

  void reset() {
    const std::size_t n = std::size_t(size_);
    processed_.assign(n, 0);
    closing_.assign(n, 0);
    touched_.assign(n, 0);
    discovered_.assign(n, -1);
    remaining_.resize(n);
    for (std::int32_t u = 0; u < size_; ++u) {
      remaining_[std::size_t(u)] = std::int32_t(offsets_[u + 1] - offsets_[u]);
    }
    untouched_ = remaining_;
    next_discovery_ = 0;
    heap_ = {};
  }

  Entry priority(std::int32_t u) const {
    const std::size_t i = std::size_t(u);
    switch (rule_) {
      case OrderRule::breadth_first:
        return {discovered_[i], 0, 0, u};
      case OrderRule::least_growth:
        return {(remaining_[i] > 0 ? 1 : 0) - closing_[i], remaining_[i], discovered_[i], u};
      case OrderRule::fewest_unprocessed:
        return {remaining_[i], discovered_[i], 0, u};
      case OrderRule::least_growth_from_the_end:
        return {untouched_[i] - touched_[i], untouched_[i], discovered_[i], u};
    }
    return {};
  }

  void touch(std::int32_t u) {
    if (discovered_[std::size_t(u)] < 0) discovered_[std::size_t(u)] = next_discovery_++;
    heap_.push(priority(u));
  }

  // The one unprocessed neighbour of a node that has one left: that neighbour will retire it.
  void mark_closing_neighbour(std::int32_t u) {
    for (std::int64_t k = offsets_[u]; k < offsets_[u + 1]; ++k) {
      const std::int32_t y = neighbours_[std::size_t(k)];
      if (processed_[std::size_t(y)] == 0) {
        ++closing_[std::size_t(y)];
        touch(y);
        return;
      }
    }
  }

  // Processes u and returns how much the frontier changes.
  std::int32_t process(std::int32_t u) {
    processed_[std::size_t(u)] = 1;
    std::int32_t change = remaining_[std::size_t(u)] > 0 ? 1 : 0;
    for (std::int64_t k = offsets_[u]; k < offsets_[u + 1]; ++k) {
      const std::int32_t x = neighbours_[std::size_t(k)];
      const std::int32_t left = --remaining_[std::size_t(x)];
      if (processed_[std::size_t(x)] == 0) {
        touch(x);
      } else if (left == 0) {
        --change;
      } else if (left == 1) {
        mark_closing_neighbour(x);
      }
    }
    if (remaining_[std::size_t(u)] == 1) mark_closing_neighbour(u);
    return change;
  }

  // Growing from the end: puts u before the nodes placed so far and returns how much the frontier
  // (the unplaced nodes with a placed neighbour) changes. Every node within two steps of the
  // placed ones is discovered.
  std::int32_t place_before(std::int32_t u) {
    processed_[std::size_t(u)] = 1;
    const bool was_touched = touched_[std::size_t(u)] != 0;
    std::int32_t change = was_touched ? -1 : 0;
    for (std::int64_t k = offsets_[u]; k < offsets_[u + 1]; ++k) {
      const std::int32_t x = neighbours_[std::size_t(k)];
      if (!was_touched) --untouched_[std::size_t(x)];
      if (processed_[std::size_t(x)] != 0) continue;
      if (touched_[std::size_t(x)] == 0) {
        touched_[std::size_t(x)] = 1;
        ++change;
        for (std::int64_t j = offsets_[x]; j < offsets_[x + 1]; ++j) {
          const std::int32_t y = neighbours_[std::size_t(j)];
          --untouched_[std::size_t(y)];
          if (processed_[std::size_t(y)] == 0) touch(y);
        }
      }
      touch(x);
    }
    return change;
  }

  const std::vector<std::int64_t>& offsets_;
  const std::vector<std::int32_t>& neighbours_;
  const std::int32_t size_;
  OrderRule rule_ = OrderRule::breadth_first;
  std::vector<std::uint8_t> processed_;
  std::vector<std::int32_t> remaining_;   // unprocessed neighbours
  std::vector<std::int32_t> closing_;     // processed neighbours that this node would retire
  std::vector<std::int32_t> discovered_;  // order of discovery, -1 before
  std::vector<std::uint8_t> touched_;     // from the end: has a placed neighbour
  std::vector<std::int32_t> untouched_;   // from the end: unplaced neighbours without a placed one
  std::int32_t next_discovery_ = 0;
  std::priority_queue<Entry, std::vector<Entry>, std::greater<>> heap_;
};

// The node found last by a breadth-first search from start: one end of a long shortest path.
std::int32_t farthest_from(std::int32_t start, const std::vector<std::int64_t>& offsets,
                           const std::vector<std::int32_t>& neighbours) {
  std::vector<std::uint8_t> reached(offsets.size() - 1, 0);
  std::vector<std::int32_t> queue{start};
  reached[std::size_t(start)] = 1;
  for (std::size_t head = 0; head < queue.size(); ++head) {
    const std::int32_t u = queue[head];
    for (std::int64_t k = offsets[std::size_t(u)]; k < offsets[std::size_t(u) + 1]; ++k) {
      const std::int32_t x = neighbours[std::size_t(k)];
      if (reached[std::size_t(x)] == 0) {
        reached[std::size_t(x)] = 1;
        queue.push_back(x);
      }
    }
  }
  return queue.back();
}

// ---------------------------------------------------------------------------------------------
// States

// Frontier slots are numbered in the order their nodes joined the frontier; a step's node takes
// the slot after the last one while its transition is worked out.
struct Step {
  std::uint32_t width;       // frontier slots before the step
  std::uint32_t neighbours;  // the slots of the node's earlier neighbours: all on the frontier
  std::uint32_t leaving;     // the slots retired by the step, the node's own one if nothing follows it
};

constexpr int kLabelBits = 5;
constexpr std::uint8_t kLabelMask = (1 << kLabelBits) - 1;
constexpr std::uint8_t kFreshLabel = kLabelMask;  // never a canonical label: those are at most 25

struct BudgetExceeded {};

class MemoryBudget {
 public:
  explicit MemoryBudget(std::uint64_t limit) : limit_(limit) {}
  void take(std::uint64_t bytes) {
    if (bytes > limit_ - used_) throw BudgetExceeded{};
    used_ += bytes;
    peak_ = std::max(peak_, used_);
  }
  void give_back(std::uint64_t bytes) { used_ -= bytes; }
  std::uint64_t peak() const { return peak_; }

 private:
  std::uint64_t limit_;
  std::uint64_t used_ = 0;
  std::uint64_t peak_ = 0;
};

inline std::uint64_t hash_key(std::uint64_t key) {
  return key * 0x9E3779B97F4A7C15ULL;
}
inline std::uint64_t hash_key(Uint128 key) {
  return (std::uint64_t(key) ^ (std::uint64_t(key >> 64) * 0xC2B2AE3D27D4EB4FULL)) * 0x9E3779B97F4A7C15ULL;
}

// What an entry costs beyond its key: a GMP integer also owns its limbs on the heap.
template <class Count>
constexpr std::uint64_t kCountBytes = sizeof(Count);
template <>
constexpr std::uint64_t kCountBytes<mpz_class> = sizeof(mpz_class) + 48;

// The states after a step: an open-addressing index over a dense array of entries, so that the
// next step reads the entries in order. Storage is kept across clear() and charged to the budget.
template <class Key, class Count>
class StateTable {
 public:
  explicit StateTable(MemoryBudget& budget) : budget_(budget) {}
  StateTable(const StateTable&) = delete;
  StateTable& operator=(const StateTable&) = delete;
  ~StateTable() { budget_.give_back(charged_); }

  std::size_t size() const { return size_; }
  Key key(std::size_t i) const { return keys_[i]; }
  const Count& count(std::size_t i) const { return counts_[i]; }

  void clear() {
    size_ = 0;
    std::fill(index_.begin(), index_.end(), 0);
  }

  // The count of a state, a new zero count when the state is new.
  Count& at(Key key) {
    if (2 * (size_ + 1) > index_.size()) grow_index();
    std::size_t slot = std::size_t(hash_key(key) >> shift_);
    const std::size_t mask = index_.size() - 1;
    for (;; slot = (slot + 1) & mask) {
      const std::uint32_t entry = index_[slot];
      if (entry == 0) break;
      if (keys_[entry - 1] == key) return counts_[entry - 1];
    }
    if (size_ == keys_.size()) {
      charge(sizeof(Key) + kCountBytes<Count>);
      keys_.push_back(key);
      counts_.emplace_back(0U);
    } else {
      keys_[size_] = key;
      counts_[size_] = 0U;
    }
    index_[slot] = std::uint32_t(++size_);
    return counts_[size_ - 1];
  }

 private:
  void charge(std::uint64_t bytes) {
    budget_.take(bytes);
    charged_ += bytes;
  }

  void grow_index() {
    const std::size_t capacity = std::max<std::size_t>(1024, 2 * index_.size());
    if (capacity > std::numeric_limits<std::uint32_t>::max()) throw BudgetExceeded{};
    charge((capacity - index_.size()) * sizeof(std::uint32_t));
    index_.assign(capacity, 0);
    shift_ = unsigned(64 - std::countr_zero(capacity));
    const std::size_t mask = capacity - 1;
    for (std::size_t i = 0; i < size_; ++i) {
      std::size_t slot = std::size_t(hash_key(keys_[i]) >> shift_);
      while (index_[slot] != 0) slot = (slot + 1) & mask;
      index_[slot] = std::uint32_t(i + 1);
    }
  }

  MemoryBudget& budget_;
  std::uint64_t charged_ = 0;
  std::vector<Key> keys_;
  std::vector<Count> counts_;
  std::vector<std::uint32_t> index_;  // 0: empty; otherwise one more than the entry's place
  std::size_t size_ = 0;
  unsigned shift_ = 64;
};

inline void add_count(Uint128& to, Uint128 count) {
  to += count;
}
inline void add_count(mpz_class& to, const mpz_class& count) {
  to += count;
}

mpz_class to_mpz(Uint128 value) {
  mpz_class result = static_cast<unsigned long>(std::uint64_t(value >> 64));
  result <<= 64;
  result += static_cast<unsigned long>(std::uint64_t(value));
  return result;
}

// Where a labelling of the slots before a step and of the step's node (in slot width) leads: a
// complete connected selection, a dropped one, or a state of the next step.
template <class Key, class Count>
void settle(const std::uint8_t* labels, const Step& step, const Count& count, StateTable<Key, Count>& next,
            Count& complete) {
  bool present[kLabelMask + 1] = {};
  bool selection_remains = false;
  for (std::uint32_t s = 0; s <= step.width; ++s) {
    if ((step.leaving >> s & 1U) == 0) {
      present[labels[s]] = true;
      selection_remains |= labels[s] != 0;
    }
  }
  std::uint8_t closed = 0;
  for (std::uint32_t rest = step.leaving; rest != 0; rest &= rest - 1) {
    const std::uint8_t label = labels[std::countr_zero(rest)];
    if (label == 0 || present[label]) continue;
    if (closed != 0 && closed != label) return;  // two pieces finished apart: never connected
    closed = label;
  }
  if (closed != 0) {
    if (!selection_remains) add_count(complete, count);
    return;
  }
  std::uint8_t canonical[kLabelMask + 1] = {};
  std::uint8_t next_label = 1;
  Key key = 0;
  int shift = 0;
  for (std::uint32_t s = 0; s <= step.width; ++s) {
    if ((step.leaving >> s & 1U) != 0) continue;
    std::uint8_t label = labels[s];
    if (label != 0) {
      if (canonical[label] == 0) canonical[label] = next_label++;
      label = canonical[label];
    }
    key |= Key(label) << shift;
    shift += kLabelBits;
  }
  add_count(next.at(key), count);
}

// One step: every state either leaves the node out or selects it.
template <class Key, class Count>
void advance(const Step& step, const StateTable<Key, Count>& states, StateTable<Key, Count>& next,
             Count& complete) {
  next.clear();
  std::uint8_t labels[kMaxFrontierWidth + 1];
  std::uint8_t joined[kMaxFrontierWidth + 1];
  for (std::size_t i = 0; i < states.size(); ++i) {
    const Key key = states.key(i);
    for (std::uint32_t s = 0; s < step.width; ++s)
      labels[s] = std::uint8_t(key >> (kLabelBits * s)) & kLabelMask;
    labels[step.width] = 0;
    settle(labels, step, states.count(i), next, complete);

    // Selected, the node joins the pieces of its selected earlier neighbours into one.
    std::uint8_t merged_into[kLabelMask + 1];
    for (std::uint8_t l = 0; l <= kLabelMask; ++l) merged_into[l] = l;
    std::uint8_t target = 0;
    for (std::uint32_t rest = step.neighbours; rest != 0; rest &= rest - 1) {
      const std::uint8_t label = labels[std::countr_zero(rest)];
      if (label != 0 && (target == 0 || label < target)) target = label;
    }
    if (target == 0) target = kFreshLabel;
    for (std::uint32_t rest = step.neighbours; rest != 0; rest &= rest - 1) {
      merged_into[labels[std::countr_zero(rest)]] = target;
    }
    merged_into[0] = 0;
    for (std::uint32_t s = 0; s < step.width; ++s) joined[s] = merged_into[labels[s]];
    joined[step.width] = target;
    settle(joined, step, states.count(i), next, complete);
  }
}

// Runs the steps [begin, end) and returns the table that holds the states after them.
template <class Key, class Count>
StateTable<Key, Count>* run_range(const std::vector<Step>& steps, std::size_t begin, std::size_t end,
                                  StateTable<Key, Count>* states, StateTable<Key, Count>* spare,
                                  Count& complete, FrontierStats* stats) {
  for (std::size_t i = begin; i < end; ++i) {
    advance(steps[i], *states, *spare, complete);
    if (stats != nullptr) {
      stats->transitions += states->size();
      stats->peak_states = std::max<std::uint64_t>(stats->peak_states, spare->size());
    }
    std::swap(states, spare);
  }
  return states;
}

// The dynamic program over all steps. While at most 127 nodes are processed, the states count
// subsets of those nodes, so every count (and their sum) is below 2^127: 128-bit counts are exact.
// From there on the counts are GMP integers.
template <class Key>
mpz_class run_steps(const std::vector<Step>& steps, MemoryBudget& budget, FrontierStats* stats) {
  constexpr std::size_t kExactSteps = 127;
  const std::size_t fast_steps = std::min(steps.size(), kExactSteps);
  auto narrow = std::make_unique<StateTable<Key, Uint128>>(budget);
  auto narrow_spare = std::make_unique<StateTable<Key, Uint128>>(budget);
  narrow->at(0) = 1;  // the empty selection
  Uint128 complete = 0;
  const auto* states = run_range(steps, 0, fast_steps, narrow.get(), narrow_spare.get(), complete, stats);
  mpz_class result = to_mpz(complete);
  if (fast_steps == steps.size()) return result;

  StateTable<Key, mpz_class> wide(budget), wide_spare(budget);
  for (std::size_t i = 0; i < states->size(); ++i) wide.at(states->key(i)) = to_mpz(states->count(i));
  narrow.reset();
  narrow_spare.reset();
  run_range(steps, fast_steps, steps.size(), &wide, &wide_spare, result, stats);
  return result;
}

}  // namespace

FrontierCounter::FrontierCounter(const AdjacencyList& graph)
    : graph_(graph), local_index_(std::size_t(graph.node_slots()), -1) {}

void FrontierCounter::load_component(std::span<const std::int32_t> nodes) {
  for (std::size_t i = 0; i < nodes.size(); ++i) local_index_[std::size_t(nodes[i])] = std::int32_t(i);
  local_offsets_.assign(1, 0);
  local_neighbours_.clear();
  for (const std::int32_t u : nodes) {
    for (const std::int32_t x : graph_.of(u)) {
      if (x != 0) local_neighbours_.push_back(local_index_[std::size_t(x)]);
    }
    local_offsets_.push_back(std::int64_t(local_neighbours_.size()));
  }
  for (const std::int32_t u : nodes) local_index_[std::size_t(u)] = -1;
}

FrontierOrder FrontierCounter::choose_order(std::span<const std::int32_t> component) {
  load_component(component);
  FrontierOrder best;
  best.width = kMaxFrontierWidth + 1;
  best.cost = std::numeric_limits<double>::infinity();
  if (component.empty()) return best;
  // Starts: both ends of a long shortest path, and a node of least degree.
  const std::int32_t one_end = farthest_from(0, local_offsets_, local_neighbours_);
  const std::int32_t other_end = farthest_from(one_end, local_offsets_, local_neighbours_);
  auto degree = [this](std::int32_t u) {
    return local_offsets_[std::size_t(u) + 1] - local_offsets_[std::size_t(u)];
  };
  std::int32_t least_degree = 0;
  for (std::int32_t u = 1; u < std::int32_t(component.size()); ++u) {
    if (degree(u) < degree(least_degree)) least_degree = u;
  }
  OrderGrower grower(local_offsets_, local_neighbours_);
  FrontierOrder tried;
  for (const std::int32_t start : {one_end, other_end, least_degree}) {
    for (const OrderRule rule : {OrderRule::least_growth, OrderRule::least_growth_from_the_end,
                                 OrderRule::breadth_first, OrderRule::fewest_unprocessed}) {
      if (grower.grow(start, rule, best.cost, tried)) std::swap(best, tried);
    }
  }
  for (std::int32_t& u : best.nodes) u = component[std::size_t(u)];
  return best;
}

std::optional<mpz_class> FrontierCounter::count(const FrontierOrder& order, std::uint64_t memory_budget,
                                                FrontierStats* stats) {
  load_component(order.nodes);  // local numbers are now places in the order
  const std::size_t n = order.nodes.size();
  std::vector<std::int32_t> last_neighbour(n);
  for (std::size_t u = 0; u < n; ++u) {
    std::int32_t last = std::int32_t(u);
    for (std::int64_t k = local_offsets_[u]; k < local_offsets_[u + 1]; ++k) {
      last = std::max(last, local_neighbours_[std::size_t(k)]);
    }
    last_neighbour[u] = last;
  }

  std::vector<Step> steps(n);
  std::vector<std::int32_t> frontier;  // local nodes by slot
  std::vector<std::int32_t> slot_of(n, -1);
  std::int32_t width = 0;
  for (std::int32_t v = 0; v < std::int32_t(n); ++v) {
    Step& step = steps[std::size_t(v)];
    step.width = std::uint32_t(frontier.size());
    step.neighbours = 0;
    step.leaving = last_neighbour[std::size_t(v)] == v ? 1U << step.width : 0U;
    for (std::int64_t k = local_offsets_[std::size_t(v)]; k < local_offsets_[std::size_t(v) + 1]; ++k) {
      const std::int32_t x = local_neighbours_[std::size_t(k)];
      if (x < v) step.neighbours |= 1U << slot_of[std::size_t(x)];
    }
    std::vector<std::int32_t> staying;
    for (std::uint32_t s = 0; s < step.width; ++s) {
      if (last_neighbour[std::size_t(frontier[s])] == v) {
        step.leaving |= 1U << s;
      } else {
        staying.push_back(frontier[s]);
      }
    }
    if (last_neighbour[std::size_t(v)] != v) staying.push_back(v);
    frontier = std::move(staying);
    for (std::size_t s = 0; s < frontier.size(); ++s) slot_of[std::size_t(frontier[s])] = std::int32_t(s);
    width = std::max(width, std::int32_t(frontier.size()));
    if (width > kMaxFrontierWidth) return std::nullopt;
  }

  MemoryBudget budget(memory_budget);
  try {
    // Five bits a slot: twelve slots fit in 64 bits.
    mpz_class result = width <= 12 ? run_steps<std::uint64_t>(steps, budget, stats)
                                   : run_steps<Uint128>(steps, budget, stats);
    if (stats != nullptr) stats->peak_bytes = budget.peak();
    return result;
  } catch (const BudgetExceeded&) {
    if (stats != nullptr) stats->peak_bytes = budget.peak();
    return std::nullopt;
  }
}
