#include "AttributedMiner.h"

#include <algorithm>
#include <charconv>

AttributedMiner::AttributedMiner(int argc, char** argv) {
  const std::string graph_path = argv[2];
  const std::string attributes_path = argv[3];
  min_sup = parse_int_argument("MIN_SUP", argv[4]);
  min_graph_size = parse_int_argument("MIN_GRAPH_SIZE", argv[5]);
  attributes = read_attr(attributes_path);
  {
    const EdgeList edges = read_edges(graph_path, attributes.rows,
                                      "is above " + std::to_string(attributes.rows) +
                                          ", the number of lines of the attribute file " + attributes_path);
    build_graph(edges.edges);
  }
  // Refuse a graph whose search tables cannot fit before the output is touched: Linux would rather
  // kill the process half way than fail the allocation.
  const std::uint64_t needed = SearchGraph::bytes_needed(graph, attributes, layout);
  const std::uint64_t available = available_memory();
  if (needed > available) {
    fail(graph_path, "the search tables for this graph and " + attributes_path + " would need " +
                         format_bytes(needed) + " of memory, and " + format_bytes(available) + " is available");
  }
  if (argc == 7) output.open(argv[6], {graph_path, attributes_path});
}

AttributedMiner::AttributedMiner(AttributeTable table, const std::vector<Edge>& edges, std::int32_t support,
                                 std::int32_t graph_size, const std::string& output_name, RowLayout row_layout)
    : attributes(std::move(table)), min_sup(support), min_graph_size(graph_size), layout(row_layout) {
  build_graph(edges);
  if (!output_name.empty()) output.open(output_name, {});
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

void AttributedMiner::build_graph(const std::vector<Edge>& edges) {
  graph = build_simple_graph(edges, attributes.rows, cohesive_edges(attributes, edges, min_sup));
  // The search reads neighbour lists in ascending order; nothing else depends on their order.
  for (std::int32_t u = 0; u < graph.node_slots(); ++u) {
    std::sort(graph.neighbours.begin() + graph.offsets[std::size_t(u)],
              graph.neighbours.begin() + graph.offsets[std::size_t(u) + 1]);
  }
}

void AttributedMiner::process() {
  print_count_line(enumerate());
}

std::uint64_t AttributedMiner::enumerate() {
  // A negative MIN_GRAPH_SIZE exceeds every pattern size: nothing can be reported.
  if (min_graph_size >= 0) {
    seen = NodeMarks(std::size_t(attributes.rows) + 1);
    const SearchGraph search(graph, attributes, min_sup, layout);
    for (std::int32_t root = 1; root <= attributes.rows; ++root) {
      if (attributes.ones(root) < min_sup) continue;
      if (output.enabled()) {
        search_from<true>(root, search);
      } else {
        search_from<false>(root, search);
      }
    }
  }
  output.finish();
  return pattern_count;
}

// Depth first from one root on an explicit stack, so that the depth of the search does not depend on
// the process stack. patterns[d] is the pattern at depth d of the current chain; frames[d] says
// which of its candidates comes next.
template <bool kWriteLines>
void AttributedMiner::search_from(std::int32_t root, const SearchGraph& search) {
  if (patterns.empty()) {
    patterns.resize(1);
    frames.resize(1);
  }
  patterns[0].start(root, search, seen);
  std::size_t depth = 0;
  bool entering = true;
  for (;;) {
    AttributedPattern& pattern = patterns[depth];
    Frame& frame = frames[depth];
    bool done = false;
    if (entering) {
      entering = false;
      frame = Frame{};
      if (pattern.is_maximal()) {
        report<kWriteLines>(depth);
        done = true;
      }
    } else {
      done = frame.stop_after_child;
    }
    if (!done) {
      std::size_t i = frame.next;
      while (i < pattern.candidates.size() && pattern.covered(i, search)) ++i;
      if (i < pattern.candidates.size()) {
        frame.next = i + 1;
        frame.stop_after_child = pattern.same_profile(i, search);
        if (patterns.size() == depth + 1) {
          patterns.emplace_back();  // invalidates pattern and frame, which are not used again
          frames.emplace_back();
        }
        patterns[depth + 1].extend(patterns[depth], i, search, seen);
        ++depth;
        entering = true;
        continue;
      }
    }
    patterns[depth].release(seen);
    if (depth == 0) return;
    --depth;
  }
}

template <bool kWriteLines>
void AttributedMiner::report(std::size_t depth) {
  if (depth + 1 < std::size_t(min_graph_size)) return;
  ++pattern_count;
  if constexpr (kWriteLines) {
    sorted.clear();
    for (std::size_t d = 0; d <= depth; ++d) sorted.push_back(patterns[d].node);
    std::sort(sorted.begin(), sorted.end());
    line.resize(sorted.size() * 12 + 1);
    char* end = line.data();
    for (const std::int32_t u : sorted) {
      end = std::to_chars(end, end + 11, u).ptr;
      *end++ = ' ';
    }
    *end++ = '\n';
    output.write(line.data(), std::size_t(end - line.data()));
  }
}
