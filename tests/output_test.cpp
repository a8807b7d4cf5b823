// Counts of any size, and the pattern output buffer.
#include "Output.h"

#include <gtest/gtest.h>

#include <bit>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "test_support.h"

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

TEST(PatternOutput, LongAndShortPiecesArriveInOrder) {
  TempDir dir;
  std::string expected;
  {
    PatternOutput output;
    output.open(dir.file("out.txt"), {});
    for (int i = 0; i < 50'000; ++i) {
      const std::string piece = std::to_string(i) + (i % 10000 == 0 ? std::string(3'000'000, 'x') : "") + "\n";
      output.write(piece.data(), piece.size());
      expected += piece;
    }
    output.finish();
  }
  EXPECT_EQ(read_file(dir.file("out.txt")), expected);
}

// An error anywhere in the search unwinds past finish(): the file the run created is incomplete and is
// removed; a device is left alone.
TEST(PatternOutput, AnUnfinishedFileIsRemovedAndADeviceIsNot) {
  TempDir dir;
  write_file(dir.file("existing.txt"), "old");
  const bool devices = ::mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  struct Case {
    std::string name;
    bool remains;
  };
  const Case cases[] = {{"new.txt", false}, {"existing.txt", false}, {"null", true}};
  for (const Case& c : cases) {
    if (c.name == "null" && !devices) continue;
    SCOPED_TRACE(c.name);
    {
      PatternOutput output;
      output.open(dir.file(c.name), {});
      const std::string piece(3'000'000, 'x');  // more than the buffer: part of it is written
      output.write(piece.data(), piece.size());
    }
    struct stat info {};
    EXPECT_EQ(::stat(dir.file(c.name).c_str(), &info) == 0, c.remains);
  }
}

}  // namespace
