#include "SizeCounts.h"

#include <algorithm>

SizeCounts::SizeCounts(SizeBounds bounds, std::int64_t largest_pattern, bool by_size) : bounds_(bounds) {
  if (by_size || bounds.most != SizeBounds::kNoMost) {
    columns_ = {std::uint32_t(std::clamp<std::int64_t>(largest_pattern, 0, bounds.most)), false};
  } else {
    columns_ = {std::uint32_t(bounds.least), true};
  }
}

SizeColumns SizeCounts::columns_for(std::int64_t nodes) const {
  if (columns_.last_holds_larger) return columns_;
  return {std::uint32_t(std::clamp<std::int64_t>(nodes, 0, columns_.last)), false};
}

void SizeCounts::add(std::uint64_t size, const mpz_class& count) {
  if (size > columns_.last) {
    if (!columns_.last_holds_larger) return;
    size = columns_.last;
  }
  if (size >= counts_.size()) counts_.resize(size + 1);
  counts_[size] += count;
}

void SizeCounts::add_columns(std::span<const mpz_class> counts) {
  for (std::size_t k = 0; k < counts.size(); ++k) add(k, counts[k]);
}

void SizeCounts::add(const SizeCounts& other) {
  add_columns(other.counts_);
}

mpz_class SizeCounts::total() const {
  mpz_class sum;
  for (std::int64_t k = bounds_.least; k <= largest_counted(); ++k) sum += counts_[std::size_t(k)];
  return sum;
}

std::int64_t SizeCounts::largest_counted() const {
  return std::min<std::int64_t>(bounds_.most, std::int64_t(counts_.size()) - 1);
}

const mpz_class& SizeCounts::of_size(std::uint32_t size) const {
  static const mpz_class kNone;
  return size < counts_.size() ? counts_[size] : kNone;
}

std::string SizeCounts::lines() const {
  std::string text;
  for (std::int64_t k = bounds_.least; k <= largest_counted(); ++k) {
    const mpz_class& count = counts_[std::size_t(k)];
    if (count == 0) continue;
    text += "Size " + std::to_string(k) + ": " + count.get_str() + "\n";
  }
  return text;
}
