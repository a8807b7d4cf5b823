// What every pattern of an MCS search reads: each node's neighbours in the graph of kept edges with
// copies of their attribute rows, and the marks of the nodes a search has met.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "BitMap.h"
#include "Graph.h"
#include "Memory.h"

// How a search reads the attribute rows of neighbours and pattern members.
//   copied: a copy of the row next to each node number, in the blocks and in the patterns, so that
//           an extension reads one contiguous block (fast, but a row per edge end);
//   table:  the row in the attribute table, read by node number (memory grows with the edges only).
//   automatic: copied for rows of up to 256 attributes, see SearchGraph::copies_pay.
enum class RowLayout { automatic, copied, table };

// How far a search can spread: the nodes with at least one neighbour, and the most neighbours a node
// has.
struct Linkage {
  std::size_t linked_nodes = 0;
  std::size_t max_degree = 0;
};
Linkage linkage_of(const AdjacencyList& graph);

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

  SearchGraph(const AdjacencyList& graph, const AttributeTable& attributes, std::int32_t min_sup,
              RowLayout layout);
  // Whether copying rows is worth its memory: for rows of at most kMostCopiedWords words an entry with
  // its copy takes under four times the words of one without, so memory stays a small multiple of
  // the input's; wider rows would multiply it by their width, and are read from the table.
  static bool copies_pay(const AttributeTable& attributes) {
    return attributes.words_per_row <= kMostCopiedWords;
  }
  // The bytes the blocks of this graph take in a layout (automatic or not).
  static std::uint64_t bytes_needed(const AdjacencyList& graph, const AttributeTable& attributes,
                                    RowLayout layout);
  // The words of a row copied next to a node number in a layout: words_per_row, or 0.
  static std::size_t copied_words_for(const AttributeTable& attributes, RowLayout layout);

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

  const Linkage& linkage() const { return linkage_; }

  const AttributeTable& attributes;
  std::int32_t min_sup;

 private:
  static constexpr std::size_t kMostCopiedWords = 8;  // 256 attributes

  std::size_t copied_words_;
  Linkage linkage_;
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
