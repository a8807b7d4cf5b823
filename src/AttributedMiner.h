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
#include "BitMap.h"
#include "Graph.h"
#include "Options.h"
#include "Output.h"
#include "SearchGraph.h"
#include "SizeCounts.h"

// MIN_SUP and MIN_GRAPH_SIZE.
struct McsThresholds {
  std::int32_t min_sup = 0;
  std::int32_t min_graph_size = 0;
};

// Which edges enter the graph: those whose ends both have min_sup attributes and share min_sup of
// them. Node 0 has no row, so its edges never enter, whatever min_sup is.
std::vector<std::uint8_t> cohesive_edges(const AttributeTable& attributes, const std::vector<Edge>& edges,
                                         std::int32_t min_sup);

// The graph the search runs on: the cohesive edges only, without self-loops or repeats, each
// neighbour list ascending.
AdjacencyList build_cohesive_graph(const AttributeTable& attributes, const std::vector<Edge>& edges,
                                   std::int32_t min_sup);

class AttributedMiner {
 public:
  // MCS GRAPH_INPUT_FILE ATTRIBUTES_INPUT_FILE MIN_SUP MIN_GRAPH_SIZE [OUTPUT_FILE], as main
  // receives them: converts the two numbers, then reads as below.
  AttributedMiner(int argc, char** argv);
  // Reads and checks the attribute file and the edge list, checks that the search fits in memory,
  // then opens the output that options name.
  AttributedMiner(const std::string& graph_path, const std::string& attributes_path, McsThresholds thresholds,
                  const RunOptions& options);
  // Prepared input. The layout of rows in the search can be forced, as the tests do to cover both.
  AttributedMiner(AttributeTable attributes, const std::vector<Edge>& edges, McsThresholds thresholds,
                  const RunOptions& options, RowLayout layout = RowLayout::automatic);

  // Runs the search and completes the output, then prints the count line.
  void process();
  // Runs the search, completes the output, and returns the number of patterns.
  std::uint64_t enumerate();
  // The patterns that enumerate() reported, by size.
  SizeCounts reported_by_size() const;

 private:
  // Where the search stands at one depth of the chain of patterns.
  enum class Phase {
    entering,  // the pattern is new: report it if it is maximal, else try its candidates
    trying,    // the candidates from next on are still to be tried
    done,      // nothing more: maximal, or the child in progress keeps the whole profile
  };
  struct Frame {
    Phase phase = Phase::entering;
    std::size_t next = 0;  // the candidate index to try next
  };

  void build_graph(const std::vector<Edge>& edges);
  template <bool kWriteLines>
  void search_from(std::int32_t root, const SearchGraph& search);
  template <bool kWriteLines>
  void report(std::size_t depth);

  // Builds the child of the pattern at depth by its next candidate that is not covered, at depth + 1;
  // returns false when none is left.
  bool extend_by_next_candidate(std::size_t depth, const SearchGraph& search);

  std::uint64_t pattern_count_ = 0;
  std::vector<std::uint64_t> reported_by_size_;  // grown with the largest pattern reported
  bool by_size_ = false;
  AttributeTable attributes_;
  AdjacencyList graph_;  // kept edges only, each neighbour list ascending
  std::int32_t min_sup_ = 0;
  std::int32_t min_graph_size_ = 0;
  RowLayout layout_ = RowLayout::automatic;
  PatternOutput output_;

  // Search state, one entry per depth of the current chain of patterns; reused from root to root.
  std::vector<AttributedPattern> patterns_;
  std::vector<Frame> frames_;
  NodeMarks seen_;                    // see AttributedPattern
  std::vector<std::int32_t> sorted_;  // the nodes of a reported pattern
  std::vector<char> line_;
};
