// Patterns by their number of nodes: the size bounds that select them, and exact counts by size.
//
// A count by size keeps its sizes in columns: column k holds the patterns of k nodes, for k from 0
// to the last column. A count that must leave out the small patterns but needs no size on its own
// (a lower bound without an upper one) lets its last column hold every size from there up, so
// that it carries a few numbers instead of one for every size. Both roads of the count, and every
// component, add into the same columns, which take memory only up to the largest size added.
#pragma once

#include <gmpxx.h>

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

// The sizes of the patterns a run reports: from least to most nodes.
struct SizeBounds {
  static constexpr std::int32_t kNoMost = std::numeric_limits<std::int32_t>::max();
  std::int32_t least = 1;
  std::int32_t most = kNoMost;

  bool limits() const { return least > 1 || most != kNoMost; }
};

// The columns of a count by size: sizes 0 to last, each on its own; with last_holds_larger the
// last column also holds every larger size, otherwise larger sizes are not counted.
struct SizeColumns {
  std::uint32_t last = 0;
  bool last_holds_larger = false;
};

class SizeCounts {
 public:
  // The columns for patterns of at most largest_pattern nodes within bounds: a column for each
  // size when by_size asks for them or bounds has a most, otherwise columns up to the least size
  // with the larger sizes in the last.
  SizeCounts(SizeBounds bounds, std::int64_t largest_pattern, bool by_size);

  SizeColumns columns() const { return columns_; }
  // The columns for a part of the graph of at most nodes nodes: no more exact sizes than it has.
  SizeColumns columns_for(std::int64_t nodes) const;

  // Adds count patterns of size nodes to the column of that size, if there is one.
  void add(std::uint64_t size, const mpz_class& count);
  // Adds column k of counts to column k, for counts made with columns_for().
  void add_columns(std::span<const mpz_class> counts);
  // Adds the patterns of another count with the same columns (for example of another search).
  void add(const SizeCounts& other);

  // The patterns within the bounds.
  mpz_class total() const;
  // The count of patterns of size nodes; only for columns of each size.
  const mpz_class& of_size(std::uint32_t size) const;
  // "Size K: COUNT" and a line end for each size within the bounds that has patterns, smallest
  // first; only for columns of each size.
  std::string lines() const;

 private:
  // The largest size within the bounds that has a column in counts_.
  std::int64_t largest_counted() const;

  SizeBounds bounds_;
  SizeColumns columns_;
  std::vector<mpz_class> counts_;  // by column, up to the largest column added to
};
