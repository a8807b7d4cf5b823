#include "Miner.h"

#include <algorithm>
#include <limits>
#include <new>
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
  Progress progress(shows_progress(options_.progress, output_.writes_to_terminal()),
                    std::uint64_t(std::max<std::int32_t>(max_node_, 0)));
  progress_ = progress.enabled() ? &progress : nullptr;
  struct Forget {
    Miner& miner;
    ~Forget() { miner.progress_ = nullptr; }
  } forget{*this};
  // A part counts what it would list: the same pieces, by the listing search without writing.
  if (output_.enabled() || options_.part) {
    prepare_listing(progress);
    progress.start("listing");
    const std::uint64_t patterns = enumerate();
    progress.stop();
    if (by_size_) print_lines(listed_by_size().lines());
    print_count_line(patterns);
    return;
  }
  progress.start("counting", "node");
  if (by_size_) {
    const SizeCounts counts = count_sizes();
    progress.stop();
    print_lines(counts.lines());
    print_count_line(counts.total().get_str());
  } else {
    const std::string total = count();
    progress.stop();
    print_count_line(total);
  }
}

namespace {

// The bytes of a node's number in a pattern line, with the space after it.
std::uint32_t label_bytes(std::int32_t node) {
  std::uint32_t digits = 1;
  for (std::int32_t rest = node; rest >= 10; rest /= 10) ++digits;
  return digits + 1;
}

std::uint64_t saturated(const mpz_class& value) {
  return value.fits_ulong_p() ? std::uint64_t(value.get_ui()) : std::numeric_limits<std::uint64_t>::max();
}

}  // namespace

std::optional<Miner::Forecast> Miner::forecast_listing(std::chrono::steady_clock::duration budget) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + budget;
  const std::int64_t largest = largest_pattern(max_node_, graph_.neighbours.size() / 2);
  const SizeCounts columns(bounds_, largest, false);
  if (!counting_) counting_ = std::make_unique<CountingState>(graph_, largest);
  FrontierCounter frontier(graph_);
  constexpr std::uint64_t kMostMemory = std::uint64_t(1) << 28;
  const std::uint64_t memory_budget = std::min(available_memory() / 8, kMostMemory);
  Clock::time_point program_deadline = deadline;
  const FrontierProgress in_time = [&program_deadline](std::uint64_t) {
    return Clock::now() < program_deadline;
  };
  // The search's steps that fit in the time left, at a rate the slowest graphs still reach.
  constexpr double kStepsPerSecond = 20e6;
  const auto steps_left = [deadline] {
    const double seconds = std::chrono::duration<double>(deadline - Clock::now()).count();
    return seconds <= 0 ? std::uint64_t(0) : std::uint64_t(seconds * kStepsPerSecond);
  };
  const NodeWeight weight = label_bytes;
  mpz_class lines, least_bytes, most_bytes;
  std::vector<std::uint8_t> placed(std::size_t(graph_.node_slots()), 0);
  std::vector<std::int32_t> component;
  for (std::int32_t first = 1; first <= max_node_; ++first) {
    if (placed[std::size_t(first)] != 0) continue;
    gather_component(graph_, first, placed, component);
    if (component.size() == 1) {
      if (bounds_.least <= 1) {
        lines += 1;
        least_bytes += label_bytes(first) + 1;
        most_bytes += label_bytes(first) + 1;
      }
      continue;
    }
    if (Clock::now() >= deadline) return std::nullopt;
    std::sort(component.begin(), component.end());
    // The search by size first, for a short try: it settles small and dense components at once,
    // exactly when their numbers have one width.
    std::uint64_t elements = component.size();
    for (const std::int32_t u : component) elements += graph_.of(u).size();
    SizeCounts by_size(bounds_, largest, true);
    bool searched = search_component(component, std::min(16 * elements, steps_left()), by_size);
    const std::uint32_t narrowest = label_bytes(component.front());
    const std::uint32_t widest = label_bytes(component.back());
    if (!searched || narrowest != widest) {
      program_deadline = deadline;
      if (searched) {
        // The lines are known, and the program would only tell their bytes exactly: it may take
        // a small share of the time the listing of this component takes.
        constexpr double kListedPerSecond = 50e6;
        constexpr double kShare = 0.01;
        mpz_class visited;
        for (std::uint32_t size = 0;
             size <= std::min<std::uint32_t>(by_size.columns().last, std::uint32_t(component.size()));
             ++size) {
          visited += by_size.of_size(size);
        }
        const auto share = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(visited.get_d() / kListedPerSecond * kShare));
        program_deadline = std::min(
            deadline, Clock::now() + std::max<Clock::duration>(std::chrono::milliseconds(20), share));
      }
      const FrontierOrder order = frontier.choose_order(component);
      const std::optional<WeightedCounts> counts = frontier.count_weighted(
          order, columns.columns_for(std::int64_t(component.size())), weight, memory_budget, in_time);
      if (counts) {
        for (std::size_t size = std::size_t(bounds_.least); size < counts->sets.size(); ++size) {
          lines += counts->sets[size];
          least_bytes += counts->weights[size] + counts->sets[size];  // a line end each
          most_bytes += counts->weights[size] + counts->sets[size];
        }
        continue;
      }
    }
    if (!searched) searched = search_component(component, steps_left(), by_size);
    if (!searched) return std::nullopt;
    const std::uint32_t last =
        std::min<std::uint32_t>(by_size.columns().last, std::uint32_t(component.size()));
    for (std::uint32_t size = std::uint32_t(bounds_.least); size <= last; ++size) {
      const mpz_class& count = by_size.of_size(size);
      lines += count;
      least_bytes += count * (size * narrowest + 1);
      most_bytes += count * (size * widest + 1);
    }
  }
  return Forecast{saturated(lines), saturated(least_bytes), saturated(most_bytes)};
}

void Miner::prepare_listing(Progress& progress) {
  // The forecast is of the whole run: a part, which may be run because the whole would not fit,
  // goes without it, unchecked and without a share in its progress line.
  if (options_.part) return;
  const std::optional<std::uint64_t> free = options_.space_check ? output_.free_bytes() : std::nullopt;
  if (!free && !progress.enabled()) return;
  // Short beside a listing that it cannot foresee in this time, and long enough for most graphs
  // whose listing takes minutes (BENCHMARKS.md).
  constexpr auto kForecastTime = std::chrono::seconds(1);
  std::optional<Forecast> forecast;
  try {
    forecast = forecast_listing(kForecastTime);
  } catch (const std::bad_alloc&) {
    // As if it had run out of time: the listing goes on without a forecast.
  }
  if (forecast) {
    const bool exact = forecast->least_bytes == forecast->most_bytes;
    progress.set_total(forecast->lines, exact ? forecast->least_bytes : 0);
  }
  if (!free) return;
  if (forecast) {
    // Refused when even the least the lines can take does not fit.
    const std::string refusal =
        space_refusal(output_.name(), forecast->least_bytes, *free, output_.replaces_file());
    if (!refusal.empty()) throw QuarnError(refusal);
    if (forecast->most_bytes <= *free) return;
    note(options_, output_.name() + ": the patterns take from " + format_bytes(forecast->least_bytes) +
                       " to " + format_bytes(forecast->most_bytes) + ", and its file system has " +
                       format_bytes(*free) + " free: the listing may not fit");
    return;
  }
  note(options_, output_.name() +
                     ": the size of the output could not be worked out in a short time, so it was "
                     "not checked against the " +
                     format_bytes(*free) + " free on its file system");
}

void Miner::show_counted(std::uint64_t nodes, const mpz_class& total) {
  progress_->set_roots_done(nodes);
  progress_->set_patterns(saturated(total));
}

void Miner::show_counted(std::uint64_t nodes, const SizeCounts& total) {
  progress_->set_roots_done(nodes);
  progress_->set_patterns(saturated(total.total()));
}

std::uint64_t Miner::enumerate() {
  const Listing listing = list_patterns(graph_, bounds_, threads_, output_, &options_, progress_);
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
  settled_nodes_ = 0;
  for (std::int32_t first = 1; first <= max_node_; ++first) {
    if (placed[std::size_t(first)] != 0) continue;
    gather_component(graph_, first, placed, component);
    if (component.size() == 1) {
      add_isolated_node(total);
      if (progress_ != nullptr && ++settled_nodes_ % 4096 == 0) progress_->set_roots_done(settled_nodes_);
      continue;
    }
    std::sort(component.begin(), component.end());
    count_component(component, road, frontier, memory_budget, stats, total);
    settled_nodes_ += component.size();
    if (progress_ != nullptr) show_counted(settled_nodes_, total);
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
    if (road == CountRoad::automatic || progress_ != nullptr) {
      race = [&, steps = std::uint64_t{0}](std::uint64_t transitions) mutable {
        if (progress_ != nullptr)
          progress_->set_roots_done(settled_nodes_ + std::min(++steps, component.size()));
        if (road != CountRoad::automatic || transitions < 2 * next_try) return true;
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
  if (progress_ != nullptr) {
    progress_->write_erased([&] { note_program_gave_up_now(component_nodes, memory_budget); });
  } else {
    note_program_gave_up_now(component_nodes, memory_budget);
  }
}

void Miner::note_program_gave_up_now(std::size_t component_nodes, std::uint64_t memory_budget) {
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
  const bool unlimited = step_limit == std::numeric_limits<std::uint64_t>::max();
  RootProgress progress;
  if (unlimited && progress_ != nullptr) {
    progress = [this](std::size_t started) { progress_->set_roots_done(settled_nodes_ + started); };
  }
  if (unlimited && threads_ > 1) {
    count_component_patterns_on_threads(graph_, largest_pattern(max_node_, graph_.neighbours.size() / 2),
                                        roots, bounds_.most, threads_, thread_states_, tally, progress);
    return true;
  }
  return count_component_patterns(*counting_, roots, bounds_.most, step_limit, tally, progress);
}
