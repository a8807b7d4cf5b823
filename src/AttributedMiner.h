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
#include <optional>
#include <string>
#include <vector>

#include "AttributedPattern.h"
#include "BitMap.h"
#include "Graph.h"
#include "JobBoard.h"
#include "Options.h"
#include "Output.h"
#include "Progress.h"
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
    std::size_t next = 0;        // the candidate index to try next
    std::size_t end = SIZE_MAX;  // the candidates from here on are another search's
  };
  // Everything a search changes, in one object, so that several searches can each hold their own
  // and run side by side on one SearchGraph.
  struct Search {
    explicit Search(const SearchGraph& graph);
    AttributedPattern pattern;
    std::vector<Frame> frames;         // one per node of the pattern below the piece's own
    std::vector<std::int32_t> sorted;  // the nodes of a reported pattern
    std::vector<char> line;
    std::uint64_t patterns = 0;        // reported
    std::uint64_t bytes = 0;           // written
    std::uint64_t shown_patterns = 0;  // told to the progress line
    std::uint64_t shown_bytes = 0;
    std::vector<std::uint64_t> by_size;  // reported, by their number of nodes
  };
  // Tells the progress line, if there is one, of what the search reported since it last did.
  void show_progress(Search& search) const {
    if (progress_ != nullptr && search.patterns != search.shown_patterns) tell_progress(search);
  }
  void tell_progress(Search& search) const;
  // Adds a search's patterns by size to reported_by_size_.
  void add_tally(const Search& search);

  void build_graph(const std::vector<Edge>& edges);
  // The bytes a search of this graph takes at most: its pattern, frames and line.
  static std::uint64_t search_bytes_needed(const AdjacencyList& graph, const AttributeTable& attributes,
                                           RowLayout layout);
  // Searches one piece of the search (see Piece in JobBoard.h: a root, or some candidates of a
  // pattern reached by a path of candidate indices), writing the reported lines to out when there is
  // one, and giving work away to the board's hungry workers when worker is not null.
  template <class Out>
  void search_piece(const Piece& piece, Search& search, Out* out, JobBoard::Worker* worker);
  template <class Out>
  void report(Search& search, Out* out);
  // Offers the candidates not yet tried of the shallowest pattern that has some, as a new piece.
  static void offer_work(const Piece& piece, Search& search, JobBoard::Worker& worker);
  // The roots of the search in order: the nodes with at least min_sup attributes.
  std::vector<std::int32_t> roots() const;
  std::uint64_t enumerate_on_threads(const SearchGraph& graph, JobBoard::NextPiece next);

  // Extends the pattern at depth by its next candidate that is not covered; returns false when none
  // is left.
  static bool extend_by_next_candidate(std::size_t depth, Search& search);

  unsigned threads_ = 1;
  AttributeTable attributes_;
  AdjacencyList graph_;  // kept edges only, each neighbour list ascending
  std::int32_t min_sup_ = 0;
  std::int32_t min_graph_size_ = 0;
  RowLayout layout_ = RowLayout::automatic;
  bool by_size_ = false;
  RunOptions options_;  // of the run: its part, if any (see PartPlan.h), and the notes
  std::vector<std::uint64_t> reported_by_size_;  // summed over the searches
  PatternOutput output_;
  ProgressChoice progress_choice_ = ProgressChoice::off;
  Progress* progress_ = nullptr;  // the progress line of process(), if it shows one
};
