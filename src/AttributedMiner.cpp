#include "AttributedMiner.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <mutex>

#include "ByteSource.h"
#include "Memory.h"
#include "NodeNumbering.h"
#include "PartPlan.h"
#include "SearchShapes.h"
#include "helpers.h"

AttributedMiner::AttributedMiner(int argc, char** argv)
    : AttributedMiner(argv[2], argv[3],
                      McsThresholds{parse_int_argument("MIN_SUP", argv[4]),
                                    parse_int_argument("MIN_GRAPH_SIZE", argv[5])},
                      RunOptions{argc == 7 ? argv[6] : ""}) {}

AttributedMiner::AttributedMiner(const std::string& graph_path, const std::string& attributes_path,
                                 McsThresholds thresholds, const RunOptions& options)
    : threads_(options.threads != 0 ? options.threads : available_threads()),
      attributes_(read_attr(attributes_path)),
      min_sup_(thresholds.min_sup),
      min_graph_size_(thresholds.min_graph_size),
      by_size_(options.by_size),
      options_(options),
      progress_choice_(options.progress) {
  NodeNumbering numbering;
  {
    // The edge list is released once the graph is built.
    const EdgeList edges =
        read_edges(graph_path, attributes_.rows,
                   "is above " + std::to_string(attributes_.rows) +
                       ", the number of lines of the attribute file " + input_name(attributes_path));
    // Nodes are the attribute rows here, so nodes without edges are no sign of a numbering slip.
    numbering = survey_node_numbering(edges, false);
    build_graph(edges.edges);
  }
  // Refuse a graph whose search tables cannot fit before the output is touched: Linux would rather
  // kill the process half way than fail the allocation.
  // Every thread has a search of its own, and lines waiting to be written.
  const std::uint64_t needed = SearchGraph::bytes_needed(graph_, attributes_, layout_) +
                               threads_ * (search_bytes_needed(graph_, attributes_, layout_) +
                                           (threads_ > 1 ? JobBoard::bytes_per_worker() : 0));
  const std::uint64_t available = available_memory();
  if (needed > available) {
    fail(input_name(graph_path), "the search tables for this graph and " + input_name(attributes_path) +
                                     " would need " + format_bytes(needed) + " of memory, and " +
                                     format_bytes(available) + " is available");
  }
  output_.open(options.output_name, {graph_path, attributes_path});
  note_node_numbering(options, input_name(graph_path), numbering);
}

AttributedMiner::AttributedMiner(AttributeTable attributes, const std::vector<Edge>& edges,
                                 McsThresholds thresholds, const RunOptions& options, RowLayout layout)
    : threads_(options.threads != 0 ? options.threads : available_threads()),
      attributes_(std::move(attributes)),
      min_sup_(thresholds.min_sup),
      min_graph_size_(thresholds.min_graph_size),
      layout_(layout),
      by_size_(options.by_size),
      options_(options),
      progress_choice_(options.progress) {
  build_graph(edges);
  output_.open(options.output_name, {});
}

std::vector<std::uint8_t> cohesive_edges(const AttributeTable& attributes, const std::vector<Edge>& edges,
                                         std::int32_t min_sup) {
  std::vector<std::uint8_t> keep(edges.size(), 0);
  for (std::size_t i = 0; i < edges.size(); ++i) {
    const Edge e = edges[i];
    keep[i] = e.first != 0 && e.second != 0 && attributes.ones(e.first) >= min_sup &&
              attributes.ones(e.second) >= min_sup &&
              get_shared_properties_count(attributes, e.first, e.second) >= min_sup;
  }
  return keep;
}

AdjacencyList build_cohesive_graph(const AttributeTable& attributes, const std::vector<Edge>& edges,
                                   std::int32_t min_sup) {
  AdjacencyList graph =
      build_simple_graph(edges, attributes.rows, cohesive_edges(attributes, edges, min_sup));
  // The search reads neighbour lists in ascending order; nothing else depends on their order.
  for (std::size_t u = 0; u + 1 < graph.offsets.size(); ++u) {
    const auto begin = graph.neighbours.begin() + std::ptrdiff_t(graph.offsets[u]);
    const auto end = graph.neighbours.begin() + std::ptrdiff_t(graph.offsets[u + 1]);
    std::sort(begin, end);
  }
  return graph;
}

void AttributedMiner::build_graph(const std::vector<Edge>& edges) {
  graph_ = build_cohesive_graph(attributes_, edges, min_sup_);
}

void AttributedMiner::process() {
  Progress progress(shows_progress(progress_choice_, output_.writes_to_terminal()),
                    std::uint64_t(std::max<std::int32_t>(attributes_.rows, 0)));
  progress_ = progress.enabled() ? &progress : nullptr;
  struct Forget {
    AttributedMiner& miner;
    ~Forget() { miner.progress_ = nullptr; }
  } forget{*this};
  progress.start(output_.enabled() ? "listing" : "counting");
  const std::uint64_t patterns = enumerate();
  progress.stop();
  if (by_size_) print_lines(reported_by_size().lines());
  print_count_line(patterns);
}

SizeCounts AttributedMiner::reported_by_size() const {
  SizeCounts counts(SizeBounds{}, std::int64_t(reported_by_size_.size()) - 1, true);
  for (std::size_t size = 0; size < reported_by_size_.size(); ++size) {
    counts.add(size, mpz_class(static_cast<unsigned long>(reported_by_size_[size])));
  }
  return counts;
}

AttributedMiner::Search::Search(const SearchGraph& graph) : pattern(graph) {
  // Sized once: a pattern holds at most one node per node with a neighbour, and a root.
  const std::size_t most_nodes = graph.linkage().linked_nodes + 1;
  frames.reserve(most_nodes);
  sorted.reserve(most_nodes);
  line.reserve(most_nodes * 12 + 1);
  by_size.assign(most_nodes + 1, 0);
}

void AttributedMiner::tell_progress(Search& search) const {
  progress_->add(search.patterns - search.shown_patterns, search.bytes - search.shown_bytes);
  search.shown_patterns = search.patterns;
  search.shown_bytes = search.bytes;
}

void AttributedMiner::add_tally(const Search& search) {
  if (reported_by_size_.size() < search.by_size.size()) reported_by_size_.resize(search.by_size.size(), 0);
  for (std::size_t size = 0; size < search.by_size.size(); ++size)
    reported_by_size_[size] += search.by_size[size];
}

std::uint64_t AttributedMiner::search_bytes_needed(const AdjacencyList& graph,
                                                   const AttributeTable& attributes, RowLayout layout) {
  const std::uint64_t most_nodes = linkage_of(graph).linked_nodes + 1;
  return AttributedPattern::bytes_needed(graph, attributes, layout) +
         most_nodes * (sizeof(Frame) + sizeof(std::int32_t) + 12 + sizeof(std::uint64_t)) + 1;
}

std::uint64_t AttributedMiner::enumerate() {
  std::uint64_t patterns = 0;
  // A negative MIN_GRAPH_SIZE exceeds every pattern size: nothing can be reported.
  if (min_graph_size_ >= 0) {
    const SearchGraph graph(graph_, attributes_, min_sup_, layout_);
    const std::vector<std::int32_t> all_roots = roots();
    PartPieces part;
    if (options_.part) {
      AttributedShape shape(graph, min_graph_size_);
      part = plan_part(shape, all_roots, options_);
    } else if (!all_roots.empty()) {
      part.runs.push_back({0, all_roots.size(), {}});  // every root (a run of whole roots is never empty)
    }
    JobBoard::NextPiece next = next_piece_of(part, all_roots);
    if (progress_ != nullptr) {
      next = JobBoard::telling_roots(
          std::move(next), [this](std::int32_t root) { progress_->set_roots_done(std::uint64_t(root)); });
    }
    if (threads_ > 1) {
      patterns = enumerate_on_threads(graph, std::move(next));
    } else {
      Search search(graph);
      for (Piece piece; next(piece);) {
        if (output_.enabled()) {
          search_piece(piece, search, &output_, nullptr);
        } else {
          search_piece<PatternOutput>(piece, search, nullptr, nullptr);
        }
        show_progress(search);
      }
      patterns = search.patterns;
      add_tally(search);
    }
  }
  output_.finish();
  return patterns;
}

std::vector<std::int32_t> AttributedMiner::roots() const {
  std::vector<std::int32_t> roots;
  for (std::int32_t root = 1; root <= attributes_.rows; ++root) {
    if (attributes_.ones(root) >= min_sup_) roots.push_back(root);
  }
  return roots;
}

std::uint64_t AttributedMiner::enumerate_on_threads(const SearchGraph& graph, JobBoard::NextPiece next) {
  JobBoard::WriteBlock write_block;
  if (output_.enabled())
    write_block = [this](const char* data, std::size_t size) { output_.write_block(data, size); };
  JobBoard board(threads_, std::move(next), write_block, {});
  std::atomic<std::uint64_t> patterns{0};
  std::mutex tally_mutex;
  board.run([&](JobBoard::Worker& worker) {
    Search search(graph);
    while (const Piece* piece = worker.take()) {
      if (output_.enabled()) {
        search_piece(*piece, search, &worker, &worker);
      } else {
        search_piece<JobBoard::Worker>(*piece, search, nullptr, &worker);
      }
      show_progress(search);
    }
    patterns += search.patterns;
    const std::lock_guard lock(tally_mutex);
    add_tally(search);
  });
  return patterns;
}

// Depth first on an explicit stack, so that the depth of the search does not depend on the process
// stack. The pattern grows and shrinks in place along the chain; frames[d] says where the search
// stands at depth d below the piece's own pattern. A whole root reports its own pattern too; a piece
// split off a search starts with its pattern's candidates, from the first it is given.
template <class Out>
void AttributedMiner::search_piece(const Piece& piece, Search& search, Out* out, JobBoard::Worker* worker) {
  AttributedPattern& pattern = search.pattern;
  std::vector<Frame>& frames = search.frames;
  pattern.start(piece.root);
  for (const std::uint32_t index : piece.path) pattern.extend(index);
  frames.assign(1, Frame{});
  if (!piece.own_line) frames[0] = Frame{Phase::trying, piece.first_child, piece.last_child};
  std::size_t depth = 0;
  for (;;) {
    Frame& frame = frames[depth];
    if (frame.phase == Phase::entering) {
      if (worker != nullptr && worker->split_wanted()) offer_work(piece, search, *worker);
      if (pattern.is_maximal()) {
        report(search, out);
        frame.phase = Phase::done;
      } else {
        frame.phase = Phase::trying;
      }
    }
    if (frame.phase == Phase::trying && extend_by_next_candidate(depth, search)) {
      ++depth;
      continue;
    }
    frames.pop_back();
    if (depth == 0) break;
    pattern.retract();
    --depth;
  }
  for (std::size_t level = 0; level <= piece.path.size(); ++level) pattern.retract();
}

void AttributedMiner::offer_work(const Piece& piece, Search& search, JobBoard::Worker& worker) {
  const AttributedPattern& pattern = search.pattern;
  std::vector<Frame>& frames = search.frames;
  const std::size_t base = piece.path.size();
  for (std::size_t d = 0; d < frames.size(); ++d) {
    Frame& frame = frames[d];
    if (frame.phase != Phase::trying) continue;
    const std::size_t end = std::min(frame.end, pattern.candidate_count_at(base + d));
    if (frame.next >= end) continue;
    Piece rest{piece.root, piece.path, std::uint32_t(frame.next), std::uint32_t(end), false};
    for (std::size_t k = 0; k < d; ++k) rest.path.push_back(std::uint32_t(frames[k].next - 1));
    if (worker.offer(std::move(rest))) frame.end = frame.next;
    return;
  }
}

bool AttributedMiner::extend_by_next_candidate(std::size_t depth, Search& search) {
  AttributedPattern& pattern = search.pattern;
  Frame& frame = search.frames[depth];
  const std::size_t count = std::min(pattern.candidate_count(), frame.end);
  std::size_t i = frame.next;
  while (i < count && pattern.covered(i)) ++i;
  if (i >= count) return false;
  frame.next = i + 1;
  if (pattern.same_profile(i)) frame.phase = Phase::done;
  pattern.extend(i);
  search.frames.emplace_back();  // within the capacity reserved: nothing is allocated
  return true;
}

template <class Out>
void AttributedMiner::report(Search& search, Out* out) {
  const AttributedPattern& pattern = search.pattern;
  if (pattern.depth() < std::size_t(min_graph_size_)) return;
  ++search.patterns;
  ++search.by_size[pattern.depth()];
  if (out == nullptr) return;
  std::vector<std::int32_t>& sorted = search.sorted;
  sorted.clear();
  for (std::size_t d = 0; d < pattern.depth(); ++d) sorted.push_back(pattern.node_at(d));
  std::sort(sorted.begin(), sorted.end());
  std::vector<char>& line = search.line;
  line.resize(sorted.size() * 12 + 1);
  char* end = line.data();
  for (const std::int32_t u : sorted) {
    end = std::to_chars(end, end + 11, u).ptr;
    *end++ = ' ';
  }
  *end++ = '\n';
  search.bytes += std::size_t(end - line.data());
  out->write(line.data(), std::size_t(end - line.data()));
}
