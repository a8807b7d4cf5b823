// The pattern an MCS search stands on: a connected node set grown from its smallest node (root), the
// attributes all its nodes share (profile), and its supporting neighbours. extend() grows it by one
// candidate and retract() takes that step back, so that one object follows a whole depth-first search.
//
// A supporting neighbour is a node outside the pattern, adjacent to one of its nodes, that shares at
// least min_sup attributes with the profile. They fall into two groups:
//   - candidates: the neighbours this branch may add, in candidate order: the earlier candidates
//     (neighbors1) ascending, then the later ones (neighbors2) ascending;
//   - excluded (neighbors0): those not above root, and those that came before an added node in the
//     candidate order of the pattern it was added to.
// The groups are disjoint and hold no node of the pattern. A pattern without any supporting
// neighbour is maximal.
//
// Memory is linear in the graph, however deep the chain of patterns: the chain shares its groups,
// changed in place, with a log of what each extension changed.
//   - The excluded are a stack: an extension appends the candidates it passes over and its new
//     excluded neighbours; a retraction cuts the stack back to its height.
//   - The candidates are a window of one array. An extension moves the window's start past the added
//     node (what lies before it is never written while the extension stands) and merges its new later
//     candidates into the window's end, which a retraction takes out again.
//   - When the profile loses attributes, the members that lose their support are taken out of both
//     groups, keeping their order, and logged with their places, so that a retraction puts them back.
// Every node enters the groups at most once along a chain, and leaves them for the log at most once,
// so the stack, the array and the log each hold at most one entry per node of the graph. Profiles are
// kept once per change, at most one per attribute along a chain. Members are kept as the entries of
// SearchGraph's blocks (node, block position, and the row when rows are copied), so that an
// extension reads and copies them as contiguous runs.
//
// While a search runs, the marks hold every node that is in the pattern, in one of its groups or in
// the log; each extension records the nodes it marked and a retraction clears them again.
//
// All of it is one object per search, sized once: several searches can run side by side on one
// SearchGraph, each with its own pattern. The state of any pattern follows from its chain of added
// nodes alone (root first): start(root), then extend(index_of(node)) for each node in turn rebuilds
// it, which is how a search could hand a subtree to another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "BitMap.h"
#include "Graph.h"
#include "SearchGraph.h"

class AttributedPattern {
 public:
  explicit AttributedPattern(const SearchGraph& search);

  // The bytes a pattern of this graph takes at most, for the check before a search starts.
  static std::uint64_t bytes_needed(const AdjacencyList& graph, const AttributeTable& attributes,
                                    RowLayout layout);

  // Makes this the single-node pattern of node: its neighbours above node are the earlier
  // candidates, the others are excluded. No pattern may stand (depth() == 0).
  void start(std::int32_t node);
  // Extends the pattern by its candidate at index. The candidates after it stay candidates, those
  // before it become excluded (a later candidate also excludes all the earlier ones); the added
  // node's new neighbours become later candidates when above root, excluded otherwise. Members that
  // no longer share min_sup attributes with the new profile are dropped.
  void extend(std::size_t index);
  // Takes the last extension back, or, from a single-node pattern, leaves no pattern standing.
  void retract();

  // The number of nodes of the pattern; 0 when none stands.
  std::size_t depth() const { return depth_; }
  std::int32_t root() const { return levels_[0].node; }
  // The node added last, and the nodes in the order they were added.
  std::int32_t node() const { return levels_[depth_ - 1].node; }
  std::int32_t node_at(std::size_t level) const { return levels_[level].node; }
  Words profile() const { return profile_of(current()); }

  bool is_maximal() const { return current().excluded_end == 0 && candidate_count() == 0; }
  std::size_t candidate_count() const { return current().candidates_end - current().candidates_begin; }
  // The number of candidates of the pattern of level + 1 nodes in the chain, the current one or a
  // shorter one.
  std::size_t candidate_count_at(std::size_t level) const {
    return levels_[level].candidates_end - levels_[level].candidates_begin;
  }
  std::int32_t candidate(std::size_t index) const {
    return node_of(candidate_entry(current().candidates_begin + index));
  }
  // The number of earlier candidates: they come first.
  std::size_t earlier_count() const { return current().second_begin - current().candidates_begin; }
  std::size_t excluded_count() const { return current().excluded_end; }
  std::int32_t excluded(std::size_t i) const { return node_of(excluded_entry(i)); }
  // True when an excluded neighbour, or a candidate before the one at index, keeps every attribute
  // that adding the candidate at index keeps: every maximal set through that candidate then holds
  // the other node too, and is found from it.
  bool covered(std::size_t index) const;
  // True when adding the candidate at index loses no attribute of the profile.
  bool same_profile(std::size_t index) const;
  // The index of a candidate, or candidate_count() when node is none.
  std::size_t index_of(std::int32_t node) const;

 private:
  // One pattern of the chain: where its groups lie, and what the extension that made it changed.
  // Positions count entries.
  struct Level {
    std::int32_t node;               // the node added last
    std::uint32_t profile;           // which of the kept profiles is this pattern's
    std::uint32_t excluded_end;      // the excluded are excluded_[0, excluded_end)
    std::uint32_t candidates_begin;  // the candidates are candidates_[begin, end),
    std::uint32_t second_begin;      // the later ones from second_begin on
    std::uint32_t candidates_end;
    std::uint32_t marked_begin;      // marked_[marked_begin, ...) are the nodes this level marked,
    std::uint32_t merged;            // the last merged of them the later candidates it merged in
    std::uint32_t dropped_begin;     // dropped_[dropped_begin, ...) are the members it dropped,
    std::uint32_t dropped_excluded;  // the first dropped_excluded of them excluded ones
  };

  const Level& current() const { return levels_[depth_ - 1]; }
  Words profile_of(const Level& level) const {
    return {profiles_.get() + std::size_t(level.profile) * words_, words_};
  }
  static std::int32_t node_of(const std::uint32_t* entry) { return std::int32_t(entry[0]); }
  std::uint32_t* excluded_entry(std::size_t i) const { return excluded_.get() + i * stride_; }
  std::uint32_t* candidate_entry(std::size_t i) const { return candidates_.get() + i * stride_; }
  std::uint32_t* dropped_entry(std::size_t i) const { return dropped_.get() + i * stride_; }
  Words row_of(const std::uint32_t* entry) const { return {search_.entry_row(entry), words_}; }
  void copy_entry(const std::uint32_t* from, std::uint32_t* to) const {
    for (std::size_t k = 0; k < stride_; ++k) to[k] = from[k];
  }
  // Moves candidates_[begin, end) to start at to, as one block.
  void move_entries(std::uint32_t begin, std::uint32_t end, std::uint32_t to) {
    std::memmove(candidate_entry(to), candidate_entry(begin),
                 std::size_t(end - begin) * stride_ * sizeof(std::uint32_t));
  }
  void mark(std::int32_t node) {
    marks_.set(node);
    marked_[marked_count_++] = node;
  }

  // Extension steps; see the .cpp.
  std::uint32_t keep_supported(std::uint32_t* members, std::uint32_t begin, std::uint32_t end,
                               std::uint32_t split, std::uint32_t& split_after, Words shared);
  void restore_dropped(std::uint32_t* members, std::uint32_t kept_end, std::uint32_t first,
                       std::uint32_t last);
  // The first place in candidates_[begin, end), an ascending run, whose node is not below node.
  std::uint32_t first_at_least(std::uint32_t begin, std::uint32_t end, std::int32_t node) const;
  void merge_later(Level& level);
  void take_out_merged(const Level& level);

  const SearchGraph& search_;
  std::size_t words_;   // of a row and a profile
  std::size_t stride_;  // words of an entry
  NodeMarks marks_;
  std::unique_ptr<Level[]> levels_;
  std::size_t depth_ = 0;
  std::unique_ptr<std::uint32_t[]> profiles_;
  std::uint32_t profile_count_ = 0;
  std::unique_ptr<std::uint32_t[]> excluded_;
  std::unique_ptr<std::uint32_t[]> candidates_;
  std::unique_ptr<std::uint32_t[]> dropped_;     // entries of dropped members...
  std::unique_ptr<std::uint32_t[]> dropped_at_;  // ...and the places they held
  std::uint32_t dropped_count_ = 0;
  std::unique_ptr<std::int32_t[]> marked_;
  std::uint32_t marked_count_ = 0;
  std::vector<const std::uint32_t*> later_;  // the entries of an extension's new later candidates
};
