// Counts by size: which columns a run keeps, what falls in each, and the lines and total it reports.
#include <gtest/gtest.h>

#include "SizeCounts.h"

namespace {

constexpr std::int32_t kNoMost = SizeBounds::kNoMost;

TEST(SizeCounts, ColumnsFollowTheBoundsAndTheLargestPattern) {
  struct Case {
    SizeBounds bounds;
    std::int64_t largest_pattern;
    bool by_size;
    std::uint32_t last;
    bool last_holds_larger;
  };
  const Case cases[] = {
      {{1, kNoMost}, 10, true, 10, false},   // every size on its own
      {{1, 4}, 10, false, 4, false},         // up to the most size
      {{1, 40}, 10, true, 10, false},        // no column past the largest pattern
      {{3, kNoMost}, 10, false, 3, true},    // the least size holds every larger one
      {{3, kNoMost}, 10, true, 10, false},   // unless the sizes are asked for
      {{12, kNoMost}, 10, false, 12, true},  // a least size above every pattern
      {{1, kNoMost}, 0, true, 0, false},     // no node
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bounds.least) + " to " + std::to_string(c.bounds.most));
    const SizeCounts counts(c.bounds, c.largest_pattern, c.by_size);
    EXPECT_EQ(counts.columns().last, c.last);
    EXPECT_EQ(counts.columns().last_holds_larger, c.last_holds_larger);
  }
  const SizeCounts exact(SizeBounds{1, 8}, 100, true);
  EXPECT_EQ(exact.columns_for(5).last, 5U);
  EXPECT_EQ(exact.columns_for(50).last, 8U);
  const SizeCounts tail(SizeBounds{3, kNoMost}, 100, false);
  EXPECT_EQ(tail.columns_for(2).last, 3U);
  EXPECT_TRUE(tail.columns_for(2).last_holds_larger);
}

TEST(SizeCounts, LinesAndTotalWithinTheBounds) {
  SizeCounts counts(SizeBounds{2, 5}, 9, true);
  for (std::uint64_t size = 1; size <= 9; ++size)
    counts.add(size, mpz_class(static_cast<unsigned long>(size * 10)));
  counts.add(3, mpz_class("100000000000000000000000000000"));
  EXPECT_EQ(counts.lines(), "Size 2: 20\nSize 3: 100000000000000000000000000030\nSize 4: 40\nSize 5: 50\n");
  EXPECT_EQ(counts.total().get_str(), "100000000000000000000000000140");
  EXPECT_EQ(counts.of_size(1).get_str(), "10");  // counted, but outside the bounds
  EXPECT_EQ(counts.of_size(6).get_str(), "0");   // past the last column: dropped

  SizeCounts gaps(SizeBounds{}, 6, true);
  gaps.add(2, 7);
  gaps.add(6, 1);
  EXPECT_EQ(gaps.lines(), "Size 2: 7\nSize 6: 1\n");  // no line for a size without patterns

  SizeCounts tail(SizeBounds{3, kNoMost}, 9, false);
  for (std::uint64_t size = 1; size <= 9; ++size) tail.add(size, 1);
  EXPECT_EQ(tail.total().get_str(), "7");
}

TEST(SizeCounts, AddsColumnsAndOtherCounts) {
  SizeCounts counts(SizeBounds{}, 4, true);
  const mpz_class columns[] = {0, 3, 2, 1};  // a part of three nodes: columns 0 to 3
  counts.add_columns(columns);
  counts.add_columns(columns);
  SizeCounts other(SizeBounds{}, 4, true);
  other.add(4, 5);
  counts.add(other);
  EXPECT_EQ(counts.lines(), "Size 1: 6\nSize 2: 4\nSize 3: 2\nSize 4: 5\n");
  EXPECT_EQ(counts.total().get_str(), "17");
}

}  // namespace
