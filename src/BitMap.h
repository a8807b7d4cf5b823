// Attribute flags packed into 32-bit words: one row (BitMap) and a table of rows (AttributeTable).
//
// Layout, shared by every bitmap of a run: entries 32w to 32w+31 of a row make word w, folded in row
// order as word = 2 * word + entry. In a full word entry 32w is bit 31 and entry 32w+31 is bit 0; a
// shorter last group of k entries is right-aligned (its first entry is bit k-1) and the bits above it
// are 0. So the row 1 0 1 1 0 is the single word 22.
//
// The word-span functions below are what the search runs on; BitMap wraps one row of words. Two
// bitmaps that meet always have the same number of words: every row of a table has one length.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

constexpr int kBitsPerWord = 32;

// Number of words for a row of entries: ceil(entries / 32).
constexpr std::size_t words_for(std::size_t entries) {
  return (entries + kBitsPerWord - 1) / kBitsPerWord;
}

using Words = std::span<const std::uint32_t>;

// Number of bits set in both a and b.
inline int count_shared_ones(Words a, Words b) {
  int count = 0;
  for (std::size_t i = 0; i < a.size(); ++i) count += std::popcount(a[i] & b[i]);
  return count;
}

// Number of bits set in a and b together with c: the support that c gives the profile a AND b.
inline int count_shared_ones(Words a, Words b, Words c) {
  int count = 0;
  for (std::size_t i = 0; i < a.size(); ++i) count += std::popcount(a[i] & b[i] & c[i]);
  return count;
}

// True when every bit of inner is set in outer.
inline bool covers(Words outer, Words inner) {
  for (std::size_t i = 0; i < outer.size(); ++i) {
    if ((inner[i] & ~outer[i]) != 0) return false;
  }
  return true;
}

// True when every bit of a AND b is set in outer.
inline bool covers_and(Words outer, Words a, Words b) {
  for (std::size_t i = 0; i < outer.size(); ++i) {
    if ((a[i] & b[i] & ~outer[i]) != 0) return false;
  }
  return true;
}

inline bool equals(Words a, Words b) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// The packed attribute rows of an attribute file: line k holds the 0/1 attribute values of node k.
// Every row is words_per_row words, all rows in one array; row 0 and blank lines are rows of zeros.
struct AttributeTable {
  std::int32_t rows = 0;             // the number of lines, that is of nodes
  std::int32_t attribute_count = 0;  // values on every non-blank line; 0 when all lines are blank
  std::size_t words_per_row = 0;
  std::vector<std::uint32_t> words;  // (rows + 1) * words_per_row

  Words row(std::int32_t node) const {
    return {words.data() + std::size_t(node) * words_per_row, words_per_row};
  }
  // The number of attributes of a node.
  int ones(std::int32_t node) const { return count_shared_ones(row(node), row(node)); }
};

class BitMap {
 public:
  BitMap() = default;
  // Packs a row of 0/1 entries. Any other value is folded in by the same rule, unclamped.
  explicit BitMap(const std::vector<int>& row);
  // The intersection: as many words as a, each the AND of the words of a and b.
  BitMap(const BitMap& a, const BitMap& b);
  // A copy of a packed row.
  BitMap(std::int32_t size, Words words);

  // Makes this the intersection of the packed rows a and b, reusing the word storage.
  void assign_and(std::int32_t size, Words a, Words b);

  std::int32_t size() const { return size_; }
  Words words() const { return words_; }

  int count_shared_ones(const BitMap& other) const { return ::count_shared_ones(words(), other.words()); }
  // True when other is a subset of this.
  bool covers(const BitMap& other) const { return ::covers(words(), other.words()); }
  bool equals(const BitMap& other) const { return ::equals(words(), other.words()); }

 private:
  std::int32_t size_ = 0;
  std::vector<std::uint32_t> words_;
};
