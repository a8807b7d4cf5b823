// The pattern output: the buffer, the temporary file that becomes OUTPUT_FILE, and what a run that
// does not finish leaves.
#include "Output.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <string>
#include <vector>

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

// The names in a folder that start with ".quarn-": temporary files left behind.
std::vector<std::string> temporaries_in(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(".quarn-")) found.push_back(name);
  }
  return found;
}

// While the run writes, the lines go to a temporary file beside OUTPUT_FILE, which stays as it was.
TEST(PatternOutput, TheFileIsReplacedOnlyWhenFinished) {
  TempDir dir;
  write_file(dir.file("out.txt"), "old");
  PatternOutput output;
  output.open(dir.file("out.txt"), {});
  const std::string piece(3'000'000, 'x');  // more than the buffer: part of it is written
  output.write(piece.data(), piece.size());
  EXPECT_EQ(read_file(dir.file("out.txt")), "old");
  ASSERT_EQ(temporaries_in(dir.path()).size(), 1u);
  EXPECT_EQ(read_file(dir.file(temporaries_in(dir.path())[0])).size(), piece.size());
  output.finish();
  EXPECT_EQ(read_file(dir.file("out.txt")), piece);
  EXPECT_TRUE(temporaries_in(dir.path()).empty());
}

// An error anywhere in the search unwinds past finish(): the temporary file is removed, OUTPUT_FILE
// is left as it was, and the note for the error message says so. A device is written directly.
TEST(PatternOutput, AnUnfinishedRunLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  const bool devices = ::mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  struct Case {
    std::string name;
    bool existed;
    std::string note;
  };
  const Case cases[] = {{"new.txt", false, "; no output file was created"},
                        {"existing.txt", true, "; " + dir.file("existing.txt") + " was left as it was"},
                        {"null", true, ""}};
  for (const Case& c : cases) {
    if (c.name == "null" && !devices) continue;
    SCOPED_TRACE(c.name);
    if (c.name != "null") write_file(dir.file("existing.txt"), "old");
    take_unfinished_output_note();
    {
      PatternOutput output;
      output.open(dir.file(c.name), {});
      const std::string piece(3'000'000, 'x');
      output.write(piece.data(), piece.size());
    }
    struct stat info {};
    EXPECT_EQ(::stat(dir.file(c.name).c_str(), &info) == 0, c.existed);
    if (c.name == "existing.txt") {
      EXPECT_EQ(read_file(dir.file(c.name)), "old");
    }
    EXPECT_TRUE(temporaries_in(dir.path()).empty());
    EXPECT_EQ(take_unfinished_output_note(), c.note);
    EXPECT_EQ(take_unfinished_output_note(), "");  // taken once
  }
}

// A new file gets what open(2) gives it under the umask; a replaced file keeps its permissions.
TEST(PatternOutput, PermissionsOfNewAndReplacedFiles) {
  TempDir dir;
  write_file(dir.file("private.txt"), "old");
  ASSERT_EQ(::chmod(dir.file("private.txt").c_str(), 0604), 0);
  const mode_t saved_mask = ::umask(027);
  for (const std::string name : {"new.txt", "private.txt"}) {
    PatternOutput output;
    output.open(dir.file(name), {});
    output.write("1 \n", 3);
    output.finish();
  }
  ::umask(saved_mask);
  struct stat info {};
  ASSERT_EQ(::stat(dir.file("new.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  ASSERT_EQ(::stat(dir.file("private.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0604u);
  EXPECT_EQ(read_file(dir.file("private.txt")), "1 \n");
}

}  // namespace
