// The two searches as the part planner sees them (see PartPlan.h): the CIS listing and the MCS
// search, each estimating its work with walks down its own engine.
//
// The work of a pattern is a rough model of what the search spends on it, in units of about a
// quarter of a nanosecond; only its ratios matter, and only between pieces of one run. It counts the
// same whether or not lines are written, so that a part counts exactly what it would list.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "AttributedPattern.h"
#include "Graph.h"
#include "ListingSearch.h"
#include "PartPlan.h"
#include "SearchGraph.h"
#include "SizeCounts.h"

// CIS: a pattern costs a visit, its line when it is within the size bounds (by its bytes), and,
// when the search goes down into it, the building of its candidate list.
//
// The guess of the patterns below a pattern: every set of
// its candidates joins it into a pattern below it, and so does every connected set that grows from a
// candidate into the nodes not seen yet: the guess is the product over its candidates c of
// (1 + g(c)), g counting the subtrees through c of a breadth-first forest of the unseen nodes grown
// from the candidates (as deep as the most size allows). On a tree it is the exact count.
class ListingShape : public SearchShape {
 public:
  ListingShape(const AdjacencyList& graph, SizeBounds bounds);
  std::uint64_t root_guess(std::int32_t root) override;
  void expand(std::int32_t root, std::span<const std::uint32_t> path, Expansion& expansion) override;
  std::uint32_t children_end(std::int32_t root, std::span<const std::uint32_t> path) override;
  bool own_line_apart() const override { return true; }
  std::uint64_t steps() const override { return steps_; }

 private:
  std::uint64_t pattern_work(std::uint64_t size, std::uint64_t line_bytes, std::uint64_t children) const;
  // Marks the pattern's nodes and the nodes it has seen, with their levels.
  void see_pattern(std::span<const std::int32_t> pattern);
  // The guess for the child of the pattern last seen that adds node.
  std::uint64_t child_guess(std::span<const std::int32_t> pattern, std::int32_t node);

  const AdjacencyList& graph_;
  ListingSearch search_;
  SizeBounds bounds_;
  std::uint64_t label_bytes_ = 1;  // of a node in a line, on average
  std::uint64_t steps_ = 0;
  std::vector<ListingSearch::WalkStep> walk_;
  // By node, for the guesses: the stamp of the pattern that saw it, its level, whether it is in the
  // pattern, the stamp of the child whose forest reached it, and its count of subtrees there.
  std::vector<std::uint32_t> seen_at_;
  std::vector<std::uint32_t> level_;
  std::vector<std::uint8_t> in_pattern_;
  std::vector<std::uint32_t> reached_at_;
  std::vector<std::uint64_t> subtrees_;
  std::uint32_t pattern_stamp_ = 0;
  std::uint32_t child_stamp_ = 0;
  std::vector<std::int32_t> forest_;    // the forest's nodes in breadth-first order
  std::vector<std::int32_t> parent_;    // by forest position: the position of its parent, or -1
  std::vector<std::uint32_t> depth_;    // by forest position
  std::vector<std::int32_t> frontier_;  // the pattern's candidates and the nodes it saw beside them
};

// MCS: a pattern costs a visit, the tests of its candidates against the neighbours before them,
// and its line when it is reported. The guess of the patterns below a root is its degree, below a
// child one more than the number of candidates after its own, which it keeps.
class AttributedShape : public SearchShape {
 public:
  AttributedShape(const SearchGraph& graph, std::int32_t min_graph_size);
  std::uint64_t root_guess(std::int32_t root) override;
  void expand(std::int32_t root, std::span<const std::uint32_t> path, Expansion& expansion) override;
  std::uint32_t children_end(std::int32_t root, std::span<const std::uint32_t> path) override;
  bool own_line_apart() const override { return false; }
  std::uint64_t steps() const override { return steps_; }

 private:
  void enter(std::int32_t root, std::span<const std::uint32_t> path);
  void leave();
  // The candidates the search tries at the current pattern, as it tries them.
  void tried_candidates(std::vector<std::uint32_t>& slots) const;
  std::uint64_t pattern_work() const;

  const SearchGraph& graph_;
  AttributedPattern pattern_;
  std::int32_t min_graph_size_;
  std::uint64_t steps_ = 0;
  std::vector<std::uint32_t> tried_;
};
