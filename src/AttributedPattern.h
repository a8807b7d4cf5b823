// One node of the MCS search tree: a connected node set grown from its smallest node (root), the
// attributes all its nodes share (profile), and its supporting neighbours.
//
// A supporting neighbour is a node outside the pattern, adjacent to one of its nodes, that shares at
// least min_sup attributes with the profile. They fall into two groups:
//   - candidates: the neighbours this branch may add, in candidate order: the earlier candidates
//     (neighbors1) ascending, then the later ones (neighbors2) ascending, from second_begin on;
//   - excluded (neighbors0, in no particular order): those not above root, and those that came
//     before an added node in the candidate order of the pattern it was added to.
// The groups are disjoint and hold no node of the pattern. A pattern without any supporting
// neighbour is maximal.
//
// Patterns are built in place, so that a search keeps one per depth and reuses its storage for every
// sibling: nothing is allocated once the buffers have grown. While a search runs, seen marks every
// node that is in the current chain of patterns or in one of their neighbour groups; each pattern
// marks the nodes it brought in and release() clears them again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "BitMap.h"
#include "SearchGraph.h"

class AttributedPattern {
 public:
  // The single-node pattern of node: its neighbours above node are the earlier candidates, the others
  // are excluded.
  void start(std::int32_t node, const SearchGraph& search, NodeMarks& seen);
  // parent extended by its candidate at index. The candidates after it stay candidates, those before
  // it become excluded (a later candidate also excludes all the earlier ones); the added node's new
  // neighbours become later candidates when above root, excluded otherwise. Members that no longer
  // share min_sup attributes with the new profile are dropped.
  void extend(const AttributedPattern& parent, std::size_t index, const SearchGraph& search, NodeMarks& seen);
  // Clears the marks this pattern set in seen.
  void release(NodeMarks& seen) const;

  bool is_maximal() const { return excluded.empty() && candidates.empty(); }
  // True when an excluded neighbour, or a candidate before the one at index, keeps every attribute
  // that adding the candidate at index keeps: every maximal set through that candidate then holds
  // the other node too, and is found from it.
  bool covered(std::size_t index, const SearchGraph& search) const;
  // True when adding the candidate at index loses no attribute of the profile.
  bool same_profile(std::size_t index, const SearchGraph& search) const;
  // The index of a candidate, or candidates.size() when node is none.
  std::size_t index_of(std::int32_t node) const;

  // The rows of the members: their copies, in the order of excluded and candidates, or the table's.
  Words excluded_row(std::size_t i, const SearchGraph& search) const {
    return search.copied_words() != 0 ? Words{excluded_rows_.data() + i * search.words(), search.words()}
                                      : search.row(excluded[i]);
  }
  Words candidate_row(std::size_t i, const SearchGraph& search) const {
    return search.copied_words() != 0 ? Words{candidate_rows_.data() + i * search.words(), search.words()}
                                      : search.row(candidates[i]);
  }

  std::int32_t level = 0;
  std::int32_t root = 0;
  std::int32_t node = 0;  // the node added last
  BitMap profile;
  std::vector<std::int32_t> excluded;
  std::vector<std::int32_t> candidates;
  std::size_t second_begin = 0;  // candidates from here on are the later ones

 private:
  // copied is the search's copied_words(): the words of each row these copy along, 0 for none.
  void filter_members(const AttributedPattern& parent, std::size_t index, const SearchGraph& search);
  void copy_members(const AttributedPattern& parent, std::size_t index, std::size_t copied);
  void merge_later(std::size_t copied);
  void add_excluded(std::int32_t u, const std::uint32_t* row, std::size_t copied);
  void add_candidate(std::int32_t u, const std::uint32_t* row, std::uint64_t block, std::size_t copied);

  std::vector<std::uint32_t> excluded_rows_;     // copied layout only
  std::vector<std::uint32_t> candidate_rows_;    // copied layout only
  std::vector<std::uint64_t> candidate_blocks_;  // the block of each candidate
  std::vector<std::int32_t> fresh_;              // the nodes this pattern marked in seen, ascending
  std::vector<const std::uint32_t*> later_;      // the entries of the new later candidates, ascending
};
