#include "Miner.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "ByteSource.h"
#include "CountingSearch.h"
#include "JobBoard.h"
#include "ListingRun.h"
#include "Memory.h"
#include "NodeNumbering.h"
#include "helpers.h"

namespace {

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
  // Counting: the counting search's state, one more for each thread when there are several, and
  // the splitting of the graph into components and the orders of each: component marks and lists
  // and the order heuristics' tables by node, and a copy of the component's edges with heap entries
  // by edge.
  const std::uint64_t states = threads > 1 ? threads + 1 : 1;
  constexpr std::uint64_t kComponentsPerNode = 64;
  constexpr std::uint64_t kComponentsPerEdge = 80;
  return {slots * (kGraphPerNode + states * CountingState::kBytesPerNode + kComponentsPerNode),
          lines * (kGraphPerEdge + kComponentsPerEdge) +
              states * std::uint64_t(largest_pattern(edges.max_node, lines)) * CountingState::kBytesPerLevel};
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
  // A part counts with the listing search (see process()), so it needs the listing's memory.
  check_memory(input_name(graph_name), edges, options.output_name.empty() && !options.part, threads_);
  const NodeNumbering numbering = survey_node_numbering(edges, true);
  graph_ = build_graph(edges, get_max_node(edges));
  edges = EdgeList{};  // released before the search's tables take their memory
  max_node_ = std::int32_t(graph_.node_slots() - 1);
  output_.open(options.output_name, {graph_name});
  note_node_numbering(options, input_name(graph_name), numbering);
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

std::uint64_t Miner::enumerate() {
  const Listing listing = list_patterns(graph_, bounds_, threads_, output_, &options_);
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
  counting_ =
      std::make_unique<CountingState>(graph_, largest_pattern(max_node_, graph_.neighbours.size() / 2));
  FrontierCounter frontier(graph_);
  const std::uint64_t memory_budget = available_memory() / 4;
  std::vector<std::uint8_t> placed(std::size_t(graph_.node_slots()), 0);
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
  PatternCount patterns(std::uint32_t(roots.size()));  // a component of k nodes has fewer than 2^k patterns
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

// A search without a step limit takes every thread; the tries of the race stay on one.
template <class Tally>
bool Miner::search_roots(std::span<const std::int32_t> roots, std::uint64_t step_limit, Tally& tally) {
  if (step_limit == std::numeric_limits<std::uint64_t>::max() && threads_ > 1) {
    count_component_patterns_on_threads(graph_, largest_pattern(max_node_, graph_.neighbours.size() / 2),
                                        roots, bounds_.most, threads_, thread_states_, tally);
    return true;
  }
  return count_component_patterns(*counting_, roots, bounds_.most, step_limit, tally);
}
