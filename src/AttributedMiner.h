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

// Which edges enter the graph: those whose ends both have min_sup attributes and share min_sup of
// them. Node 0 has no row, so its edges never enter, whatever min_sup is.
std::vector<std::uint8_t> cohesive_edges(const AttributeTable& attributes, const std::vector<Edge>& edges,
                                         std::int32_t min_sup);

class AttributedMiner {
 public:
  // MCS GRAPH_INPUT_FILE ATTRIBUTES_INPUT_FILE MIN_SUP MIN_GRAPH_SIZE [OUTPUT_FILE]: converts the two
  // numbers, reads and checks the attribute file and the edge list, then opens the output.
  AttributedMiner(int argc, char** argv);
  // Prepared input; patterns go to output_name ("" counts only, "-" is standard output). The layout
  // of rows in the search can be forced, as the tests do to cover both.
  AttributedMiner(AttributeTable attributes, const std::vector<Edge>& edges, std::int32_t min_sup,
                  std::int32_t min_graph_size, const std::string& output_name,
                  RowLayout layout = RowLayout::automatic);

  // Runs the search and completes the output, then prints the count line.
  void process();
  // Runs the search, completes the output, and returns the number of patterns.
  std::uint64_t enumerate();

 private:
  struct Frame {
    std::size_t next = 0;           // the candidate index to try next
    bool stop_after_child = false;  // the child in progress keeps the whole profile
  };

  void build_graph(const std::vector<Edge>& edges);
  template <bool kWriteLines>
  void search_from(std::int32_t root, const SearchGraph& search);
  template <bool kWriteLines>
  void report(std::size_t depth);

  std::uint64_t pattern_count = 0;
  AttributeTable attributes;
  AdjacencyList graph;  // kept edges only, each neighbour list ascending
  std::int32_t min_sup = 0;
  std::int32_t min_graph_size = 0;
  RowLayout layout = RowLayout::automatic;
  PatternOutput output;

  // Search state, one entry per depth of the current chain of patterns; reused from root to root.
  std::vector<AttributedPattern> patterns;
  std::vector<Frame> frames;
  NodeMarks seen;                    // see AttributedPattern
  std::vector<std::int32_t> sorted;  // the nodes of a reported pattern
  std::vector<char> line;
};
