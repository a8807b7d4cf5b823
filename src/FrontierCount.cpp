#include "FrontierCount.h"

#include <algorithm>
#include <bit>
#include <memory>
#include <utility>

#include "StateTable.h"

namespace {

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
std::int32_t build_steps(const LocalGraph& graph, std::vector<Step>& steps) {
  const std::uint32_t n = graph.size();
  std::vector<std::uint32_t> last_neighbour(n);
  for (std::uint32_t u = 0; u < n; ++u) {
    std::uint32_t last = u;
    for (const std::uint32_t x : graph.of(u)) last = std::max(last, x);
    last_neighbour[u] = last;
  }
  steps.resize(n);
  std::vector<std::uint32_t> frontier;  // local nodes by slot
  std::vector<std::uint32_t> staying;
  std::vector<std::uint32_t> slot_of(n, 0);
  std::int32_t width = 0;
  for (std::uint32_t v = 0; v < n && width <= kMaxFrontierWidth; ++v) {
    Step& step = steps[v];
    step.width = std::uint32_t(frontier.size());
    step.neighbours = 0;
    step.leaving = last_neighbour[v] == v ? 1U << step.width : 0U;
    for (const std::uint32_t x : graph.of(v)) {
      if (x < v) step.neighbours |= 1U << slot_of[x];
    }
    staying.clear();
    for (std::uint32_t s = 0; s < step.width; ++s) {
      if (last_neighbour[frontier[s]] == v) {
        step.leaving |= 1U << s;
      } else {
        staying.push_back(frontier[s]);
      }
    }
    if (last_neighbour[v] != v) staying.push_back(v);
    std::swap(frontier, staying);
    for (std::uint32_t s = 0; s < frontier.size(); ++s) slot_of[frontier[s]] = s;
    width = std::max(width, std::int32_t(frontier.size()));
    step.list_slots();
  }
  return width;
}

}  // namespace

FrontierCounter::FrontierCounter(const AdjacencyList& graph) : loader_(graph) {}

FrontierOrder FrontierCounter::choose_order(std::span<const std::int32_t> component) {
  loader_.load(component, local_);
  FrontierOrder order = choose_local_order(local_);
  for (std::int32_t& u : order.nodes) u = component[std::size_t(u)];
  return order;
}

std::optional<mpz_class> FrontierCounter::count(const FrontierOrder& order, std::uint64_t memory_budget,
                                                FrontierStats* stats, const FrontierProgress& progress) {
  loader_.load(order.nodes, local_);  // local numbers are now places in the order
  std::vector<Step> steps;
  const std::int32_t width = build_steps(local_, steps);
  if (stats != nullptr) stats->widest = std::max(stats->widest, width);
  if (width > kMaxFrontierWidth) return std::nullopt;

  RunContext context{MemoryBudget(memory_budget), stats, progress};
  std::optional<mpz_class> result;
  try {
    // Five bits a slot: twelve slots fit in 64 bits.
    result = width <= 12 ? run_steps<std::uint64_t>(steps, context) : run_steps<Uint128>(steps, context);
  } catch (const GiveUp&) {
    // Over the budget, or the caller gave up: no result, and the caller counts by the other road.
  }
  if (stats != nullptr) {
    stats->transitions += context.transitions;
    stats->peak_bytes = std::max(stats->peak_bytes, context.budget.peak());
  }
  return result;
}
