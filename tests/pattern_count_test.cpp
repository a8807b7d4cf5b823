// Counts of any size, from powers of two.
#include <gtest/gtest.h>

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
