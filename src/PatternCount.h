// A count of patterns of any size, built by adding powers of two: the counting search finds a
// branch that stands for 2^k patterns at once.
#pragma once

#include <gmpxx.h>

#include <cstddef>
#include <cstdint>
#include <vector>

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
  mpz_class value() const;

 private:
  std::vector<std::uint64_t> limbs_;  // least significant first
};
