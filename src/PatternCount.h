// Counts that the counting search builds: a branch of the search stands for many patterns at once.
#pragma once

#include <gmpxx.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "SizeCounts.h"

// A count of patterns of any size, built by adding powers of two: the counting search finds a
// branch that stands for 2^k patterns at once.
class PatternCount {
 public:
  // Room for every count below 2^(largest_exponent + 1).
  explicit PatternCount(std::uint32_t largest_exponent) : limbs_(largest_exponent / 64 + 2, 0) {}

  void add_power_of_two(std::uint32_t exponent) {
    std::size_t limb = exponent / 64;
    const std::uint64_t bit = std::uint64_t(1) << (exponent % 64);
    limbs_[limb] += bit;
    if (limbs_[limb] < bit) {
      while (++limbs_[++limb] == 0) {
      }
    }
  }
  // Adds a count with room for the same counts.
  void add(const PatternCount& other);
  mpz_class value() const;

 private:
  std::vector<std::uint64_t> limbs_;  // least significant first
};

// The same by size: a pattern of s nodes whose branch has f free nodes stands for C(f, j) patterns
// of s + j nodes, for j from 0 to f. The search only tallies its patterns by (s, f), which costs
// what adding a power of two does; the binomials are worked out once, at the end. Tallies of
// several searches add up.
class PatternCountBySize {
 public:
  // times patterns of size nodes, each with free nodes that may join it or not.
  void add(std::uint32_t size, std::uint32_t free, std::uint64_t times = 1) {
    if (size >= by_size_.size() || free >= by_size_[size].size()) [[unlikely]]
      make_room(size, free);
    by_size_[size][free] += times;
  }
  void add(const PatternCountBySize& other);

  // Adds the patterns that the tally stands for to the columns of counts.
  void add_to(SizeCounts& counts) const;

 private:
  void make_room(std::uint32_t size, std::uint32_t free);

  // [s][f]: the patterns of s nodes with f free; grown with the largest s and f added
  std::vector<std::vector<std::uint64_t>> by_size_;
};
