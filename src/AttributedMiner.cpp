#include "AttributedMiner.h"

#include <algorithm>
#include <charconv>

#include "Memory.h"
#include "helpers.h"

AttributedMiner::AttributedMiner(int argc, char** argv)
    : AttributedMiner(argv[2], argv[3],
                      McsThresholds{parse_int_argument("MIN_SUP", argv[4]),
                                    parse_int_argument("MIN_GRAPH_SIZE", argv[5])},
                      RunOptions{argc == 7 ? argv[6] : ""}) {}

AttributedMiner::AttributedMiner(const std::string& graph_path, const std::string& attributes_path,
                                 McsThresholds thresholds, const RunOptions& options)
    : by_size_(options.by_size),
      attributes_(read_attr(attributes_path)),
      min_sup_(thresholds.min_sup),
      min_graph_size_(thresholds.min_graph_size) {
  {
    // The edge list is released once the graph is built.
    const EdgeList edges = read_edges(graph_path, attributes_.rows,
                                      "is above " + std::to_string(attributes_.rows) +
                                          ", the number of lines of the attribute file " + attributes_path);
    build_graph(edges.edges);
  }
  // Refuse a graph whose search tables cannot fit before the output is touched: Linux would rather
  // kill the process half way than fail the allocation.
  const std::uint64_t needed = SearchGraph::bytes_needed(graph_, attributes_, layout_);
  const std::uint64_t available = available_memory();
  if (needed > available) {
    fail(graph_path, "the search tables for this graph and " + attributes_path + " would need " +
                         format_bytes(needed) + " of memory, and " + format_bytes(available) +
                         " is available");
  }
  output_.open(options.output_name, {graph_path, attributes_path});
}

AttributedMiner::AttributedMiner(AttributeTable attributes, const std::vector<Edge>& edges,
                                 McsThresholds thresholds, const RunOptions& options, RowLayout layout)
    : by_size_(options.by_size),
      attributes_(std::move(attributes)),
      min_sup_(thresholds.min_sup),
      min_graph_size_(thresholds.min_graph_size),
      layout_(layout) {
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
  const std::uint64_t patterns = enumerate();
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

std::uint64_t AttributedMiner::enumerate() {
  // A negative MIN_GRAPH_SIZE exceeds every pattern size: nothing can be reported.
  if (min_graph_size_ >= 0) {
    seen_ = NodeMarks(std::size_t(attributes_.rows) + 1);
    const SearchGraph search(graph_, attributes_, min_sup_, layout_);
    for (std::int32_t root = 1; root <= attributes_.rows; ++root) {
      if (attributes_.ones(root) < min_sup_) continue;
      if (output_.enabled()) {
        search_from<true>(root, search);
      } else {
        search_from<false>(root, search);
      }
    }
  }
  output_.finish();
  return pattern_count_;
}

// Depth first from one root on an explicit stack, so that the depth of the search does not depend on
// the process stack. patterns_[d] is the pattern at depth d of the current chain; frames_[d] says
// where its search stands.
template <bool kWriteLines>
void AttributedMiner::search_from(std::int32_t root, const SearchGraph& search) {
  if (patterns_.empty()) {
    patterns_.resize(1);
    frames_.resize(1);
  }
  patterns_[0].start(root, search, seen_);
  frames_[0] = Frame{};
  std::size_t depth = 0;
  for (;;) {
    Frame& frame = frames_[depth];
    if (frame.phase == Phase::entering) {
      if (patterns_[depth].is_maximal()) {
        report<kWriteLines>(depth);
        frame.phase = Phase::done;
      } else {
        frame.phase = Phase::trying;
      }
    }
    if (frame.phase == Phase::trying && extend_by_next_candidate(depth, search)) {
      ++depth;
      continue;
    }
    patterns_[depth].release(seen_);
    if (depth == 0) return;
    --depth;
  }
}

bool AttributedMiner::extend_by_next_candidate(std::size_t depth, const SearchGraph& search) {
  const AttributedPattern& pattern = patterns_[depth];
  std::size_t i = frames_[depth].next;
  while (i < pattern.candidates.size() && pattern.covered(i, search)) ++i;
  if (i == pattern.candidates.size()) return false;
  frames_[depth].next = i + 1;
  if (pattern.same_profile(i, search)) frames_[depth].phase = Phase::done;
  if (patterns_.size() == depth + 1) {
    patterns_.emplace_back();  // invalidates pattern, which is not used again
    frames_.emplace_back();
  }
  patterns_[depth + 1].extend(patterns_[depth], i, search, seen_);
  frames_[depth + 1] = Frame{};
  return true;
}

template <bool kWriteLines>
void AttributedMiner::report(std::size_t depth) {
  if (depth + 1 < std::size_t(min_graph_size_)) return;
  ++pattern_count_;
  if (reported_by_size_.size() <= depth + 1) reported_by_size_.resize(depth + 2, 0);
  ++reported_by_size_[depth + 1];
  if constexpr (kWriteLines) {
    sorted_.clear();
    for (std::size_t d = 0; d <= depth; ++d) sorted_.push_back(patterns_[d].node);
    std::sort(sorted_.begin(), sorted_.end());
    line_.resize(sorted_.size() * 12 + 1);
    char* end = line_.data();
    for (const std::int32_t u : sorted_) {
      end = std::to_chars(end, end + 11, u).ptr;
      *end++ = ' ';
    }
    *end++ = '\n';
    output_.write(line_.data(), std::size_t(end - line_.data()));
  }
}
