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
// complete connected selection (reported to complete_selection), a dropped one, or a state of the
// next step, whose key it returns. Returns kNoState otherwise.
template <class Key, class Complete>
Key settle(const std::uint8_t* labels, const Step& step, Complete&& complete_selection) {
  std::uint32_t present = 0;  // labels on staying slots, as bits
  for (std::uint32_t j = 0; j < step.staying_count; ++j) present |= 1U << labels[step.staying[j]];
  std::uint32_t closed = 0;  // labels whose last slot leaves, as bits
  for (std::uint32_t j = 0; j < step.leaving_count; ++j) closed |= 1U << labels[step.leaving_slots[j]];
  closed &= ~present & ~1U;
  if (closed != 0) {
    // A piece is finished: the selection is complete if it is the only piece there is; otherwise
    // it can never be connected.
    if ((closed & (closed - 1)) == 0 && (present & ~1U) == 0) complete_selection();
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

// The number of selected slots of a state: the labels that are not 0.
template <class Key>
constexpr Key kFirstLabelBits = [] {
  Key bits = 0;
  for (unsigned at = 0; at < 8 * sizeof(Key); at += kLabelBits) bits |= Key(1) << at;
  return bits;
}();
inline int bit_count(std::uint64_t bits) {
  return std::popcount(bits);
}
inline int bit_count(Uint128 bits) {
  return std::popcount(std::uint64_t(bits)) + std::popcount(std::uint64_t(bits >> 64));
}
template <class Key>
std::uint32_t selected_slots(Key key) {
  return std::uint32_t(bit_count((key | key >> 1 | key >> 2 | key >> 3 | key >> 4) & kFirstLabelBits<Key>));
}

// What the states count, as advance() sees it. The plain count: one number a state, the
// selections that lead to it.
template <class KeyType, class Count>
struct OneCount {
  using Key = KeyType;
  using Table = StateTable<Key, Count>;
  using Source = const Count*;

  Count complete = 0U;  // the complete connected selections

  void start_step(std::size_t /*processed*/, const Table& /*states*/, Table& /*next*/) {}
  Source source(const Table& /*states*/, const typename Table::Slot& slot) const { return &slot.count; }
  bool leads_nowhere(Source /*count*/) const { return false; }
  bool keeps(Key /*key*/) const { return true; }
  void finish(Source count, bool /*selected*/) { add_count(complete, *count); }
  void add(Table& next, Key key, Source count, bool /*selected*/) { add_count(next.at(key), *count); }
};

// What the counts by size share: a row a state, the selections that lead to it by their number of
// nodes, as columns (SizeCounts.h). After m steps a row has min(m, last) + 1 columns; leaving the
// step's node out keeps each column where it is, selecting it moves a row one column up. With exact
// columns, a selection that outgrows the last column is dropped, and so is a state with more
// selected nodes than that, or with a row of zeros. Rows adds one column of a row to another
// (add_column) and starts each step (start_step).
template <class Rows, class KeyType, class Number>
struct RowsBySize {
  using Key = KeyType;
  using Table = StateRows<Key, Number>;
  using Source = const Number*;

  RowsBySize(SizeColumns size_columns, std::size_t complete_numbers)
      : columns(size_columns), complete(complete_numbers) {}

  SizeColumns columns;
  std::vector<Number> complete;   // of the complete connected selections, by column
  std::uint32_t from_length = 1;  // the columns of the step's states
  std::uint32_t to_length = 1;    // the columns of the next step's states

  Source source(const Table& states, const typename Table::Slot& slot) const {
    return states.row(slot.count);
  }
  bool leads_nowhere(Source row) const {
    if (columns.last_holds_larger) return false;
    for (std::uint32_t t = 0; t < from_length; ++t) {
      if (row[t] != 0U) return false;
    }
    return true;
  }
  bool keeps(Key key) const { return columns.last_holds_larger || selected_slots(key) <= columns.last; }
  void finish(Source row, bool selected) { add_row(complete.data(), columns.last + 1, row, selected); }
  void add(Table& next, Key key, Source row, bool selected) {
    add_row(next.at(key), to_length, row, selected);
  }

  void add_row(Number* to, std::uint32_t to_size, Source from, bool selected) const {
    const Rows& rows = static_cast<const Rows&>(*this);
    if (!selected) {
      for (std::uint32_t t = 0; t < from_length; ++t) rows.add_column(to, to_size, t, from, t, false);
      return;
    }
    const std::uint32_t moved = std::min(from_length, to_size - 1);
    for (std::uint32_t t = 0; t < moved; ++t) rows.add_column(to, to_size, t + 1, from, t, true);
    if (moved < from_length && columns.last_holds_larger) {
      rows.add_column(to, to_size, to_size - 1, from, from_length - 1, true);
    }
  }
};

// The count by size: a row of counts.
template <class KeyType, class Number>
struct CountsBySize : RowsBySize<CountsBySize<KeyType, Number>, KeyType, Number> {
  using Base = RowsBySize<CountsBySize, KeyType, Number>;
  using typename Base::Source;
  using typename Base::Table;

  explicit CountsBySize(SizeColumns size_columns) : Base(size_columns, std::size_t(size_columns.last) + 1) {}

  void start_step(std::size_t processed, const Table& states, Table& next) {
    this->from_length = states.row_length();
    this->to_length = std::uint32_t(std::min<std::size_t>(processed + 1, this->columns.last)) + 1;
    next.set_row_length(this->to_length);
  }
  void add_column(Number* to, std::uint32_t /*to_size*/, std::uint32_t at, Source from, std::uint32_t t,
                  bool /*selected*/) const {
    to[at] += from[t];
  }
};

// The count by size with weights: a row a state of 2 L numbers for L columns, the selections by
// column and then the sums of their weights by column. Selecting the step's node of weight w moves
// a row one column up, and adds w times the count to the weight sum. 128-bit numbers only: one that
// would not fit gives the count up.
template <class KeyType>
struct WeightedBySize : RowsBySize<WeightedBySize<KeyType>, KeyType, Uint128> {
  using Base = RowsBySize<WeightedBySize, KeyType, Uint128>;
  using typename Base::Source;
  using typename Base::Table;

  WeightedBySize(SizeColumns size_columns, std::vector<std::uint32_t> step_weights)
      : Base(size_columns, 2 * (std::size_t(size_columns.last) + 1)), weights(std::move(step_weights)) {}

  std::vector<std::uint32_t> weights;  // by step
  Uint128 weight = 0;                  // of the step's node

  void start_step(std::size_t processed, const Table& states, Table& next) {
    this->from_length = states.row_length() / 2;
    this->to_length = std::uint32_t(std::min<std::size_t>(processed + 1, this->columns.last)) + 1;
    next.set_row_length(2 * this->to_length);
    weight = weights[processed];
  }

  static void add_to(Uint128& to, Uint128 value) {
    to += value;
    if (to < value) throw GiveUp{};
  }
  void add_column(Uint128* to, std::uint32_t to_size, std::uint32_t at, Source from, std::uint32_t t,
                  bool selected) const {
    const Uint128 count = from[t];
    add_to(to[at], count);
    add_to(to[to_size + at], from[this->from_length + t]);
    if (!selected) return;
    // weight < 2^32: the product fits while count < 2^96
    if ((count >> 96) != 0 && weight != 0 && count > ~Uint128(0) / weight) throw GiveUp{};
    add_to(to[to_size + at], count * weight);
  }
};

// One step: every state either leaves the node out or selects it. The states are taken a batch
// at a time: their successors are worked out and their slots prefetched first, then added, so
// that the cache misses of a batch overlap.
template <class Counts>
void advance(const Step& step, typename Counts::Table& states, typename Counts::Table& next, Counts& counts) {
  using Key = typename Counts::Key;
  using Source = typename Counts::Source;
  constexpr std::size_t kBatch = 16;
  Key pending_keys[2 * kBatch];
  Source pending_counts[2 * kBatch];
  bool pending_selected[2 * kBatch];
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
      const Source count = counts.source(states, slot);
      if (counts.leads_nowhere(count)) continue;
      for (std::uint32_t s = 0; s < step.width; ++s) {
        labels[s] = std::uint8_t(key >> (kLabelBits * s)) & kLabelMask;
      }
      labels[step.width] = 0;
      const Key left_out = settle<Key>(labels, step, [&] { counts.finish(count, false); });
      if (left_out != kNoState<Key>) {
        next.prefetch(left_out);
        pending_keys[pending] = left_out;
        pending_selected[pending] = false;
        pending_counts[pending++] = count;
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
      const Key selected = settle<Key>(joined, step, [&] { counts.finish(count, true); });
      if (selected != kNoState<Key> && counts.keeps(selected)) {
        next.prefetch(selected);
        pending_keys[pending] = selected;
        pending_selected[pending] = true;
        pending_counts[pending++] = count;
      }
    }
    for (std::size_t p = 0; p < pending; ++p) {
      counts.add(next, pending_keys[p], pending_counts[p], pending_selected[p]);
    }
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
template <class Counts>
typename Counts::Table* run_range(const std::vector<Step>& steps, std::size_t begin, std::size_t end,
                                  typename Counts::Table* states, typename Counts::Table* spare,
                                  Counts& counts, RunContext& context) {
  for (std::size_t i = begin; i < end; ++i) {
    context.transitions += states->size();
    counts.start_step(i, *states, *spare);
    advance(steps[i], *states, *spare, counts);
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
  OneCount<Key, Uint128> narrow_counts;
  auto* states = run_range(steps, 0, fast_steps, narrow.get(), narrow_spare.get(), narrow_counts, context);
  OneCount<Key, mpz_class> wide_counts;
  wide_counts.complete = to_mpz(narrow_counts.complete);
  if (fast_steps == steps.size()) return wide_counts.complete;

  StateTable<Key, mpz_class> wide(budget), wide_spare(budget);
  wide.make_room(states->size());
  for (const std::uint32_t i : states->used()) wide.at(states->slot(i).key) = to_mpz(states->slot(i).count);
  narrow.reset();
  narrow_spare.reset();
  run_range(steps, fast_steps, steps.size(), &wide, &wide_spare, wide_counts, context);
  return wide_counts.complete;
}

// The steps after which every number of a count by size still fits in 128 bits. After m steps a
// number counts sets of t of the m nodes, at most C(m, t), which grows with t up to m / 2; a last
// column that holds the larger sizes counts at most 2^m sets.
std::size_t exact_steps_by_size(SizeColumns columns, std::size_t steps) {
  constexpr std::size_t kExactSteps = 127;
  if (columns.last_holds_larger) return std::min(steps, kExactSteps);
  mpz_class limit = 1;
  limit <<= 127;
  mpz_class most_sets;
  std::size_t exact = 0;
  while (exact < steps) {
    const std::size_t next = exact + 1;
    mpz_bin_uiui(most_sets.get_mpz_t(), next, std::min<std::size_t>(columns.last, next / 2));
    if (most_sets >= limit) break;
    exact = next;
  }
  return exact;
}

// The dynamic program by size: 128-bit numbers while they provably fit, GMP integers after that.
template <class Key>
std::vector<mpz_class> run_steps_by_size(const std::vector<Step>& steps, SizeColumns columns,
                                         RunContext& context) {
  MemoryBudget& budget = context.budget;
  const std::size_t fast_steps = exact_steps_by_size(columns, steps.size());
  auto narrow = std::make_unique<StateRows<Key, Uint128>>(budget);
  auto narrow_spare = std::make_unique<StateRows<Key, Uint128>>(budget);
  narrow->make_room(1);
  narrow->at(0)[0] = 1;  // the empty selection, of no node
  CountsBySize<Key, Uint128> narrow_counts(columns);
  auto* states = run_range(steps, 0, fast_steps, narrow.get(), narrow_spare.get(), narrow_counts, context);
  CountsBySize<Key, mpz_class> wide_counts(columns);
  for (std::size_t t = 0; t < wide_counts.complete.size(); ++t) {
    wide_counts.complete[t] = to_mpz(narrow_counts.complete[t]);
  }
  if (fast_steps == steps.size()) return std::move(wide_counts.complete);

  StateRows<Key, mpz_class> wide(budget), wide_spare(budget);
  wide.set_row_length(states->row_length());
  wide.make_room(states->size());
  for (const std::uint32_t i : states->used()) {
    const Uint128* from = states->row(states->slot(i).count);
    mpz_class* to = wide.at(states->slot(i).key);
    for (std::uint32_t t = 0; t < states->row_length(); ++t) to[t] = to_mpz(from[t]);
  }
  narrow.reset();
  narrow_spare.reset();
  run_range(steps, fast_steps, steps.size(), &wide, &wide_spare, wide_counts, context);
  return std::move(wide_counts.complete);
}

// The dynamic program by size with weights, 128-bit only.
template <class Key>
WeightedCounts run_steps_weighted(const std::vector<Step>& steps, SizeColumns columns,
                                  std::vector<std::uint32_t> weights, RunContext& context) {
  MemoryBudget& budget = context.budget;
  auto states = std::make_unique<StateRows<Key, Uint128>>(budget);
  auto spare = std::make_unique<StateRows<Key, Uint128>>(budget);
  states->set_row_length(2);
  states->make_room(1);
  states->at(0)[0] = 1;  // the empty selection, of no node and no weight
  WeightedBySize<Key> counts(columns, std::move(weights));
  run_range(steps, 0, steps.size(), states.get(), spare.get(), counts, context);
  const std::size_t length = std::size_t(columns.last) + 1;
  WeightedCounts result;
  for (std::size_t t = 0; t < length; ++t) {
    result.sets.push_back(to_mpz(counts.complete[t]));
    result.weights.push_back(to_mpz(counts.complete[length + t]));
  }
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

std::optional<std::vector<mpz_class>> FrontierCounter::count_by_size(const FrontierOrder& order,
                                                                     SizeColumns columns,
                                                                     std::uint64_t memory_budget,
                                                                     FrontierStats* stats,
                                                                     const FrontierProgress& progress) {
  loader_.load(order.nodes, local_);
  std::vector<Step> steps;
  const std::int32_t width = build_steps(local_, steps);
  if (stats != nullptr) stats->widest = std::max(stats->widest, width);
  if (width > kMaxFrontierWidth) return std::nullopt;

  RunContext context{MemoryBudget(memory_budget), stats, progress};
  std::optional<std::vector<mpz_class>> result;
  try {
    result = width <= 12 ? run_steps_by_size<std::uint64_t>(steps, columns, context)
                         : run_steps_by_size<Uint128>(steps, columns, context);
  } catch (const GiveUp&) {
    // As in count(): the caller counts by the other road.
  }
  if (stats != nullptr) {
    stats->transitions += context.transitions;
    stats->peak_bytes = std::max(stats->peak_bytes, context.budget.peak());
  }
  return result;
}

std::optional<WeightedCounts> FrontierCounter::count_weighted(const FrontierOrder& order, SizeColumns columns,
                                                              const NodeWeight& weight,
                                                              std::uint64_t memory_budget,
                                                              const FrontierProgress& progress) {
  loader_.load(order.nodes, local_);
  std::vector<Step> steps;
  const std::int32_t width = build_steps(local_, steps);
  if (width > kMaxFrontierWidth) return std::nullopt;
  std::vector<std::uint32_t> weights;
  weights.reserve(order.nodes.size());
  for (const std::int32_t u : order.nodes) weights.push_back(weight(u));

  RunContext context{MemoryBudget(memory_budget), nullptr, progress};
  try {
    return width <= 12 ? run_steps_weighted<std::uint64_t>(steps, columns, std::move(weights), context)
                       : run_steps_weighted<Uint128>(steps, columns, std::move(weights), context);
  } catch (const GiveUp&) {
    return std::nullopt;  // over the budget or 128 bits, or the caller gave up
  }
}
