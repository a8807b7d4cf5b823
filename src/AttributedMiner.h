// MCS mode: the maximal cohesive node sets of an attributed graph.
//
// Node k carries row k of the attribute file. An edge enters the graph only when both ends have at
// least min_sup attributes and share at least min_sup of them; edges that name node 0, self-loops and
// repeated edges are dropped. Every node with at least min_sup attributes starts a search, in
// ascending order; the search grows patterns depth first one candidate at a time (see
// AttributedPattern) and reports each pattern that has no supporting neighbour left and at least
// min_graph_size nodes. A negative min_graph_size reports nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "AttributedPattern.h"
#include "Output.h"
#include "helpers.h"

class AttributedMiner {
 public:
  // MCS GRAPH_INPUT_FILE ATTRIBUTES_INPUT_FILE MIN_SUP MIN_GRAPH_SIZE [OUTPUT_FILE]: converts the two
  // numbers, reads and checks the attribute file and the edge list, then opens the output.
  AttributedMiner(int argc, char** argv);
  // Prepared input; patterns go to output_name ("" counts only, "-" is standard output).
  AttributedMiner(AttributeTable attributes, const std::vector<Edge>& edges, std::int32_t min_sup,
                  std::int32_t min_graph_size, const std::string& output_name);

  // Runs the search, completes the output, then prints the count line.
  void process();
  // Runs the search alone and returns the number of patterns; the output is not yet finished.
  std::uint64_t enumerate();

 private:
  void build_graph(const std::vector<Edge>& edges);
  void build_level1();
  void dfs(const AttributedPattern& start);
  void report(const AttributedPattern& pattern);

  std::uint64_t pattern_count = 0;
  AttributeTable attributes;
  AdjacencyList graph;
  Level1Patterns level1_patterns;
  std::int32_t min_sup = 0;
  std::int32_t min_graph_size = 0;
  PatternOutput output;
  std::string line;
};
