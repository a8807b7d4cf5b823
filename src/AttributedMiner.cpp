#include "AttributedMiner.h"

#include <algorithm>
#include <charconv>

#include "ByteSource.h"
#include "Memory.h"
#include "NodeNumbering.h"
#include "helpers.h"

AttributedMiner::AttributedMiner(int argc, char** argv)
    : AttributedMiner(argv[2], argv[3],
                      McsThresholds{parse_int_argument("MIN_SUP", argv[4]),
                                    parse_int_argument("MIN_GRAPH_SIZE", argv[5])},
                      RunOptions{argc == 7 ? argv[6] : ""}) {}

AttributedMiner::AttributedMiner(const std::string& graph_path, const std::string& attributes_path,
                                 McsThresholds thresholds, const RunOptions& options)
    : attributes_(read_attr(attributes_path)),
      min_sup_(thresholds.min_sup),
      min_graph_size_(thresholds.min_graph_size) {
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
  const std::uint64_t needed = SearchGraph::bytes_needed(graph_, attributes_, layout_) +
                               search_bytes_needed(graph_, attributes_, layout_);
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
    : attributes_(std::move(attributes)),
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
  print_count_line(enumerate());
}

AttributedMiner::Search::Search(const SearchGraph& graph) : pattern(graph) {
  // Sized once: a pattern holds at most one node per node with a neighbour, and a root.
  const std::size_t most_nodes = graph.linkage().linked_nodes + 1;
  frames.reserve(most_nodes);
  sorted.reserve(most_nodes);
  line.reserve(most_nodes * 12 + 1);
}

std::uint64_t AttributedMiner::search_bytes_needed(const AdjacencyList& graph,
                                                   const AttributeTable& attributes, RowLayout layout) {
  const std::uint64_t most_nodes = linkage_of(graph).linked_nodes + 1;
  return AttributedPattern::bytes_needed(graph, attributes, layout) +
         most_nodes * (sizeof(Frame) + sizeof(std::int32_t) + 12) + 1;
}

std::uint64_t AttributedMiner::enumerate() {
  // A negative MIN_GRAPH_SIZE exceeds every pattern size: nothing can be reported.
  if (min_graph_size_ >= 0) {
    const SearchGraph graph(graph_, attributes_, min_sup_, layout_);
    Search search(graph);
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
// the process stack. The pattern grows and shrinks in place along the chain; frames[d] says where the
// search stands at depth d, for the pattern of d + 1 nodes.
template <bool kWriteLines>
void AttributedMiner::search_from(std::int32_t root, Search& search) {
  AttributedPattern& pattern = search.pattern;
  std::vector<Frame>& frames = search.frames;
  pattern.start(root);
  frames.assign(1, Frame{});
  std::size_t depth = 0;
  for (;;) {
    Frame& frame = frames[depth];
    if (frame.phase == Phase::entering) {
      if (pattern.is_maximal()) {
        report<kWriteLines>(search);
        frame.phase = Phase::done;
      } else {
        frame.phase = Phase::trying;
      }
    }
    if (frame.phase == Phase::trying && extend_by_next_candidate(depth, search)) {
      ++depth;
      continue;
    }
    pattern.retract();
    frames.pop_back();
    if (depth == 0) return;
    --depth;
  }
}

bool AttributedMiner::extend_by_next_candidate(std::size_t depth, Search& search) {
  AttributedPattern& pattern = search.pattern;
  Frame& frame = search.frames[depth];
  const std::size_t count = pattern.candidate_count();
  std::size_t i = frame.next;
  while (i < count && pattern.covered(i)) ++i;
  if (i == count) return false;
  frame.next = i + 1;
  if (pattern.same_profile(i)) frame.phase = Phase::done;
  pattern.extend(i);
  search.frames.emplace_back();  // within the capacity reserved: nothing is allocated
  return true;
}

template <bool kWriteLines>
void AttributedMiner::report(Search& search) {
  const AttributedPattern& pattern = search.pattern;
  if (pattern.depth() < std::size_t(min_graph_size_)) return;
  ++pattern_count_;
  if constexpr (kWriteLines) {
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
    output_.write(line.data(), std::size_t(end - line.data()));
  }
}
