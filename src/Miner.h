// CIS mode: every connected induced subgraph of the graph, each exactly once.
//
// Nodes are 1 to N, N the largest number in the edge list; numbers no edge names are isolated nodes.
// The search takes each root r = 1..N in turn and grows patterns from it depth first. A node's key is
// (level, node number), its level being its distance from the root in the pattern. A pattern may grow
// only by a candidate (a neighbour of the pattern, outside it, not below the root) whose key is larger
// than the key of the node added last; that rule alone makes every node set come out exactly once,
// from its smallest node. Candidates that fail it are pruned for the branch and put back when the
// branch ends. A pattern line lists its nodes in the order they joined: by level, then by number.
//
// Writing the patterns goes through ListingSearch (ListingSearch.h). Counting without writing needs
// neither the order nor the patterns themselves: see count() and CountingSearch.h.
//
// Size bounds: a pattern is listed or counted only when it has at least the least number of nodes,
// and the searches never grow a pattern past the most. The count line, and the lines by size, count
// those patterns.
#pragma once

#include <gmpxx.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "CountingSearch.h"
#include "FrontierCount.h"
#include "Graph.h"
#include "ListingSearch.h"
#include "Options.h"
#include "Output.h"
#include "PatternCount.h"
#include "Progress.h"
#include "SizeCounts.h"

// The largest node number of the edge list, -1 without edges.
std::int32_t get_max_node(const EdgeList& edges);

// The simple graph of the edge list on the nodes 0 to max_node: neighbour lists in order of first
// appearance, without self-loops or repeated neighbours.
AdjacencyList build_graph(const EdgeList& edges, std::int32_t max_node);

class Miner {
 public:
  // CIS GRAPH_INPUT_FILE [OUTPUT_FILE], as main receives them.
  Miner(int argc, char** argv);
  // Reads and checks the graph file, then opens the output that options name.
  Miner(const std::string& graph_path, const RunOptions& options);
  // A graph already read; graph_name stands for it in messages. The edge list is released once the
  // graph is built.
  Miner(EdgeList edges, const std::string& graph_name, const RunOptions& options);

  // Runs the search, completes the output, then prints the count line.
  void process();
  // Writes every pattern line within the size bounds in search order, completes the output, and
  // returns their number.
  std::uint64_t enumerate();
  // The patterns that enumerate() wrote, by size.
  SizeCounts listed_by_size() const;
  // How count() counts a connected component: by the cheaper road, or by one of them where it can.
  enum class CountRoad { automatic, frontier, search };
  // The number of patterns within the size bounds, in decimal, without writing any.
  // With stats, reports what the dynamic program did.
  std::string count(CountRoad road = CountRoad::automatic, FrontierStats* stats = nullptr);
  // The same, size by size. Call one of the two counts once.
  SizeCounts count_sizes(CountRoad road = CountRoad::automatic, FrontierStats* stats = nullptr);

  // The memory the graph of an edge list and its search take at most, checked before anything large
  // is allocated: by node slot, and the rest (by edge line and by level of the deepest pattern).
  struct MemoryNeed {
    std::uint64_t node_bytes;
    std::uint64_t other_bytes;
  };
  static MemoryNeed memory_needed(const EdgeList& edges, bool counting, unsigned threads = 1);

  // What a listing within the size bounds will write: its lines, and their bytes (a line is its
  // nodes' numbers in decimal, each followed by a space, then a line end). Each component is counted
  // by the dynamic program with the nodes' widths as weights, which gives the bytes exactly, or
  // where it cannot (a frontier too wide, or out of time) by the counting search by size, which
  // gives them exactly only when all of the component's numbers have the same width, and otherwise
  // the least and the most they can be. Nothing when that takes longer than budget. Numbers past
  // 2^64 - 1 stay at that.
  struct Forecast {
    std::uint64_t lines = 0;
    std::uint64_t least_bytes = 0;
    std::uint64_t most_bytes = 0;  // least_bytes when the bytes are known exactly
  };
  std::optional<Forecast> forecast_listing(std::chrono::steady_clock::duration budget);

 private:
  // Adds the count of every component to total: a number (mpz_class) or SizeCounts.
  template <class Total>
  void count_components(CountRoad road, FrontierStats* stats, Total& total);
  template <class Total>
  void count_component(std::span<const std::int32_t> component, CountRoad road, FrontierCounter& frontier,
                       std::uint64_t memory_budget, FrontierStats* stats, Total& total);
  // Counts a component's patterns by the counting search from each of its nodes, ascending, and adds
  // them to total; gives up after step_limit patterns, and then leaves total and the marks as they were.
  bool search_component(std::span<const std::int32_t> roots, std::uint64_t step_limit, mpz_class& total);
  bool search_component(std::span<const std::int32_t> roots, std::uint64_t step_limit, SizeCounts& total);
  template <class Tally>
  bool search_roots(std::span<const std::int32_t> roots, std::uint64_t step_limit, Tally& tally);
  // Before a listing into a file: the forecast for the progress line, and the refusal of a file
  // system that cannot hold the output.
  void prepare_listing(Progress& progress);
  // Tells the progress line of the nodes whose count is settled and of the patterns counted so far.
  void show_counted(std::uint64_t nodes, const mpz_class& total);
  void show_counted(std::uint64_t nodes, const SizeCounts& total);
  // Says once a run that the dynamic program gave a component up for memory.
  void note_program_gave_up(std::size_t component_nodes, std::uint64_t memory_budget);
  void note_program_gave_up_now(std::size_t component_nodes, std::uint64_t memory_budget);

  unsigned threads_ = 1;  // listing: the threads that list patterns
  AdjacencyList graph_;
  std::int32_t max_node_ = -1;
  std::unique_ptr<CountingState> counting_;  // the counting search's state, made when it starts
  std::vector<std::unique_ptr<CountingState>>
      thread_states_;  // and one for each thread, when there are several
  SizeBounds bounds_;
  bool by_size_ = false;
  std::vector<std::uint64_t> listed_by_size_;  // the patterns enumerate() wrote, by size
  PatternOutput output_;
  RunOptions options_;
  bool noted_give_up_ = false;       // the note that the dynamic program gave up is written once a run
  Progress* progress_ = nullptr;     // the progress line of process(), if it shows one
  std::uint64_t settled_nodes_ = 0;  // counting: the nodes of the components counted so far
};
