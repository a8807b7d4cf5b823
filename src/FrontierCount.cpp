#include "FrontierCount.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
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

// The width and cost of an order of the loaded component (local nodes), or false once it passes
// give_up_cost or the widest frontier a state can describe.
bool measure_order(const std::vector<std::int64_t>& offsets, const std::vector<std::int32_t>& neighbours,
                   double give_up_cost, FrontierOrder& order) {
  const std::size_t n = order.nodes.size();
  std::vector<std::int32_t> place(n);
  for (std::size_t i = 0; i < n; ++i) place[std::size_t(order.nodes[i])] = std::int32_t(i);
  // A node joins the frontier when it has a later neighbour, and leaves after its last one.
  std::vector<std::int32_t> last(n);
  std::vector<std::int32_t> retired_at(n, 0);
  for (std::size_t u = 0; u < n; ++u) {
    last[u] = place[u];
    for (std::int64_t k = offsets[u]; k < offsets[u + 1]; ++k) {
      last[u] = std::max(last[u], place[std::size_t(neighbours[std::size_t(k)])]);
    }
    if (last[u] > place[u]) ++retired_at[std::size_t(last[u])];
  }
  order.width = 0;
  order.cost = 0;
  std::int32_t frontier = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const bool stays = last[std::size_t(order.nodes[i])] > std::int32_t(i);
    frontier += (stays ? 1 : 0) - retired_at[i];
    order.width = std::max(order.width, frontier);
    order.cost += std::ldexp(1.0, frontier);
    if (order.width > kMaxFrontierWidth || order.cost >= give_up_cost) return false;
  }
  return true;
}

// A depth-first order from start that enters a node's branches narrowest first. In a depth-first
// order the frontier holds the nodes on the path from the start that still have branches (or, in a
// graph that is not a tree, back edges) to come; a node stays on it while its earlier branches are
// taken, so the widest branch should come last. A branch's rank is what it needs: a leaf 0, and a
// node the larger of its widest branch's rank and its second widest's plus one. On a tree this is
// close to the narrowest order there is, and at most the base-2 logarithm of the size.
void ranked_depth_first(std::int32_t start, const std::vector<std::int64_t>& offsets,
                        const std::vector<std::int32_t>& neighbours, std::vector<std::int32_t>& nodes) {
  const std::size_t n = offsets.size() - 1;
  std::vector<std::int32_t> parent(n, -1);
  std::vector<std::int32_t> visit;  // preorder of the depth-first tree
  std::vector<std::pair<std::int32_t, std::int64_t>> stack{{start, offsets[std::size_t(start)]}};
  parent[std::size_t(start)] = start;
  visit.push_back(start);
  while (!stack.empty()) {
    auto& [u, next] = stack.back();
    if (next == offsets[std::size_t(u) + 1]) {
      stack.pop_back();
      continue;
    }
    const std::int32_t x = neighbours[std::size_t(next++)];
    if (parent[std::size_t(x)] >= 0) continue;
    parent[std::size_t(x)] = u;
    visit.push_back(x);
    stack.emplace_back(x, offsets[std::size_t(x)]);
  }
  // Ranks bottom up, then each node's children narrowest first.
  std::vector<std::int32_t> widest(n, -1), second(n, -1), rank(n, 0);
  for (std::size_t i = visit.size(); i-- > 1;) {
    const std::size_t u = std::size_t(visit[i]);
    rank[u] = std::max(widest[u], second[u] + 1);
    const std::size_t p = std::size_t(parent[u]);
    if (rank[u] > widest[p]) {
      second[p] = widest[p];
      widest[p] = rank[u];
    } else {
      second[p] = std::max(second[p], rank[u]);
    }
  }
  std::vector<std::vector<std::int32_t>> children(n);
  for (std::size_t i = 1; i < visit.size(); ++i)
    children[std::size_t(parent[std::size_t(visit[i])])].push_back(visit[i]);
  nodes.clear();
  std::vector<std::int32_t> pending{start};
  while (!pending.empty()) {
    const std::int32_t u = pending.back();
    pending.pop_back();
    nodes.push_back(u);
    std::vector<std::int32_t>& below = children[std::size_t(u)];
    // Pushed widest first, so that the narrowest is taken next.
    std::stable_sort(below.begin(), below.end(), [&rank](std::int32_t a, std::int32_t b) {
      return rank[std::size_t(a)] > rank[std::size_t(b)];
    });
    pending.insert(pending.end(), below.begin(), below.end());
  }
}

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
  // The slots 0..width that stay, in order, and those that leave: the masks as lists.
  std::uint8_t staying_count;
  std::uint8_t leaving_count;
  std::uint8_t staying[kMaxFrontierWidth + 1];
  std::uint8_t leaving_slots[kMaxFrontierWidth + 1];

  void list_slots() {
    staying_count = 0;
    leaving_count = 0;
    for (std::uint32_t s = 0; s <= width; ++s) {
      if ((leaving >> s & 1U) != 0) {
        leaving_slots[leaving_count++] = std::uint8_t(s);
      } else {
        staying[staying_count++] = std::uint8_t(s);
      }
    }
  }
};

constexpr int kLabelBits = 5;
constexpr std::uint8_t kLabelMask = (1 << kLabelBits) - 1;
constexpr std::uint8_t kFreshLabel = kLabelMask;  // never a canonical label: those are at most 25

struct GiveUp {};

class MemoryBudget {
 public:
  explicit MemoryBudget(std::uint64_t limit) : limit_(limit) {}
  void take(std::uint64_t bytes) {
    if (bytes > limit_ - used_) throw GiveUp{};
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

// Storage for the state tables, in large pages when it fills one: a table is read at random, one
// slot a state. Small tables (most components are small) take ordinary memory.
template <class T>
struct LargePageAllocator {
  using value_type = T;
  LargePageAllocator() = default;
  template <class U>
  explicit LargePageAllocator(const LargePageAllocator<U>&) {}
  T* allocate(std::size_t n) {
    constexpr std::size_t kLargePage = std::size_t(2) << 20;
    const std::size_t bytes = n * sizeof(T);
    if (bytes >= kLargePage) return static_cast<T*>(allocate_large_pages(bytes));
    void* memory = std::malloc(bytes);
    if (memory == nullptr) throw std::bad_alloc();
    return static_cast<T*>(memory);
  }
  void deallocate(T* p, std::size_t) { std::free(p); }
  bool operator==(const LargePageAllocator&) const = default;
};

// A key no state has: a slot's five bits never reach the fresh label in a canonical key.
template <class Key>
constexpr Key kNoState = ~Key(0);

// What a slot costs beyond itself: a GMP integer also owns its limbs on the heap.
template <class Count>
constexpr std::uint64_t kHeapBytes = 0;
template <>
constexpr std::uint64_t kHeapBytes<mpz_class> = 48;

// The states after a step: open addressing with linear probing over slots that hold the key and
// its count, so that a lookup costs one cache miss, and a list of the slots in use, so that the next
// step visits only those. At most half of the slots are used. The next step empties each slot as
// it reads it, so the table is empty again for the step after, without a pass over all its slots.
// The storage is kept for the whole count and charged to the budget.
template <class Key, class Count>
class StateTable {
 public:
  struct Slot {
    Key key = kNoState<Key>;
    Count count = 0U;
  };

  explicit StateTable(MemoryBudget& budget) : budget_(budget) {}
  StateTable(const StateTable&) = delete;
  StateTable& operator=(const StateTable&) = delete;
  ~StateTable() { budget_.give_back(charged_); }

  std::size_t size() const { return used_.size(); }
  std::span<const std::uint32_t> used() const { return used_; }
  Slot& slot(std::uint32_t i) { return slots_[i]; }
  void prefetch_slot(std::uint32_t i) const { __builtin_prefetch(&slots_[i], 1); }
  // Forgets the list of used slots; every slot must have been emptied.
  void forget_used() { used_.clear(); }

  // Room for more new states without moving the slots, so that prefetched slots stay valid.
  void make_room(std::size_t more) {
    if (2 * (size() + more) > slots_.size()) grow(2 * (size() + more));
  }

  void prefetch(Key key) const { __builtin_prefetch(&slots_[std::size_t(hash_key(key) >> shift_)], 1); }

  // The count of a state, a new zero count when the state is new. make_room() must have made room.
  Count& at(Key key) {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = std::size_t(hash_key(key) >> shift_);; i = (i + 1) & mask) {
      Slot& slot = slots_[i];
      if (slot.key == key) return slot.count;
      if (slot.key == kNoState<Key>) {
        slot.key = key;
        slot.count = 0U;
        used_.push_back(std::uint32_t(i));
        return slot.count;
      }
    }
  }

 private:
  void grow(std::size_t least) {
    const std::size_t capacity = std::max<std::size_t>(64, std::bit_ceil(least));
    if (capacity > std::numeric_limits<std::uint32_t>::max()) throw GiveUp{};
    const std::uint64_t bytes =
        capacity * (sizeof(Slot) + kHeapBytes<Count>)+capacity / 2 * sizeof(std::uint32_t);
    budget_.take(bytes);
    std::vector<Slot, LargePageAllocator<Slot>> old(capacity);
    std::swap(old, slots_);
    const std::vector<std::uint32_t> old_used = std::move(used_);
    used_.clear();
    used_.reserve(capacity / 2);
    budget_.give_back(charged_);
    charged_ = bytes;
    shift_ = unsigned(64 - std::countr_zero(capacity));
    for (const std::uint32_t i : old_used) at(old[i].key) = std::move(old[i].count);
  }

  MemoryBudget& budget_;
  std::uint64_t charged_ = 0;
  std::vector<Slot, LargePageAllocator<Slot>> slots_;
  std::vector<std::uint32_t> used_;
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
// complete connected selection (added to complete), a dropped one, or a state of the next step,
// whose key it returns. Returns kNoState otherwise.
template <class Key, class Count>
Key settle(const std::uint8_t* labels, const Step& step, const Count& count, Count& complete) {
  std::uint32_t present = 0;  // labels on staying slots, as bits
  for (std::uint32_t j = 0; j < step.staying_count; ++j) present |= 1U << labels[step.staying[j]];
  std::uint32_t closed = 0;  // labels whose last slot leaves, as bits
  for (std::uint32_t j = 0; j < step.leaving_count; ++j) closed |= 1U << labels[step.leaving_slots[j]];
  closed &= ~present & ~1U;
  if (closed != 0) {
    // A piece is finished: the selection is complete if it is the only piece there is; otherwise
    // it can never be connected.
    if ((closed & (closed - 1)) == 0 && (present & ~1U) == 0) add_count(complete, count);
    return kNoState<Key>;
  }
  // Canonical labels: numbered by first appearance, without branches on the labels.
  std::uint8_t canonical[kLabelMask + 1] = {};
  std::uint8_t next_label = 1;
  Key key = 0;
  for (std::uint32_t j = 0; j < step.staying_count; ++j) {
    const std::uint8_t label = labels[step.staying[j]];
    const std::uint8_t known = canonical[label];
    const bool fresh = known == 0 && label != 0;
    const std::uint8_t value = fresh ? next_label : known;
    canonical[label] = value;
    next_label = std::uint8_t(next_label + (fresh ? 1 : 0));
    key |= Key(value) << (kLabelBits * j);
  }
  return key;
}

// One step: every state either leaves the node out or selects it. The states are taken a batch
// at a time: their successors are worked out and their slots prefetched first, then added, so
// that the cache misses of a batch overlap.
template <class Key, class Count>
void advance(const Step& step, StateTable<Key, Count>& states, StateTable<Key, Count>& next,
             Count& complete) {
  constexpr std::size_t kBatch = 16;
  Key pending_keys[2 * kBatch];
  const Count* pending_counts[2 * kBatch];
  std::uint8_t labels[kMaxFrontierWidth + 1];
  std::uint8_t joined[kMaxFrontierWidth + 1];
  const std::span<const std::uint32_t> used = states.used();
  for (std::size_t first = 0; first < used.size(); first += kBatch) {
    const std::size_t last = std::min(used.size(), first + kBatch);
    for (std::size_t i = last; i < std::min(used.size(), last + kBatch); ++i) states.prefetch_slot(used[i]);
    next.make_room(2 * kBatch);
    std::size_t pending = 0;
    for (std::size_t i = first; i < last; ++i) {
      auto& slot = states.slot(used[i]);
      const Key key = slot.key;
      slot.key = kNoState<Key>;  // the count stays readable until this step is over
      const Count& count = slot.count;
      for (std::uint32_t s = 0; s < step.width; ++s) {
        labels[s] = std::uint8_t(key >> (kLabelBits * s)) & kLabelMask;
      }
      labels[step.width] = 0;
      const Key left_out = settle<Key>(labels, step, count, complete);
      if (left_out != kNoState<Key>) {
        next.prefetch(left_out);
        pending_keys[pending] = left_out;
        pending_counts[pending++] = &count;
      }

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
      const Key selected = settle<Key>(joined, step, count, complete);
      if (selected != kNoState<Key>) {
        next.prefetch(selected);
        pending_keys[pending] = selected;
        pending_counts[pending++] = &count;
      }
    }
    for (std::size_t p = 0; p < pending; ++p) add_count(next.at(pending_keys[p]), *pending_counts[p]);
  }
  states.forget_used();
}

// What every step of a count reports to and is limited by.
struct RunContext {
  MemoryBudget budget;
  FrontierStats* stats;
  const FrontierProgress& progress;
  std::uint64_t transitions = 0;
};

// Runs the steps [begin, end) and returns the table that holds the states after them.
template <class Key, class Count>
StateTable<Key, Count>* run_range(const std::vector<Step>& steps, std::size_t begin, std::size_t end,
                                  StateTable<Key, Count>* states, StateTable<Key, Count>* spare,
                                  Count& complete, RunContext& context) {
  for (std::size_t i = begin; i < end; ++i) {
    context.transitions += states->size();
    advance(steps[i], *states, *spare, complete);
    if (context.stats != nullptr) {
      context.stats->peak_states = std::max<std::uint64_t>(context.stats->peak_states, spare->size());
    }
    std::swap(states, spare);
    if (context.progress && !context.progress(context.transitions)) throw GiveUp{};
  }
  return states;
}

// The dynamic program over all steps. While at most 127 nodes are processed, the states count
// subsets of those nodes, so every count (and their sum) is below 2^127: 128-bit counts are exact.
// From there on the counts are GMP integers.
template <class Key>
mpz_class run_steps(const std::vector<Step>& steps, RunContext& context) {
  MemoryBudget& budget = context.budget;
  constexpr std::size_t kExactSteps = 127;
  const std::size_t fast_steps = std::min(steps.size(), kExactSteps);
  auto narrow = std::make_unique<StateTable<Key, Uint128>>(budget);
  auto narrow_spare = std::make_unique<StateTable<Key, Uint128>>(budget);
  narrow->make_room(1);
  narrow->at(0) = 1;  // the empty selection
  Uint128 complete = 0;
  auto* states = run_range(steps, 0, fast_steps, narrow.get(), narrow_spare.get(), complete, context);
  mpz_class result = to_mpz(complete);
  if (fast_steps == steps.size()) return result;

  StateTable<Key, mpz_class> wide(budget), wide_spare(budget);
  wide.make_room(states->size());
  for (const std::uint32_t i : states->used()) wide.at(states->slot(i).key) = to_mpz(states->slot(i).count);
  narrow.reset();
  narrow_spare.reset();
  run_range(steps, fast_steps, steps.size(), &wide, &wide_spare, result, context);
  return result;
}

// The steps of a component whose nodes are numbered by their places in the order, and the widest
// frontier they pass through (counted up to the first step past the widest a state can describe).
std::int32_t build_steps(const std::vector<std::int64_t>& offsets,
                         const std::vector<std::int32_t>& neighbours, std::vector<Step>& steps) {
  const std::size_t n = offsets.size() - 1;
  std::vector<std::int32_t> last_neighbour(n);
  for (std::size_t u = 0; u < n; ++u) {
    std::int32_t last = std::int32_t(u);
    for (std::int64_t k = offsets[u]; k < offsets[u + 1]; ++k) {
      last = std::max(last, neighbours[std::size_t(k)]);
    }
    last_neighbour[u] = last;
  }
  steps.resize(n);
  std::vector<std::int32_t> frontier;  // local nodes by slot
  std::vector<std::int32_t> staying;
  std::vector<std::int32_t> slot_of(n, -1);
  std::int32_t width = 0;
  for (std::int32_t v = 0; v < std::int32_t(n) && width <= kMaxFrontierWidth; ++v) {
    Step& step = steps[std::size_t(v)];
    step.width = std::uint32_t(frontier.size());
    step.neighbours = 0;
    step.leaving = last_neighbour[std::size_t(v)] == v ? 1U << step.width : 0U;
    for (std::int64_t k = offsets[std::size_t(v)]; k < offsets[std::size_t(v) + 1]; ++k) {
      const std::int32_t x = neighbours[std::size_t(k)];
      if (x < v) step.neighbours |= 1U << slot_of[std::size_t(x)];
    }
    staying.clear();
    for (std::uint32_t s = 0; s < step.width; ++s) {
      if (last_neighbour[std::size_t(frontier[s])] == v) {
        step.leaving |= 1U << s;
      } else {
        staying.push_back(frontier[s]);
      }
    }
    if (last_neighbour[std::size_t(v)] != v) staying.push_back(v);
    std::swap(frontier, staying);
    for (std::size_t s = 0; s < frontier.size(); ++s) slot_of[std::size_t(frontier[s])] = std::int32_t(s);
    width = std::max(width, std::int32_t(frontier.size()));
    step.list_slots();
  }
  return width;
}

}  // namespace

void gather_component(const AdjacencyList& graph, std::int32_t first, std::vector<std::uint8_t>& placed,
                      std::vector<std::int32_t>& component) {
  component.assign(1, first);
  placed[std::size_t(first)] = 1;
  for (std::size_t head = 0; head < component.size(); ++head) {
    for (const std::int32_t x : graph.of(component[head])) {
      if (x != 0 && placed[std::size_t(x)] == 0) {
        placed[std::size_t(x)] = 1;
        component.push_back(x);
      }
    }
  }
}

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
  // An order whose frontier stays at about two nodes leaves the dynamic program nothing to save.
  constexpr double kGoodEnough = 4;
  OrderGrower grower(local_offsets_, local_neighbours_);
  FrontierOrder tried;
  const double good_enough = kGoodEnough * double(component.size());
  for (const std::int32_t start : {one_end, other_end, least_degree}) {
    for (const OrderRule rule : {OrderRule::least_growth, OrderRule::least_growth_from_the_end,
                                 OrderRule::breadth_first, OrderRule::fewest_unprocessed}) {
      if (best.cost > good_enough && grower.grow(start, rule, best.cost, tried)) std::swap(best, tried);
    }
    if (best.cost > good_enough) {
      ranked_depth_first(start, local_offsets_, local_neighbours_, tried.nodes);
      if (measure_order(local_offsets_, local_neighbours_, best.cost, tried)) std::swap(best, tried);
    }
  }
  for (std::int32_t& u : best.nodes) u = component[std::size_t(u)];
  return best;
}

std::optional<mpz_class> FrontierCounter::count(const FrontierOrder& order, std::uint64_t memory_budget,
                                                FrontierStats* stats, const FrontierProgress& progress) {
  load_component(order.nodes);  // local numbers are now places in the order
  std::vector<Step> steps;
  const std::int32_t width = build_steps(local_offsets_, local_neighbours_, steps);
  if (stats != nullptr) stats->widest = std::max(stats->widest, width);
  if (width > kMaxFrontierWidth) return std::nullopt;

  RunContext context{MemoryBudget(memory_budget), stats, progress};
  std::optional<mpz_class> result;
  try {
    // Five bits a slot: twelve slots fit in 64 bits.
    result = width <= 12 ? run_steps<std::uint64_t>(steps, context) : run_steps<Uint128>(steps, context);
  } catch (const GiveUp&) {
  }
  if (stats != nullptr) {
    stats->transitions += context.transitions;
    stats->peak_bytes = std::max(stats->peak_bytes, context.budget.peak());
  }
  return result;
}
