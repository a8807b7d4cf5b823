// The CIS listing written plainly, as the reference that the fast searches are compared with byte for
// byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "graph_families.h"

std::vector<std::string> split_lines(const std::string& text);

struct Enumeration {
  std::string lines;
  std::uint64_t count = 0;
};

// The search written plainly: recursion, adjacency as nested vectors, and the marks, stacks and
// moves of candidates exactly as the algorithm states them. Only for simple graphs.
class PlainMiner {
 public:
  explicit PlainMiner(const EdgeVector& edges);
  Enumeration run();

 private:
  static bool checkPotentialChild(int last_level, int last_node, int root, int candidate,
                                  int candidate_level);
  void dfs(int last_level, int last_node, int root);

  std::vector<std::vector<int>> graph;
  std::vector<int> current_pattern, node_level, discovered_by, candidates, pruned, pruned_by, pruned_at;
  int candidate_count = 0, pruned_count = 0, pattern_size = 0, max_node = -1;
  std::uint64_t pattern_count = 0;
  std::string out;
};
