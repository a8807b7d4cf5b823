#include "reference_cis.h"

#include <algorithm>
#include <sstream>

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

PlainMiner::PlainMiner(const EdgeVector& edges) {
  for (const auto& [u, v] : edges) max_node = std::max({max_node, u, v});
  graph.resize(std::size_t(max_node + 1));
  for (const auto& [u, v] : edges) {
    graph[u].push_back(v);
    graph[v].push_back(u);
  }
  for (auto* array :
       {&current_pattern, &node_level, &discovered_by, &candidates, &pruned, &pruned_by, &pruned_at}) {
    array->assign(std::size_t(max_node + 1), -1);
  }
}

Enumeration PlainMiner::run() {
  for (int r = 1; r <= max_node; ++r) {
    current_pattern[pattern_size++] = r;
    node_level[r] = 0;
    for (int u : graph[r]) {
      discovered_by[u] = r;
      node_level[u] = 1;
      candidates[candidate_count++] = u;
    }
    dfs(0, r, r);
    for (int u : graph[r]) discovered_by[u] = node_level[u] = -1;
    candidate_count = 0;
    node_level[r] = -1;
    --pattern_size;
  }
  return {out, pattern_count};
}

bool PlainMiner::checkPotentialChild(int last_level, int last_node, int root, int candidate,
                                     int candidate_level) {
  if (candidate < root) return false;
  if (candidate_level > last_level) return true;
  return candidate_level == last_level && candidate > last_node;
}

void PlainMiner::dfs(int last_level, int last_node, int root) {
  ++pattern_count;
  for (int i = 0; i < pattern_size; ++i) out += std::to_string(current_pattern[i]) + " ";
  out += "\n";
  for (int i = 0; i < candidate_count;) {
    const int u = candidates[i];
    if (checkPotentialChild(last_level, last_node, root, u, node_level[u])) {
      ++i;
      continue;
    }
    pruned[pruned_count++] = u;
    pruned_by[u] = last_node;
    candidates[i] = candidates[--candidate_count];
    pruned_at[u] = i;
  }
  for (int j = 0; j < candidate_count; ++j) {
    const int v = candidates[j];
    const int d = node_level[v];
    current_pattern[pattern_size++] = v;
    candidates[j] = candidates[--candidate_count];
    for (int w : graph[v]) {
      if (node_level[w] != -1) continue;
      node_level[w] = d + 1;
      candidates[candidate_count++] = w;
      discovered_by[w] = v;
    }
    dfs(d, v, root);
    while (candidate_count >= 1 && discovered_by[candidates[candidate_count - 1]] == v) {
      const int w = candidates[--candidate_count];
      node_level[w] = discovered_by[w] = -1;
    }
    candidates[candidate_count++] = candidates[j];
    candidates[j] = v;
    --pattern_size;
  }
  while (pruned_count >= 1 && pruned_by[pruned[pruned_count - 1]] == last_node) {
    const int u = pruned[--pruned_count];
    const int p = pruned_at[u];
    candidates[candidate_count++] = candidates[p];
    candidates[p] = u;
  }
}
