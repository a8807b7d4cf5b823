// The attribute file: line parsing, the packed table, and the errors that name file and line; and
// the command-line number conversion of MIN_SUP and MIN_GRAPH_SIZE.
#include <gtest/gtest.h>


#include "BitMap.h"
#include "helpers.h"
#include "test_support.h"

namespace {

using WordList = std::vector<std::uint32_t>;

TEST(ParseAttributeLine, ReadsValuesUpToTheFirstTokenThatIsNoNumber) {
  struct Case {
    std::string line;
    AttributeLineKind kind;
    std::vector<int> row;
  };
  const Case cases[] = {
      {"1 0 1", AttributeLineKind::values, {1, 0, 1}},
      {"1 0 1\r", AttributeLineKind::values, {1, 0, 1}},
      {"\t0  1", AttributeLineKind::values, {0, 1}},
      {"1 0 1 # note", AttributeLineKind::values, {1, 0, 1}},
      {"1,0,1", AttributeLineKind::values, {1}},
      {"1 0 x 1", AttributeLineKind::values, {1, 0}},
      {"1x 0", AttributeLineKind::values, {1}},
      {"0.5 1", AttributeLineKind::values, {0}},
      {"+1 -0 01 00", AttributeLineKind::values, {1, 0, 1, 0}},
      {"1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 0", AttributeLineKind::values,
       std::vector<int>{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                        1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}},
      {"", AttributeLineKind::blank, {}},
      {" \t \r", AttributeLineKind::blank, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<std::uint32_t> words{99};
    std::int32_t count = -1;
    std::string error;
    EXPECT_EQ(parse_attribute_line(c.line, words, count, error), c.kind);
    EXPECT_EQ(count, std::int32_t(c.row.size()));
    const BitMap expected(c.row);
    EXPECT_EQ(words, WordList(expected.words().begin(), expected.words().end()));
    EXPECT_EQ(error, "");
  }
}

TEST(ParseAttributeLine, RejectsValuesOtherThanZeroOrOneAndLinesOfWords) {
  struct Case {
    std::string line;
    std::string error;
  };
  const Case cases[] = {
      {"1 2 0", "attribute values must be 0 or 1, found \"2\""},
      {"1 -1", "attribute values must be 0 or 1, found \"-1\""},
      {"10 1", "attribute values must be 0 or 1, found \"10\""},
      {"1-1", "attribute values must be 0 or 1, found \"-1\""},
      {"1 99999999999", "attribute values must be 0 or 1, found \"99999999999\""},
      {"colour size shape", "expected attribute values 0 or 1, found \"colour size shape\""},
      {"# a comment", "expected attribute values 0 or 1, found \"# a comment\""},
      {",1 0", "expected attribute values 0 or 1, found \",1 0\""},
      {std::string("1 \0 1", 5), "found a NUL byte, which a text file does not hold, in \"1 \\x00 1\""},
      {std::string("1 1\0", 4), "found a NUL byte, which a text file does not hold, in \"1 1\\x00\""},
      {std::string("1 0 # \0", 7), "found a NUL byte, which a text file does not hold, in \"1 0 # \\x00\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<std::uint32_t> words;
    std::int32_t count = 0;
    std::string error;
    EXPECT_EQ(parse_attribute_line(c.line, words, count, error), AttributeLineKind::error);
    EXPECT_EQ(error, c.error);
  }
}

std::string repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

struct TableCase {
  std::string name;
  std::string text;
  std::int32_t rows;
  std::int32_t attribute_count;
  WordList words;  // rows + 1 rows, row 0 first
};

TEST(ReadAttr, PacksEveryLineIntoOneRowAndBlankLinesIntoZeros) {
  const TableCase cases[] = {
      {"empty file", "", 0, 0, {}},
      {"three lines", "1 1 0\n0 1 1\n1 1 1\n", 3, 3, {0, 6, 3, 7}},
      {"no final line feed", "1 1 0\n0 1 1\n1 1 1", 3, 3, {0, 6, 3, 7}},
      {"carriage returns and a byte-order mark",
       "\xEF\xBB\xBF"
       "1 1 0\r\n0 1 1\r\n",
       2,
       3,
       {0, 6, 3}},
      {"blank line in the middle", "1 0\n\n0 1\n", 3, 2, {0, 2, 0, 1}},
      {"blank lines before the first values", "\n \n1 1\n", 3, 2, {0, 0, 0, 3}},
      {"blank line at the end", "1 1\n\n", 2, 2, {0, 3, 0}},
      {"only blank lines", "\n\n", 2, 0, {}},
      {"33 attributes",
       repeat("0 ", 32) + "1\n" + "1" + repeat(" 0", 32) + "\n",
       2,
       33,
       {0, 0, 0, 1, 0x80000000u, 0}},
  };
  for (const TableCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir.file("a.txt"), c.text);
    const AttributeTable table = read_attr(dir.file("a.txt"));
    EXPECT_EQ(table.rows, c.rows);
    EXPECT_EQ(table.attribute_count, c.attribute_count);
    EXPECT_EQ(table.words_per_row, words_for(std::size_t(c.attribute_count)));
    EXPECT_EQ(table.words, c.words);
  }
}

TEST(ReadAttr, CountsOnesAndSharedAttributes) {
  TempDir dir;
  write_file(dir.file("a.txt"), "1 1 0\n0 1 1\n1 1 1\n\n");
  const AttributeTable table = read_attr(dir.file("a.txt"));
  const int ones[] = {0, 2, 2, 3, 0};
  for (std::int32_t k = 0; k <= 4; ++k) EXPECT_EQ(table.ones(k), ones[k]) << "node " << k;
  EXPECT_EQ(get_shared_properties_count(table, 1, 2), 1);
  EXPECT_EQ(get_shared_properties_count(table, 1, 3), 2);
  EXPECT_EQ(get_shared_properties_count(table, 2, 3), 2);
  EXPECT_EQ(get_shared_properties_count(table, 3, 4), 0);
  EXPECT_EQ(get_shared_properties_count(table, 0, 3), 0);
}

TEST(ReadAttr, NamesTheFileTheLineAndTheExpectedLength) {
  struct Case {
    std::string text;
    std::string error;  // after "path:"
  };
  const Case cases[] = {
      {"1 0 1\n1,0,1\n", "2: expected 3 attribute values, as on line 1, found 1 in \"1,0,1\""},
      {"\n1 0\n1 0 1\n", "3: expected 2 attribute values, as on line 2, found 3 in \"1 0 1\""},
      {"1 0 1\n0 1 1\n1 0 x 1\n", "3: expected 3 attribute values, as on line 1, found 2 in \"1 0 x 1\""},
      {"colour size shape\n1 0 1\n", "1: expected attribute values 0 or 1, found \"colour size shape\""},
      {"1 0\n\n1 2\n", "3: attribute values must be 0 or 1, found \"2\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TempDir dir;
    const std::string path = dir.file("a.txt");
    write_file(path, c.text);
    EXPECT_EQ(error_of([&] { read_attr(path); }), path + ":" + c.error);
  }
  TempDir dir;
  EXPECT_EQ(error_of([&] { read_attr(dir.file("missing.txt")); }),
            dir.file("missing.txt") + ": cannot open: No such file or directory");
  EXPECT_EQ(error_of([&] { read_attr(dir.path()); }), dir.path() + ": is a directory, expected a text file");
}

TEST(ParseIntArgument, ConvertsLikeStoiAndNamesTheArgument) {
  struct Case {
    std::string text;
    std::int32_t value;
  };
  const Case accepted[] = {
      {"3", 3},
      {" 3", 3},
      {"\t\n3", 3},
      {"+3", 3},
      {"3abc", 3},
      {"0x10", 0},
      {"-0", 0},
      {"-2147483648", INT32_MIN},
      {"2147483647", INT32_MAX},
      {"007", 7},
      {"-5 ", -5},
  };
  for (const Case& c : accepted) EXPECT_EQ(parse_int_argument("MIN_SUP", c.text), c.value) << c.text;

  struct Rejected {
    std::string text;
    std::string error;
  };
  const Rejected rejected[] = {
      {"abc", "MIN_SUP must be an integer, got \"abc\""},
      {"", "MIN_SUP must be an integer, got \"\""},
      {" ", "MIN_SUP must be an integer, got \" \""},
      {"+", "MIN_SUP must be an integer, got \"+\""},
      {"x3", "MIN_SUP must be an integer, got \"x3\""},
      {"- 3", "MIN_SUP must be an integer, got \"- 3\""},
      {"2147483648", "MIN_SUP must be an integer from -2147483648 to 2147483647, got \"2147483648\""},
      {"-2147483649", "MIN_SUP must be an integer from -2147483648 to 2147483647, got \"-2147483649\""},
      {"99999999999999999999",
       "MIN_SUP must be an integer from -2147483648 to 2147483647, got \"99999999999999999999\""},
  };
  for (const Rejected& c : rejected) {
    EXPECT_EQ(error_of([&] { parse_int_argument("MIN_SUP", c.text); }), c.error) << c.text;
  }
  EXPECT_EQ(error_of([] { parse_int_argument("MIN_GRAPH_SIZE", "two"); }),
            "MIN_GRAPH_SIZE must be an integer, got \"two\"");
}

}  // namespace
