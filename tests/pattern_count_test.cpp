// Counts of any size, from powers of two.
#include <gtest/gtest.h>

#include <array>
#include <bit>

#include "PatternCount.h"

namespace {

TEST(PatternCount, SumsOfPowersOfTwoInDecimal) {
  struct Case {
    std::vector<std::uint32_t> exponents;
    std::uint32_t largest;
    std::string decimal;
  };
  std::vector<std::uint32_t> every_seventh;
  for (std::uint32_t e = 0; e < 300; e += 7) every_seventh.push_back(e);
  const Case cases[] = {
      {{}, 0, "0"},
      {{0}, 0, "1"},
      {{0, 0, 0}, 2, "3"},
      {{64}, 64, "18446744073709551616"},
      {{63, 63, 63}, 65, "27670116110564327424"},  // carries out of the lowest word
      {{127, 3, 0}, 127, "170141183460469231731687303715884105737"},
      {every_seventh, 300,
       "32079306713928914744384971471013829307897140057731279537577014950462697634068294585565313"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.decimal);
    PatternCount count(c.largest);
    for (const std::uint32_t e : c.exponents) count.add_power_of_two(e);
    EXPECT_EQ(count.value().get_str(), c.decimal);
  }
  PatternCount ten_to_the_19th(64);  // exactly one chunk of 19 digits, then a second
  for (std::uint64_t bits = 10'000'000'000'000'000'000ULL; bits != 0; bits &= bits - 1) {
    ten_to_the_19th.add_power_of_two(std::uint32_t(std::countr_zero(bits)));
  }
  EXPECT_EQ(ten_to_the_19th.value().get_str(), "10000000000000000000");
}

}  // namespace

namespace {

// The patterns a tally by size stands for, expanded one by one: a pattern of s nodes with f free
// nodes and every subset of them.
std::vector<std::uint64_t> expanded(const std::vector<std::array<std::uint32_t, 3>>& tallies,
                                    std::size_t sizes) {
  std::vector<std::uint64_t> by_size(sizes, 0);
  for (const auto& [size, free, times] : tallies) {
    for (std::uint64_t subset = 0; subset < (std::uint64_t(1) << free); ++subset) {
      const std::size_t s = size + std::size_t(std::popcount(subset));
      if (s < sizes) by_size[s] += times;
    }
  }
  return by_size;
}

TEST(PatternCountBySize, ExpandsFreeNodesByBinomials) {
  const std::vector<std::array<std::uint32_t, 3>> tallies = {{1, 0, 1},  {1, 3, 2}, {2, 5, 1}, {3, 0, 7},
                                                             {3, 12, 1}, {4, 2, 3}, {15, 1, 1}};
  const std::vector<std::uint64_t> sizes = expanded(tallies, 40);
  for (const SizeBounds bounds : {SizeBounds{}, SizeBounds{1, 4}, SizeBounds{3, 3}, SizeBounds{2, 15}}) {
    SCOPED_TRACE(std::to_string(bounds.least) + " to " + std::to_string(bounds.most));
    PatternCountBySize tally;
    for (const auto& [size, free, times] : tallies) tally.add(size, free, times);
    SizeCounts counts(bounds, 30, true);
    tally.add_to(counts);
    std::uint64_t total = 0;
    for (std::uint32_t size = 1; size <= 30; ++size) {
      // Columns go up to the most size; the total counts from the least.
      const bool kept = std::int64_t(size) <= bounds.most;
      EXPECT_EQ(counts.of_size(size).get_str(), std::to_string(kept ? sizes[size] : 0)) << size;
      if (kept && std::int64_t(size) >= bounds.least) total += sizes[size];
    }
    EXPECT_EQ(counts.total().get_str(), std::to_string(total));
  }
  // With the larger sizes in the last column: what is left of the 2^f after the smaller sizes.
  PatternCountBySize tally;
  for (const auto& [size, free, times] : tallies) tally.add(size, free, times);
  SizeCounts at_least_four(SizeBounds{4, SizeBounds::kNoMost}, 30, false);
  tally.add_to(at_least_four);
  std::uint64_t expected = 0;
  for (std::size_t size = 4; size < sizes.size(); ++size) expected += sizes[size];
  EXPECT_EQ(at_least_four.total().get_str(), std::to_string(expected));
}

TEST(PatternCountBySize, TalliesOfSeveralSearchesAddUp) {
  PatternCountBySize first;
  first.add(1, 2);
  first.add(3, 0, 4);
  PatternCountBySize second;
  second.add(1, 2);
  second.add(6, 70);  // 2^70 sets from one pattern: past 64 bits
  first.add(second);
  SizeCounts counts(SizeBounds{}, 80, true);
  first.add_to(counts);
  EXPECT_EQ(counts.lines().substr(0, 38), "Size 1: 2\nSize 2: 4\nSize 3: 6\nSize 6: ");
  EXPECT_EQ(counts.of_size(41).get_str(), "112186277816662845432");  // C(70, 35)
  EXPECT_EQ(counts.total().get_str(), "1180591620717411303436");     // 2^70 + 12
}

TEST(PatternCount, CountsOfTheSameRoomAdd) {
  PatternCount a(200);
  PatternCount b(200);
  for (const std::uint32_t e : {0U, 63U, 63U, 64U, 127U, 127U, 150U}) a.add_power_of_two(e);
  for (const std::uint32_t e : {0U, 63U, 127U, 199U}) b.add_power_of_two(e);
  const mpz_class expected = a.value() + b.value();
  a.add(b);
  EXPECT_EQ(a.value(), expected);  // carries out of limbs 0 and 1 included
}

}  // namespace
