#include "reference_mcs.h"

#include "AttributedMiner.h"

ReferencePattern::ReferencePattern(std::int32_t node, const AttributeTable& attributes,
                                   const AdjacencyList& graph)
    : level(1), root(node), nodes{node}, profile(attributes.attribute_count, attributes.row(node)) {
  for (const std::int32_t w : graph.of(node)) {
    if (w > node) {
      neighbors1.insert(w);
    } else {
      neighbors0.insert(w);
    }
  }
}

ReferencePattern::ReferencePattern(const ReferencePattern& parent, std::int32_t node,
                                   const AdjacencyList& graph, const ReferenceLevel1& level1_patterns,
                                   int min_sup)
    : level(parent.level + 1),
      root(parent.root),
      nodes(parent.nodes),
      profile(parent.profile, level1_patterns[std::size_t(node)]->profile) {
  nodes.insert(node);
  auto keeps_support = [&](std::int32_t u) {
    return profile.count_shared_ones(level1_patterns[std::size_t(u)]->profile) >= min_sup;
  };
  for (const std::int32_t u : parent.neighbors0) {
    if (keeps_support(u)) neighbors0.insert(u);
  }
  // The added node splits its own set: what came before it is excluded, what came after stays a
  // candidate. A node from neighbors2 also excludes all of neighbors1.
  const bool from_first = parent.neighbors1.count(node) != 0;
  const std::set<std::int32_t>& split = from_first ? parent.neighbors1 : parent.neighbors2;
  if (from_first) {
    for (const std::int32_t u : parent.neighbors2) {
      if (keeps_support(u)) neighbors2.insert(u);
    }
  } else {
    for (const std::int32_t u : parent.neighbors1) {
      if (keeps_support(u)) neighbors0.insert(u);
    }
  }
  for (const std::int32_t u : split) {
    if (u == node || !keeps_support(u)) continue;
    if (u < node) {
      neighbors0.insert(u);
    } else {
      neighbors1.insert(u);
    }
  }
  for (const std::int32_t w : graph.of(node)) {
    if (nodes.count(w) != 0 || neighbors0.count(w) != 0 || neighbors1.count(w) != 0 ||
        neighbors2.count(w) != 0) {
      continue;
    }
    if (!keeps_support(w)) continue;
    if (w > root) {
      neighbors2.insert(w);
    } else {
      neighbors0.insert(w);
    }
  }
}

bool ReferencePattern::covered(std::int32_t node, const ReferenceLevel1& level1_patterns) const {
  const BitMap extended(profile, level1_patterns[std::size_t(node)]->profile);
  auto keeps_all = [&](std::int32_t u) {
    return BitMap(profile, level1_patterns[std::size_t(u)]->profile).covers(extended);
  };
  for (const std::int32_t u : neighbors0) {
    if (keeps_all(u)) return true;
  }
  for (const std::int32_t u : neighbors1) {
    if (u == node) return false;
    if (keeps_all(u)) return true;
  }
  for (const std::int32_t u : neighbors2) {
    if (u == node) return false;
    if (keeps_all(u)) return true;
  }
  return false;
}

bool ReferencePattern::same_profile(std::int32_t node, const ReferenceLevel1& level1_patterns) const {
  return profile.equals(BitMap(profile, level1_patterns[std::size_t(node)]->profile));
}

void ReferencePattern::append_line(std::string& line) const {
  for (const std::int32_t u : nodes) {
    line += std::to_string(u);
    line += ' ';
  }
  line += '\n';
}

namespace {

struct Search {
  const AdjacencyList& graph;
  const ReferenceLevel1& level1_patterns;
  int min_sup;
  int min_graph_size;
  std::string lines;

  void dfs(const ReferencePattern& pattern) {
    if (pattern.is_maximal()) {
      if (min_graph_size >= 0 && pattern.nodes.size() >= std::size_t(min_graph_size))
        pattern.append_line(lines);
      return;
    }
    for (const std::set<std::int32_t>* candidates : {&pattern.neighbors1, &pattern.neighbors2}) {
      for (const std::int32_t x : *candidates) {
        if (pattern.covered(x, level1_patterns)) continue;
        {
          const auto child = std::make_unique<ReferencePattern>(pattern, x, graph, level1_patterns, min_sup);
          dfs(*child);
        }
        if (pattern.same_profile(x, level1_patterns)) return;
      }
    }
  }
};

}  // namespace

std::string reference_mcs_lines(const AttributeTable& attributes, const std::vector<Edge>& edges, int min_sup,
                                int min_graph_size) {
  const std::vector<std::uint8_t> keep = cohesive_edges(attributes, edges, min_sup);
  const AdjacencyList graph = build_simple_graph(edges, attributes.rows, keep);
  ReferenceLevel1 level1_patterns(std::size_t(attributes.rows) + 1);
  for (std::int32_t k = 1; k <= attributes.rows; ++k) {
    if (attributes.ones(k) >= min_sup) {
      level1_patterns[std::size_t(k)] = std::make_unique<ReferencePattern>(k, attributes, graph);
    }
  }
  Search search{graph, level1_patterns, min_sup, min_graph_size, {}};
  for (const auto& start : level1_patterns) {
    if (start) search.dfs(*start);
  }
  return search.lines;
}

AttributeTable attribute_table(const std::vector<std::vector<int>>& rows) {
  std::string text;
  for (const std::vector<int>& row : rows) {
    for (const int value : row) text += std::to_string(value) + " ";
    text += "\n";
  }
  LineReader reader("a.txt", text);
  return read_attr(reader);
}
