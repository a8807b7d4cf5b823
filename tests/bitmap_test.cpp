// BitMap: the bit layout of packed rows, and intersection, shared count, cover and equality.
#include "BitMap.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using WordList = std::vector<std::uint32_t>;

WordList words_of(const BitMap& map) {
  return {map.words().begin(), map.words().end()};
}

// The row of n entries with a 1 exactly at the given positions.
std::vector<int> row_with_ones(std::size_t n, std::initializer_list<std::size_t> ones) {
  std::vector<int> row(n, 0);
  for (const std::size_t i : ones) row[i] = 1;
  return row;
}

TEST(BitMap, PacksRowsMostSignificantFirstWithTheLastWordRightAligned) {
  struct Case {
    const char* name;
    std::vector<int> row;
    WordList words;
  };
  const Case cases[] = {
      {"empty", {}, {}},
      {"one entry", {1}, {1}},
      {"one zero", {0}, {0}},
      {"1 0 1 1 0", {1, 0, 1, 1, 0}, {22}},
      {"31 entries, first set", row_with_ones(31, {0}), {1u << 30}},
      {"31 entries, last set", row_with_ones(31, {30}), {1}},
      {"32 entries, first set", row_with_ones(32, {0}), {0x80000000u}},
      {"32 entries, all set", std::vector<int>(32, 1), {0xFFFFFFFFu}},
      {"33 entries, last set", row_with_ones(33, {32}), {0, 1}},
      {"33 entries, first and 31st set", row_with_ones(33, {0, 31}), {0x80000001u, 0}},
      {"64 entries", row_with_ones(64, {0, 63}), {0x80000000u, 1}},
      {"64 entries, 32 set", row_with_ones(64, {32}), {0, 0x80000000u}},
      {"65 entries", row_with_ones(65, {1, 64}), {0x40000000u, 0, 1}},
      {"65 entries, 63 and 64 set", row_with_ones(65, {63, 64}), {0, 1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const BitMap map(c.row);
    EXPECT_EQ(map.size(), std::int32_t(c.row.size()));
    EXPECT_EQ(words_of(map), c.words);
  }
}

TEST(BitMap, OperationsOnAnEmptyRow) {
  const BitMap empty(std::vector<int>{});
  EXPECT_EQ(empty.count_shared_ones(empty), 0);
  EXPECT_TRUE(empty.covers(empty));
  EXPECT_TRUE(empty.equals(empty));
}

TEST(BitMap, IntersectionKeepsTheSizeOfItsFirstOperand) {
  const BitMap a(std::vector<int>{1, 1, 0, 1, 0});
  const BitMap b(std::vector<int>{0, 1, 1, 1, 0});
  const BitMap ab(a, b);
  EXPECT_EQ(ab.size(), 5);
  EXPECT_EQ(words_of(ab), WordList{0b01010});
  const BitMap shorter_size(3, b.words());
  EXPECT_EQ(BitMap(a, shorter_size).size(), 5);
  EXPECT_EQ(BitMap(shorter_size, a).size(), 3);
  EXPECT_TRUE(BitMap(a, a).equals(a));
}

TEST(BitMap, CountsCoversAndEqualsWordByWord) {
  struct Case {
    const char* name;
    std::vector<int> a;
    std::vector<int> b;
    int shared;
    bool a_covers_b;
    bool b_covers_a;
    bool equal;
  };
  std::vector<int> bit31_only = row_with_ones(40, {0});
  std::vector<int> bit31_and_more = row_with_ones(40, {0, 5, 39});
  const Case cases[] = {
      {"equal rows", {1, 0, 1}, {1, 0, 1}, 2, true, true, true},
      {"strict subset", {1, 1, 1, 0}, {1, 0, 1, 0}, 2, true, false, false},
      {"disjoint", {1, 0, 0}, {0, 1, 1}, 0, false, false, false},
      {"all zero", {1, 0, 1}, {0, 0, 0}, 0, true, false, false},
      {"bit 31 only in b", row_with_ones(40, {5}), bit31_and_more, 1, false, true, false},
      {"bit 31 in both", bit31_and_more, bit31_only, 1, true, false, false},
      {"differ in the second word", row_with_ones(40, {39}), row_with_ones(40, {38}), 0, false, false, false},
      {"65 entries", row_with_ones(65, {0, 31, 32, 64}), row_with_ones(65, {31, 64}), 2, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const BitMap a(c.a);
    const BitMap b(c.b);
    EXPECT_EQ(a.count_shared_ones(b), c.shared);
    EXPECT_EQ(b.count_shared_ones(a), c.shared);
    EXPECT_EQ(a.covers(b), c.a_covers_b);
    EXPECT_EQ(b.covers(a), c.b_covers_a);
    EXPECT_EQ(a.equals(b), c.equal);
    EXPECT_EQ(b.equals(a), c.equal);
  }
}

// Against a plain per-entry computation on random rows of many lengths.
TEST(BitMap, AgreesWithEntryByEntryComputation) {
  std::mt19937 random(7);
  for (std::size_t n : {1, 5, 31, 32, 33, 63, 64, 65, 100}) {
    for (int trial = 0; trial < 50; ++trial) {
      std::vector<int> a(n);
      std::vector<int> b(n);
      for (std::size_t i = 0; i < n; ++i) {
        a[i] = int(random() % 2);
        b[i] = int(random() % 3 == 0 ? a[i] : random() % 2);
      }
      int shared = 0;
      bool b_in_a = true;
      for (std::size_t i = 0; i < n; ++i) {
        shared += a[i] & b[i];
        b_in_a = b_in_a && (b[i] == 0 || a[i] == 1);
      }
      SCOPED_TRACE("n = " + std::to_string(n) + ", trial " + std::to_string(trial));
      const BitMap ma(a);
      const BitMap mb(b);
      EXPECT_EQ(ma.count_shared_ones(mb), shared);
      EXPECT_EQ(ma.covers(mb), b_in_a);
      EXPECT_EQ(ma.equals(mb), a == b);
      EXPECT_EQ(BitMap(ma, mb).count_shared_ones(BitMap(ma, mb)), shared);
      EXPECT_EQ(count_shared_ones(ma.words(), mb.words(), mb.words()), shared);
      EXPECT_EQ(covers_and(ma.words(), mb.words(), mb.words()), b_in_a);
    }
  }
}

}  // namespace
