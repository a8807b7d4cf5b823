// The line reader: every kind of line end, lines longer than its buffer, files it cannot read.
#include <gtest/gtest.h>

#include "LineReader.h"
#include "helpers.h"
#include "test_support.h"

namespace {

std::vector<std::string> lines_of(LineReader& reader) {
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.next(line)) lines.emplace_back(line);
  return lines;
}

// The lines of a text, read from a file and from memory, which must agree.
std::vector<std::string> read_lines(const std::string& text) {
  TempDir dir;
  write_file(dir.file("f.txt"), text);
  LineReader from_file(dir.file("f.txt"));
  LineReader from_memory("f.txt", text);
  std::vector<std::string> lines = lines_of(from_file);
  EXPECT_EQ(lines_of(from_memory), lines);
  return lines;
}

using Lines = std::vector<std::string>;

TEST(LineReader, SplitsLinesWhateverTheLastLineEnd) {
  struct Case {
    std::string text;
    Lines lines;
  };
  const Case cases[] = {
      {"", {}},
      {"\n", {""}},
      {"a\nb\nc\n", {"a", "b", "c"}},
      {"a\nb\nc", {"a", "b", "c"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\rb\rc\r", {"a", "b", "c"}},
      {"a\r\rb", {"a", "", "b"}},
      {"a\r\n\rb\r", {"a", "", "b"}},
      {std::string((1 << 20) - 1, 'x') + "\r\ny\n", {std::string((1 << 20) - 1, 'x'), "y"}},
      {"\n\nx\n\n", {"", "", "x", ""}},
      {"\xEF\xBB\xBF"
       "1 2\n",
       {"1 2"}},
      {"\xEF\xBB", {"\xEF\xBB"}},
      {std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(read_lines(c.text), c.lines);
  }
}

TEST(LineReader, ReadsLinesLongerThanItsBuffer) {
  const std::string longest(3'000'000, '7');
  std::string text;
  for (int i = 0; i < 3; ++i) text += std::string(1'000'003, char('a' + i)) + "\n";
  text += longest;
  const Lines lines = read_lines(text);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], std::string(1'000'003, 'b'));
  EXPECT_EQ(lines[3], longest);
}

TEST(LineReader, RefusesMissingFilesAndDirectories) {
  TempDir dir;
  EXPECT_EQ(error_of([&] { LineReader r(dir.file("none")); }),
            dir.file("none") + ": cannot open: No such file or directory");
  EXPECT_EQ(error_of([&] { LineReader r(dir.path()); }),
            dir.path() + ": is a directory, expected a text file");
}

}  // namespace
