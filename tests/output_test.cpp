// The pattern output: the buffer, and what is left of a file that could not be completed.
#include "Output.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "test_support.h"

namespace {

TEST(PatternOutput, LongAndShortPiecesArriveInOrder) {
  TempDir dir;
  std::string expected;
  {
    PatternOutput output;
    output.open(dir.file("out.txt"), {});
    for (int i = 0; i < 50'000; ++i) {
      const std::string piece =
          std::to_string(i) + (i % 10000 == 0 ? std::string(3'000'000, 'x') : "") + "\n";
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
