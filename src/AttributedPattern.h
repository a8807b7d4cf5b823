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
#include <cstdlib>
#include <memory>
#include <vector>

#include "BitMap.h"
#include "helpers.h"

// A fixed-size array of words for data read at random: on Linux it asks for 2 MiB pages, since with
// 4 KiB pages a scattered read often costs a page-table walk on top of the cache miss.
class ScatteredWords {
 public:
  explicit ScatteredWords(std::size_t size);

  std::uint32_t* data() { return data_.get(); }
  const std::uint32_t* data() const { return data_.get(); }
  std::uint32_t operator[](std::size_t i) const { return data_.get()[i]; }

 private:
  struct Free {
    void operator()(std::uint32_t* p) const { std::free(p); }
  };
  std::unique_ptr<std::uint32_t, Free> data_;
};

// How a search reads the attribute rows of neighbours and pattern members.
//   copied: a copy of the row next to each node number, in the blocks and in the patterns, so that
//           an extension reads one contiguous block (fast, but a row per edge end);
//   table:  the row in the attribute table, read by node number (memory grows with the edges only).
//   automatic: copied for rows of up to 256 attributes, see SearchGraph::copies_pay.
enum class RowLayout { automatic, copied, table };

// What every pattern of a search reads: each node's neighbours in the graph of kept edges, ascending,
// the packed attribute rows, and the support threshold.
//
// Extending a pattern reads the added node's neighbour list and every neighbour's row. Node numbers
// carry no locality, so these reads would land all over memory; instead each node has one block
// holding its degree and, per neighbour, its number, the position of its own block and, in the copied
// layout, a copy of its row: one contiguous read per extension. Patterns keep a member's block
// position (and row, when copied) next to its number for the same reason.
class SearchGraph {
 public:
  // One neighbour in a block: node, block position (two words, low first), then the row if copied.
  static constexpr std::size_t kHeader = 3;

  SearchGraph(const AdjacencyList& graph, const AttributeTable& attributes, std::int32_t min_sup, RowLayout layout);
  // Whether copying rows is worth its memory: for rows of at most kMostCopiedWords words an entry with
  // its copy takes under four times the words of one without, so memory stays a small multiple of
  // the input's; wider rows would multiply it by their width, and are read from the table.
  static bool copies_pay(const AttributeTable& attributes) { return attributes.words_per_row <= kMostCopiedWords; }
  // The bytes the blocks of this graph take in a layout (automatic or not).
  static std::uint64_t bytes_needed(const AdjacencyList& graph, const AttributeTable& attributes, RowLayout layout);

  Words row(std::int32_t node) const { return attributes.row(node); }
  std::size_t words() const { return attributes.words_per_row; }
  // The words of a row copied next to a node number: words(), or 0 in the table layout.
  std::size_t copied_words() const { return copied_words_; }
  std::size_t stride() const { return kHeader + copied_words_; }
  std::uint64_t block_of(std::int32_t node) const { return blocks_of[std::size_t(node)]; }
  // The neighbour entries of the block at position and their number.
  const std::uint32_t* entries(std::uint64_t block) const { return blocks.data() + block + 1; }
  std::uint32_t degree(std::uint64_t block) const { return blocks[block]; }
  // The row of the neighbour of an entry.
  const std::uint32_t* entry_row(const std::uint32_t* entry) const {
    return copied_words_ != 0 ? entry + kHeader : attributes.words.data() + std::size_t(entry[0]) * words();
  }

  const AttributeTable& attributes;
  std::int32_t min_sup;

 private:
  static constexpr std::size_t kMostCopiedWords = 8;  // 256 attributes

  std::size_t copied_words_;
  std::vector<std::uint64_t> blocks_of;
  ScatteredWords blocks;
};

// One mark per node, as bits: an eighth of the bytes keeps the marks of a million nodes in cache,
// where the scattered tests of an extension find them.
class NodeMarks {
 public:
  explicit NodeMarks(std::size_t nodes = 0) : bits_((nodes + 63) / 64, 0) {}

  bool test(std::int32_t u) const { return (bits_[std::size_t(u) >> 6] >> (u & 63) & 1) != 0; }
  void set(std::int32_t u) { bits_[std::size_t(u) >> 6] |= std::uint64_t(1) << (u & 63); }
  void reset(std::int32_t u) { bits_[std::size_t(u) >> 6] &= ~(std::uint64_t(1) << (u & 63)); }

 private:
  std::vector<std::uint64_t> bits_;
};

class AttributedPattern {
 public:
  // The single-node pattern of node: its neighbours above node are the earlier candidates, the others
  // are excluded.
  void start(std::int32_t node, const SearchGraph& search, NodeMarks& seen);
  // parent extended by its candidate at index. The candidates after it stay candidates, those before
  // it become excluded (a later candidate also excludes all the earlier ones); the added node's new
  // neighbours become later candidates when above root, excluded otherwise. Members that no longer
  // share min_sup attributes with the new profile are dropped.
  void extend(const AttributedPattern& parent, std::size_t index, const SearchGraph& search,
              NodeMarks& seen);
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

  std::vector<std::uint32_t> excluded_rows_;   // copied layout only
  std::vector<std::uint32_t> candidate_rows_;  // copied layout only
  std::vector<std::uint64_t> candidate_blocks_;  // the block of each candidate
  std::vector<std::int32_t> fresh_;              // the nodes this pattern marked in seen, ascending
  std::vector<const std::uint32_t*> later_;      // the entries of the new later candidates, ascending
};
