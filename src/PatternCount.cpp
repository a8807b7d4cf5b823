#include "PatternCount.h"

#include <algorithm>

void PatternCount::add(const PatternCount& other) {
  std::uint64_t carry = 0;
  for (std::size_t i = 0; i < limbs_.size(); ++i) {
    const std::uint64_t sum = limbs_[i] + carry;
    carry = sum < carry ? 1U : 0U;
    limbs_[i] = sum + other.limbs_[i];
    carry += limbs_[i] < sum ? 1U : 0U;
  }
}

mpz_class PatternCount::value() const {
  mpz_class result;
  mpz_import(result.get_mpz_t(), limbs_.size(), -1, sizeof(std::uint64_t), 0, 0, limbs_.data());
  return result;
}

void PatternCountBySize::make_room(std::uint32_t size, std::uint32_t free) {
  if (size >= by_size_.size()) by_size_.resize(std::size_t(size) + 1);
  if (free >= by_size_[size].size()) by_size_[size].resize(std::size_t(free) + 1, 0);
}

void PatternCountBySize::add(const PatternCountBySize& other) {
  if (other.by_size_.size() > by_size_.size()) by_size_.resize(other.by_size_.size());
  for (std::size_t s = 0; s < other.by_size_.size(); ++s) {
    const std::vector<std::uint64_t>& from = other.by_size_[s];
    std::vector<std::uint64_t>& to = by_size_[s];
    if (from.size() > to.size()) to.resize(from.size(), 0);
    for (std::size_t f = 0; f < from.size(); ++f) to[f] += from[f];
  }
}

void PatternCountBySize::add_to(SizeCounts& counts) const {
  const SizeColumns columns = counts.columns();
  mpz_class times, binomial, term, rest;
  for (std::size_t s = 0; s < by_size_.size(); ++s) {
    for (std::size_t f = 0; f < by_size_[s].size(); ++f) {
      if (by_size_[s][f] == 0) continue;
      times = static_cast<unsigned long>(by_size_[s][f]);
      // C(f, j) patterns of s + j nodes, up to the last column; with last_holds_larger the last
      // column takes what is left of the 2^f.
      const bool rest_in_last = columns.last_holds_larger;
      if (rest_in_last) mpz_ui_pow_ui(rest.get_mpz_t(), 2, f);
      binomial = 1;
      std::size_t j = 0;
      for (; j <= f && s + j < columns.last; ++j) {
        term = times * binomial;
        counts.add(s + j, term);
        if (rest_in_last) rest -= binomial;
        binomial *= static_cast<unsigned long>(f - j);
        mpz_divexact_ui(binomial.get_mpz_t(), binomial.get_mpz_t(), static_cast<unsigned long>(j + 1));
      }
      if (j > f) continue;
      term = times * (rest_in_last ? rest : binomial);
      counts.add(s + j, term);
    }
  }
}
