#include "AttributedMiner.h"

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
  build_level1();
  if (argc == 7) output.open(argv[6], {graph_path, attributes_path});
}

AttributedMiner::AttributedMiner(AttributeTable table, const std::vector<Edge>& edges, std::int32_t support,
                                 std::int32_t graph_size, const std::string& output_name)
    : attributes(std::move(table)), min_sup(support), min_graph_size(graph_size) {
  build_graph(edges);
  build_level1();
  if (!output_name.empty()) output.open(output_name, {});
}

void AttributedMiner::build_graph(const std::vector<Edge>& edges) {
  std::vector<std::uint8_t> keep(edges.size(), 0);
  for (std::size_t i = 0; i < edges.size(); ++i) {
    const Edge e = edges[i];
    keep[i] = e.first != 0 && e.second != 0 && attributes.ones(e.first) >= min_sup &&
              attributes.ones(e.second) >= min_sup &&
              get_shared_properties_count(attributes, e.first, e.second) >= min_sup;
  }
  graph = build_simple_graph(edges, attributes.rows, keep);
}

void AttributedMiner::build_level1() {
  level1_patterns.clear();
  level1_patterns.resize(std::size_t(attributes.rows) + 1);
  for (std::int32_t k = 1; k <= attributes.rows; ++k) {
    if (attributes.ones(k) >= min_sup) {
      level1_patterns[std::size_t(k)] = std::make_unique<AttributedPattern>(k, attributes, graph);
    }
  }
}

void AttributedMiner::process() {
  const std::uint64_t count = enumerate();
  output.finish();
  print_count_line(count);
}

std::uint64_t AttributedMiner::enumerate() {
  for (const auto& start : level1_patterns) {
    if (start) dfs(*start);
  }
  return pattern_count;
}

void AttributedMiner::report(const AttributedPattern& pattern) {
  if (min_graph_size < 0 || pattern.nodes.size() < std::size_t(min_graph_size)) return;
  ++pattern_count;
  if (!output.enabled()) return;
  line.clear();
  pattern.append_line(line);
  output.write(line.data(), line.size());
}

// Depth first from one level-1 pattern, on an explicit stack so that the depth of the search does
// not depend on the process stack. Each frame owns its pattern (but the first) and walks its
// candidates in candidate order.
void AttributedMiner::dfs(const AttributedPattern& start) {
  struct Frame {
    std::unique_ptr<AttributedPattern> owned;
    const AttributedPattern* pattern;
    bool in_second;  // walking neighbors2
    std::set<std::int32_t>::const_iterator next;
    bool stop_after_child;  // the child in progress kept the whole profile
  };
  std::vector<Frame> stack;
  auto enter = [&](std::unique_ptr<AttributedPattern> owned, const AttributedPattern* pattern) {
    if (pattern->is_maximal()) {
      report(*pattern);
      return false;
    }
    stack.push_back(Frame{std::move(owned), pattern, false, pattern->neighbors1.begin(), false});
    return true;
  };
  enter(nullptr, &start);
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const AttributedPattern& pattern = *frame.pattern;
    if (!frame.in_second && frame.next == pattern.neighbors1.end()) {
      frame.in_second = true;
      frame.next = pattern.neighbors2.begin();
    }
    if (frame.stop_after_child || (frame.in_second && frame.next == pattern.neighbors2.end())) {
      stack.pop_back();
      continue;
    }
    const std::int32_t x = *frame.next++;
    if (pattern.covered(x, level1_patterns)) continue;
    frame.stop_after_child = pattern.same_profile(x, level1_patterns);
    auto child = std::make_unique<AttributedPattern>(pattern, x, graph, level1_patterns, min_sup);
    const AttributedPattern* child_pattern = child.get();
    enter(std::move(child), child_pattern);  // may reallocate the stack: frame is not used again
  }
}
