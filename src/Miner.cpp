#include "Miner.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "ByteSource.h"
#include "JobBoard.h"
#include "ListingRun.h"
#include "Memory.h"
#include "NodeNumbering.h"
#include "helpers.h"

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

// The most nodes a pattern can have: a connected set of k nodes needs k - 1 edges.
std::int64_t largest_pattern(std::int32_t max_node, std::uint64_t edge_count) {
  return std::max<std::int64_t>(0, std::min<std::int64_t>(max_node, std::int64_t(edge_count) + 1));
}

}  // namespace

Miner::MemoryNeed Miner::memory_needed(const EdgeList& edges, bool counting, unsigned threads) {
  // The graph: by node slot its offsets and the builder's marks; by edge line the line and both ends.
  constexpr std::uint64_t kGraphPerNode = sizeof(std::size_t) + sizeof(std::int32_t);
  constexpr std::uint64_t kGraphPerEdge = sizeof(Edge) + 2 * sizeof(std::int32_t);
  const std::uint64_t slots = std::uint64_t(std::int64_t{edges.max_node} + 1);
  const std::uint64_t lines = edges.edges.size();
  if (!counting) {
    // Listing: a search's tables for each thread, and the lines waiting to be written, on top of the
    // graph's.
    return {
        slots * kGraphPerNode,
        lines * kGraphPerEdge + listing_bytes_needed(std::int64_t(slots), 2 * std::int64_t(lines), threads)};
  }
  // Counting: by node slot seen, unseen, the candidates, the pruned and pruned_at; by level of the
  // deepest pattern a frame. It also splits the graph into components and orders each one:
  // component marks and lists and the order heuristics' tables by node, and a copy of the
  // component's edges with heap entries by edge.
  constexpr std::uint64_t kCountingPerNode =
      sizeof(std::uint8_t) + sizeof(std::int32_t) + 2 * sizeof(std::int64_t) + sizeof(std::int32_t) + 64;
  constexpr std::uint64_t kCountingPerEdge = 80;
  return {slots * (kGraphPerNode + kCountingPerNode),
          lines * (kGraphPerEdge + kCountingPerEdge) +
              std::uint64_t(largest_pattern(edges.max_node, lines)) * sizeof(Frame)};
}

namespace {

// Refuses a graph whose tables would not fit in memory, before anything large is allocated: Linux
// would rather kill the process later than fail the allocation.
void check_memory(const std::string& path, const EdgeList& edges, bool counting, unsigned threads) {
  const Miner::MemoryNeed need = Miner::memory_needed(edges, counting, threads);
  const std::uint64_t available = available_memory();
  if (need.node_bytes + need.other_bytes <= available) return;
  if (need.node_bytes > available / 2) {
    fail(path, edges.max_node_line,
         "node number " + std::to_string(edges.max_node) + " is too large: the tables for the nodes 0 to " +
             std::to_string(edges.max_node) + " would need " + format_bytes(need.node_bytes) +
             " of memory, and " + format_bytes(available) + " is available");
  }
  fail(path, "the graph would need " + format_bytes(need.node_bytes + need.other_bytes) + " of memory, and " +
                 format_bytes(available) + " is available");
}

}  // namespace

std::int32_t get_max_node(const EdgeList& edges) {
  return edges.max_node;
}

AdjacencyList build_graph(const EdgeList& edges, std::int32_t max_node) {
  return build_simple_graph(edges.edges, max_node);
}

Miner::Miner(int argc, char** argv) : Miner(argv[2], RunOptions{argc == 4 ? argv[3] : ""}) {}

Miner::Miner(const std::string& graph_path, const RunOptions& options)
    : Miner(read_edges(graph_path), graph_path, options) {}

Miner::Miner(EdgeList edges, const std::string& graph_name, const RunOptions& options)
    : threads_(options.threads != 0 ? options.threads : available_threads()),
      bounds_{options.min_size.value_or(1), options.max_size.value_or(SizeBounds::kNoMost)},
      by_size_(options.by_size),
      options_(options) {
  check_memory(input_name(graph_name), edges, options.output_name.empty(), threads_);
  const NodeNumbering numbering = survey_node_numbering(edges, true);
  graph_ = build_graph(edges, get_max_node(edges));
  edges = EdgeList{};  // released before the search's tables take their memory
  max_node_ = std::int32_t(graph_.node_slots() - 1);
  output_.open(options.output_name, {graph_name});
  note_node_numbering(options, input_name(graph_name), numbering);
}

void Miner::allocate_state() {
  const auto slots = std::size_t(graph_.node_slots());
  seen_.assign(slots, 0);
  candidates_.assign(slots, 0);
  pruned_.assign(slots, 0);
  pruned_at_.assign(slots, 0);
  const std::int64_t depth = largest_pattern(max_node_, graph_.neighbours.size() / 2);
  frames_.assign(std::size_t(depth) + 1, Frame{});
}

void Miner::process() {
  // A part counts what it would list: the same pieces, by the listing search without writing.
  if (output_.enabled() || options_.part) {
    const std::uint64_t patterns = enumerate();
    if (by_size_) print_lines(listed_by_size().lines());
    print_count_line(patterns);
  } else if (by_size_) {
    const SizeCounts counts = count_sizes();
    print_lines(counts.lines());
    print_count_line(counts.total().get_str());
  } else {
    print_count_line(count());
  }
}

// The counting search from one root, in four phases: visit a pattern (prune the candidates that may
// not follow the node added last, then count it), extend it by its next candidate, and, when none is
// left, put the pruned back and return to the parent pattern. Counting needs no order, and it sets
// aside the free candidates, whose neighbours are all seen already: every pattern of the branch
// exists with and without each of them, so a branch with f free candidates is visited once and
// counted 2^f times. A finished root stays seen, so that no later root takes it as a candidate. The
// search gives up after its step limit.
//
// Counting by size (a Tally other than PatternCount) tallies each pattern by its size and free
// candidates instead. Under a most size B it stops at patterns of B - 2 nodes and counts the
// patterns of B - 1 and B nodes of their branches from their candidates (see count_last_sizes).
//
// The state is held in this object for the root's whole search, and every method is inlined into
// run() and run() into its caller, so that the object lives in registers: stores through the marks
// and the counts of unseen neighbours could otherwise alias its counters and force reloads.
template <class Tally = PatternCount>
class CountingSearch {
  static constexpr bool kBySize = !std::is_same_v<Tally, PatternCount>;

 public:
  CountingSearch(Miner& miner, std::int32_t root, Tally* total)
      : miner_(miner),
        root_(root),
        total_(total),
        is_seen_(miner.seen_.data()),
        candidates_(miner.candidates_.data()),
        pruned_(miner.pruned_.data()),
        slot_of_pruned_(miner.pruned_at_.data()),
        unseen_(miner.unseen_.data()),
        neighbours_(miner.graph_.neighbours.data()),
        offsets_(miner.graph_.offsets.data()),
        frames_(miner.frames_.data()),
        most_(miner.bounds_.most),
        steps_(miner.steps_left_) {}

  // Returns false when the search runs out of steps before the root is done.
  [[gnu::always_inline]] bool run() {
    start();
    for (;;) {
      if (!visit()) return false;
      while (!extend()) {
        put_back_pruned();
        if (depth_ == 0) {
          finish();
          return true;
        }
        return_to_parent();
      }
    }
  }

 private:
  // The counts of unseen neighbours serve the prune passes that set free candidates aside.
  // Counting by size under a most size B has no such pass at B - 2 nodes or more, so the nodes that
  // patterns of that size bring are only marked.
  [[gnu::always_inline]] bool counts_unseen(std::int32_t depth) const {
    return !kBySize || depth + 3 < most_;
  }

  [[gnu::always_inline]] void discover(std::int32_t node, std::int32_t depth) {
    if (counts_unseen(depth)) {
      miner_.see(node);
    } else {
      is_seen_[node] = 1;
    }
  }

  [[gnu::always_inline]] void forget(std::int64_t candidate_key, std::int32_t depth) {
    if (counts_unseen(depth)) {
      miner_.unsee(node_of(candidate_key));
    } else {
      is_seen_[node_of(candidate_key)] = 0;
    }
  }

  // The root alone: its neighbours are the candidates.
  [[gnu::always_inline]] void start() {
    miner_.see(root_);  // for good: see finish()
    for (std::size_t k = offsets_[root_]; k < offsets_[root_ + 1]; ++k) {
      const std::int32_t u = neighbours_[k];
      if (is_seen_[u] != 0) continue;  // a root already done
      discover(u, 0);
      candidates_[candidate_count_++] = make_key(1, u, root_);
    }
    frames_[0] = Miner::Frame{root_, 0, 0, 0, 0};
  }

  // A new pattern: prunes the candidates that may not follow the node added last, sets the free
  // ones aside the same way, and counts the pattern. False when out of steps.
  [[gnu::always_inline]] bool visit() {
    Miner::Frame& frame = frames_[depth_];
    frame.pruned_base = pruned_count_;
    frame.next_slot = 0;
    if constexpr (kBySize) {
      if (depth_ + 3 >= most_) return count_last_sizes(frame);
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
    if (steps_-- == 0) return false;
    frame.exponent = (depth_ == 0 ? 0 : frames_[depth_ - 1].exponent) + free_count;
    if constexpr (kBySize) {
      total_->add(std::uint32_t(depth_ + 1), frame.exponent);
    } else {
      total_->add_power_of_two(frame.exponent);
    }
    return true;
  }

  // A pattern of s = B - 2 or more nodes under the most size B, counted with the patterns of its
  // branch, which is not searched. Its children are the k candidates that may follow the node added
  // last, each with the f free nodes set aside above it (counted at s + 1 nodes); the patterns of
  // B = s + 2 nodes without a free node are the pairs of those candidates (the child of the first
  // has the second) and each candidate with an unseen neighbour (which it would bring).
  bool count_last_sizes(Miner::Frame& frame) {
    if (steps_-- == 0) return false;
    const auto size = std::uint32_t(depth_ + 1);
    const auto most = std::uint32_t(most_);
    const std::uint32_t free = size < most && depth_ > 0 ? frames_[depth_ - 1].exponent : 0;
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
    total_->add(size, free);
    if (children != 0) total_->add(size + 1, size + 1 < most ? free : 0, children);
    if (size + 2 == most && children * (children - 1) / 2 + brought != 0) {
      total_->add(most, 0, children * (children - 1) / 2 + brought);
    }
    frame.exponent = free;
    frame.next_slot = candidate_count_;
    return true;
  }

  // Extends the pattern by its next candidate, which brings its unseen neighbours; the last
  // candidate takes the place of the one added. Returns false when no candidate is left.
  [[gnu::always_inline]] bool extend() {
    Miner::Frame& frame = frames_[depth_];
    const std::int32_t slot = frame.next_slot;
    if (slot >= candidate_count_) return false;
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
    Miner::Frame& child = frames_[++depth_];
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
    const Miner::Frame& frame = frames_[depth_];
    const std::int64_t v = frame.key;
    const std::int32_t brought_base = frame.brought_base;
    for (std::int32_t k = brought_base; k < candidate_count_; ++k) forget(candidates_[k], depth_);
    candidate_count_ = brought_base;
    Miner::Frame& parent = frames_[--depth_];
    const std::int32_t j = parent.next_slot;
    candidates_[candidate_count_++] = candidates_[j];
    candidates_[j] = v;
    parent.next_slot = j + 1;
  }

  // The candidates are the root's neighbours again, exactly those it discovered; the root stays seen.
  [[gnu::always_inline]] void finish() {
    for (std::int32_t k = 0; k < candidate_count_; ++k) forget(candidates_[k], 0);
    miner_.steps_left_ = steps_;
  }

  Miner& miner_;
  const std::int32_t root_;
  Tally* const total_;
  std::uint8_t* const is_seen_;
  std::int64_t* const candidates_;
  std::int64_t* const pruned_;
  std::int32_t* const slot_of_pruned_;
  const std::int32_t* const unseen_;
  const std::int32_t* const neighbours_;
  const std::size_t* const offsets_;
  Miner::Frame* const frames_;
  const std::int32_t most_;
  std::int32_t candidate_count_ = 0;
  std::int32_t pruned_count_ = 0;
  std::int32_t depth_ = 0;
  std::uint64_t steps_;
};

std::uint64_t Miner::enumerate() {
  const Listing listing = list_patterns(graph_, bounds_, threads_, output_, options_.part);
  listed_by_size_ = listing.by_size;
  output_.finish();
  return listing.lines;
}

// Counting needs no order, so each connected component is counted on its own, by the cheaper of
// two roads; both give the same number.
//
// The dynamic program over a frontier (FrontierCount.h) takes time exponential in the width of the
// frontier and linear in the size of the component, however many patterns there are. The counting
// search takes time in proportion to the patterns it cannot skip, but it skips a lot on dense graphs
// and is the only road when the frontier is too wide. So a component first gets a short try of the
// search, which settles small and dense components at once; then an order, and if its frontier is
// narrow enough the dynamic program, racing the search (see count_component) within a memory
// budget; whatever is left over goes to the search without a limit.
std::string Miner::count(CountRoad road, FrontierStats* stats) {
  if (bounds_.limits()) {
    SizeCounts counts(bounds_, largest_pattern(max_node_, graph_.neighbours.size() / 2), false);
    count_components(road, stats, counts);
    return counts.total().get_str();
  }
  mpz_class total;
  count_components(road, stats, total);
  return total.get_str();
}

SizeCounts Miner::count_sizes(CountRoad road, FrontierStats* stats) {
  SizeCounts counts(bounds_, largest_pattern(max_node_, graph_.neighbours.size() / 2), true);
  count_components(road, stats, counts);
  return counts;
}

SizeCounts Miner::listed_by_size() const {
  SizeCounts counts(bounds_, std::int64_t(listed_by_size_.size()) - 1, true);
  for (std::size_t size = 0; size < listed_by_size_.size(); ++size) {
    counts.add(size, mpz_class(static_cast<unsigned long>(listed_by_size_[size])));
  }
  return counts;
}

namespace {

void add_isolated_node(mpz_class& total) {
  total += 1;
}
void add_isolated_node(SizeCounts& total) {
  total.add(1, 1);
}

// Counts a component by the dynamic program and adds the result to total; false when the program
// gives up.
bool add_frontier_count(FrontierCounter& frontier, const FrontierOrder& order, std::uint64_t memory_budget,
                        FrontierStats* stats, const FrontierProgress& progress, mpz_class& total) {
  const std::optional<mpz_class> patterns = frontier.count(order, memory_budget, stats, progress);
  if (patterns) total += *patterns;
  return patterns.has_value();
}
bool add_frontier_count(FrontierCounter& frontier, const FrontierOrder& order, std::uint64_t memory_budget,
                        FrontierStats* stats, const FrontierProgress& progress, SizeCounts& total) {
  const std::optional<std::vector<mpz_class>> by_size = frontier.count_by_size(
      order, total.columns_for(std::int64_t(order.nodes.size())), memory_budget, stats, progress);
  if (by_size) total.add_columns(*by_size);
  return by_size.has_value();
}

}  // namespace

template <class Total>
void Miner::count_components(CountRoad road, FrontierStats* stats, Total& total) {
  allocate_state();
  unseen_.assign(seen_.size(), 0);
  for (std::int32_t u = 0; u <= max_node_; ++u) unseen_[std::size_t(u)] = std::int32_t(graph_.of(u).size());
  if (max_node_ >= 0) see(0);  // node 0 is never part of a pattern
  FrontierCounter frontier(graph_);
  const std::uint64_t memory_budget = available_memory() / 4;
  std::vector<std::uint8_t> placed(seen_.size(), 0);
  std::vector<std::int32_t> component;
  for (std::int32_t first = 1; first <= max_node_; ++first) {
    if (placed[std::size_t(first)] != 0) continue;
    gather_component(graph_, first, placed, component);
    if (component.size() == 1) {
      add_isolated_node(total);
      continue;
    }
    std::sort(component.begin(), component.end());
    count_component(component, road, frontier, memory_budget, stats, total);
  }
}

template <class Total>
void Miner::count_component(std::span<const std::int32_t> component, CountRoad road,
                            FrontierCounter& frontier, std::uint64_t memory_budget, FrontierStats* stats,
                            Total& total) {
  constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();
  if (road == CountRoad::search) {
    search_component(component, kUnlimited, total);
    return;
  }
  // A first try of the search, about as long as choosing an order would take.
  std::uint64_t next_try = 0;
  if (road == CountRoad::automatic) {
    constexpr std::uint64_t kStepsPerElement = 16;
    std::uint64_t elements = component.size();
    for (const std::int32_t u : component) elements += graph_.of(u).size();
    next_try = kStepsPerElement * elements;
    if (search_component(component, next_try, total)) return;
  }
  const FrontierOrder order = frontier.choose_order(component);
  if (order.width <= kMaxFrontierWidth) {
    // Neither road's time can be known in advance, so they race: while the program runs, the
    // search gets tries of doubling length, each once the program has processed as many states
    // as the try has steps. A step of the search (a pattern and a pass over its candidates)
    // costs a few times less than a transition of the program, so the search takes a fraction of
    // the time, and a component costs a small factor of the faster road's time (BENCHMARKS.md).
    bool searched = false;
    FrontierProgress race;
    if (road == CountRoad::automatic) {
      race = [&](std::uint64_t transitions) {
        if (transitions < 2 * next_try) return true;
        next_try *= 2;
        searched = search_component(component, next_try, total);
        return !searched;
      };
    }
    if (add_frontier_count(frontier, order, memory_budget, stats, race, total)) return;
    if (searched) return;
    note_program_gave_up(component.size(), memory_budget);
  }
  search_component(component, kUnlimited, total);
}

// The search that takes over can run for hours where the program would have taken seconds, so the
// user hears of it, once a run.
void Miner::note_program_gave_up(std::size_t component_nodes, std::uint64_t memory_budget) {
  if (noted_give_up_) return;
  noted_give_up_ = true;
  note(options_, "the count's dynamic program outgrew its memory (" + format_bytes(memory_budget) +
                     ", a quarter of what is available) on a component of " +
                     std::to_string(component_nodes) +
                     " nodes; the search counts it instead, pattern by pattern, which can take very long on "
                     "this graph. Counting or listing the patterns up to a size (--max-size), or a smaller "
                     "graph, may be what you want.");
}

bool Miner::search_component(std::span<const std::int32_t> roots, std::uint64_t step_limit,
                             mpz_class& total) {
  // A component of k nodes has fewer than 2^k patterns.
  PatternCount patterns(std::uint32_t(roots.size()));
  if (!search_roots(roots, step_limit, patterns)) return false;
  total += patterns.value();
  return true;
}

bool Miner::search_component(std::span<const std::int32_t> roots, std::uint64_t step_limit,
                             SizeCounts& total) {
  PatternCountBySize patterns;
  if (!search_roots(roots, step_limit, patterns)) return false;
  patterns.add_to(total);
  return true;
}

template <class Tally>
bool Miner::search_roots(std::span<const std::int32_t> roots, std::uint64_t step_limit, Tally& tally) {
  steps_left_ = step_limit;
  for (const std::int32_t root : roots) {
    if (CountingSearch<Tally>(*this, root, &tally).run()) continue;
    // Out of steps: every mark of this component goes, and the counts of unseen neighbours with it.
    for (const std::int32_t u : roots) seen_[std::size_t(u)] = 0;
    for (const std::int32_t u : roots) {
      std::int32_t not_seen = 0;
      for (const std::int32_t x : graph_.of(u)) not_seen += seen_[std::size_t(x)] == 0 ? 1 : 0;
      unseen_[std::size_t(u)] = not_seen;
    }
    return false;
  }
  return true;
}

void Miner::see(std::int32_t node) {
  seen_[std::size_t(node)] = 1;
  for (const std::int32_t x : graph_.of(node)) --unseen_[std::size_t(x)];
}

void Miner::unsee(std::int32_t node) {
  seen_[std::size_t(node)] = 0;
  for (const std::int32_t x : graph_.of(node)) ++unseen_[std::size_t(x)];
}
