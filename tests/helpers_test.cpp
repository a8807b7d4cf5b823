// The readers of the two input files: numbers, edge lines, attribute lines, and the errors that name
// the file and the line; and the conversion of MIN_SUP and MIN_GRAPH_SIZE.
#include "helpers.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

TEST(QuotedExcerpt, EscapesWhatIsNotPrintableAsciiAndCutsLongText) {
  struct Case {
    std::string text;
    std::string quoted;
  };
  const Case cases[] = {
      {"1 2", "\"1 2\""},
      {"", "\"\""},
      {"say \"hi\" \\", "\"say \\\"hi\\\" \\\\\""},
      {"a\tb", "\"a\\tb\""},
      {std::string("\0\x01\x1f", 3), "\"\\x00\\x01\\x1f\""},
      {" ~\x7f", "\" ~\\x7f\""},
      {"caf\xC3\xA9", "\"caf\\xc3\\xa9\""},
      {"\xFF\xFE"
       "1",
       "\"\\xff\\xfe1\""},
      {std::string(60, 'x'), "\"" + std::string(60, 'x') + "\""},
      {std::string(61, 'x'), "\"" + std::string(60, 'x') + "\"..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(quoted_excerpt(c.text), c.quoted);
  }
}

TEST(ParseInt32, AcceptsSignsLeadingZerosAndTheWholeRange) {
  struct Case {
    std::string text;
    NumberResult result;
    std::int32_t value;
    std::size_t end;
  };
  const Case cases[] = {
      {"0", NumberResult::ok, 0, 1},
      {"007", NumberResult::ok, 7, 3},
      {"+8", NumberResult::ok, 8, 2},
      {"-12x", NumberResult::ok, -12, 3},
      {"2147483647", NumberResult::ok, 2147483647, 10},
      {"-2147483648", NumberResult::ok, INT32_MIN, 11},
      {"2147483648", NumberResult::out_of_range, 0, 0},
      {"-2147483649", NumberResult::out_of_range, 0, 0},
      {"123456789012345678901234567890", NumberResult::out_of_range, 0, 0},
      {"+", NumberResult::not_a_number, 0, 0},
      {"-", NumberResult::not_a_number, 0, 0},
      {"x1", NumberResult::not_a_number, 0, 0},
      {"", NumberResult::not_a_number, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::size_t pos = 0;
    std::int32_t value = 0;
    EXPECT_EQ(parse_int32(c.text, pos, value), c.result);
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(pos, c.end);
  }
}

TEST(ParseEdgeLine, ReadsTwoNumbersAndIgnoresTheRest) {
  struct Case {
    std::string line;
    std::int32_t first, second;
  };
  const Case cases[] = {
      {"3 7 0.25", 3, 7},   {"  12\t4\r", 12, 4}, {"9 2", 9, 2},        {"007 +8", 7, 8},
      {"0 1", 0, 1},        {"1 2 3 4", 1, 2},    {"5 6 x", 5, 6},      {"2147483647 1", 2147483647, 1},
      {"4 4", 4, 4},        {"\t1\t\t2\t", 1, 2}, {"1 2 # note", 1, 2}, {"1 2 ,", 1, 2},
      {"1 2\v0.5\f", 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Edge edge{-1, -1};
    std::string error;
    EXPECT_EQ(parse_edge_line(c.line, edge, error), EdgeLineKind::edge);
    EXPECT_EQ(error, "");
    EXPECT_EQ(edge.first, c.first);
    EXPECT_EQ(edge.second, c.second);
  }
}

TEST(ParseEdgeLine, SkipsBlankAndCommentLines) {
  for (const std::string line : {"", "   ", "\t\r", "# FromNodeId ToNodeId", "  % bip unweighted", "#1 2"}) {
    SCOPED_TRACE(line);
    Edge edge{};
    std::string error;
    EXPECT_EQ(parse_edge_line(line, edge, error), EdgeLineKind::skipped);
    EXPECT_EQ(error, "");
  }
}

TEST(ParseEdgeLine, ExplainsWhatIsWrong) {
  struct Case {
    std::string line;
    std::string error;
  };
  const Case cases[] = {
      {"12,4", "expected two node numbers, found \"12,4\""},
      {"7", "expected two node numbers, found \"7\""},
      {"7 ", "expected two node numbers, found \"7 \""},
      {"3x 4", "expected two node numbers, found \"3x 4\""},
      {"1 2.5", "expected two node numbers, found \"1 2.5\""},
      {"1.5 2", "expected two node numbers, found \"1.5 2\""},
      {"1 2,", "expected two node numbers, found \"1 2,\""},
      {"1,2", "expected two node numbers, found \"1,2\""},
      {"5 6x", "expected two node numbers, found \"5 6x\""},
      {"1 2#c", "expected two node numbers, found \"1 2#c\""},
      {"1 2-3", "expected two node numbers, found \"1 2-3\""},
      {"1 \xC3\xA9", "expected two node numbers, found \"1 \\xc3\\xa9\""},
      {"source target", "expected two node numbers, found \"source target\""},
      {"+ 1", "expected two node numbers, found \"+ 1\""},
      {"1 -", "expected two node numbers, found \"1 -\""},
      {"-1 4", "node numbers cannot be negative, found \"-1 4\""},
      {"4 -0002", "node numbers cannot be negative, found \"4 -0002\""},
      {"1 2147483648", "node number \"2147483648\" is out of range: node numbers go from 0 to 2147483647"},
      {"123456789012345678901234567890 1",
       "node number \"123456789012345678901234567890\" is out of range: node numbers go from 0 to "
       "2147483647"},
      {std::string("1\0002", 3), "found a NUL byte, which a text file does not hold, in \"1\\x002\""},
      {std::string("1 2\0", 4), "found a NUL byte, which a text file does not hold, in \"1 2\\x00\""},
      {std::string("# \0", 3), "found a NUL byte, which a text file does not hold, in \"# \\x00\""},
      {std::string("1 2\0 x", 6), "found a NUL byte, which a text file does not hold, in \"1 2\\x00 x\""},
      {std::string("1 2 # \0", 7), "found a NUL byte, which a text file does not hold, in \"1 2 # \\x00\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Edge edge{};
    std::string error;
    EXPECT_EQ(parse_edge_line(c.line, edge, error), EdgeLineKind::skipped);
    EXPECT_EQ(error, c.error);
  }
}

EdgeList read_edges_text(const std::string& text, std::int32_t largest_node = INT32_MAX,
                         std::string_view too_large_reason = "") {
  LineReader reader("g.txt", text);
  return read_edges(reader, largest_node, too_large_reason);
}

AttributeTable read_attr_text(const std::string& text) {
  LineReader reader("a.txt", text);
  return read_attr(reader);
}

TEST(ReadEdges, KeepsEveryEdgeInFileOrderAndFindsTheLargestNode) {
  const EdgeList list = read_edges_text("# comment\n3 2\n\n2 1\n% other\n9 4 1.5\n1 9\n");
  ASSERT_EQ(list.edges.size(), 4u);
  EXPECT_EQ(list.edges[0].first, 3);
  EXPECT_EQ(list.edges[0].second, 2);
  EXPECT_EQ(list.edges[2].first, 9);
  EXPECT_EQ(list.edges[2].second, 4);
  EXPECT_EQ(list.max_node, 9);
  EXPECT_EQ(list.max_node_line, 6);

  EXPECT_TRUE(read_edges_text("").edges.empty());
  EXPECT_EQ(read_edges_text("").max_node, -1);
}

TEST(ReadEdges, NamesTheFileAndLineOfABadLine) {
  EXPECT_EQ(error_of([] { read_edges_text("1 2\n2 3\n\n3;4\n"); }),
            "g.txt:4: expected two node numbers, found \"3;4\"");
  EXPECT_EQ(error_of([] { read_edges_text("1 2\n2 6\n", 5, "is above 5, the number of rows"); }),
            "g.txt:2: node number 6 is above 5, the number of rows");
  TempDir dir;
  EXPECT_EQ(error_of([&] { read_edges(dir.file("missing.txt")); }),
            dir.file("missing.txt") + ": cannot open: No such file or directory");
}

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
      {"1 0 1\t#note", AttributeLineKind::values, {1, 0, 1}},
      {"1 0 x 1", AttributeLineKind::values, {1, 0}},
      {"1 0 + 1", AttributeLineKind::values, {1, 0}},
      {"1 1 -", AttributeLineKind::values, {1, 1}},
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
      {"1-1", "attribute values must be 0 or 1, found \"1-1\""},
      {"1+0", "attribute values must be 0 or 1, found \"1+0\""},
      {"1,0,1", "attribute values must be 0 or 1, found \"1,0,1\""},
      {"1.0 0.0 1.0", "attribute values must be 0 or 1, found \"1.0\""},
      {"1 0.0 1", "attribute values must be 0 or 1, found \"0.0\""},
      {"0.5 1", "attribute values must be 0 or 1, found \"0.5\""},
      {"1x 0", "attribute values must be 0 or 1, found \"1x\""},
      {"1 0 1,", "attribute values must be 0 or 1, found \"1,\""},
      {"+1x", "attribute values must be 0 or 1, found \"+1x\""},
      {"1 1 2nd", "attribute values must be 0 or 1, found \"2nd\""},
      {"1 99999999999", "attribute values must be 0 or 1, found \"99999999999\""},
      {"colour size shape", "expected attribute values 0 or 1, found \"colour size shape\""},
      {"# a comment", "expected attribute values 0 or 1, found \"# a comment\""},
      {",1 0", "expected attribute values 0 or 1, found \",1 0\""},
      {std::string("1 \0 1", 5), "found a NUL byte, which a text file does not hold, in \"1 \\x00 1\""},
      {std::string("1 1\0", 4), "found a NUL byte, which a text file does not hold, in \"1 1\\x00\""},
      {std::string("1 0 # \0", 7), "found a NUL byte, which a text file does not hold, in \"1 0 # \\x00\""},
      {std::string("1\0 0", 4), "found a NUL byte, which a text file does not hold, in \"1\\x00 0\""},
      {std::string("\0", 1), "found a NUL byte, which a text file does not hold, in \"\\x00\""},
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
    const AttributeTable table = read_attr_text(c.text);
    EXPECT_EQ(table.rows, c.rows);
    EXPECT_EQ(table.attribute_count, c.attribute_count);
    EXPECT_EQ(table.words_per_row, words_for(std::size_t(c.attribute_count)));
    EXPECT_EQ(table.words, c.words);
  }
}

TEST(ReadAttr, CountsOnesAndSharedAttributes) {
  const AttributeTable table = read_attr_text("1 1 0\n0 1 1\n1 1 1\n\n");
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
      {"1 0 1\n1,0,1\n", "2: attribute values must be 0 or 1, found \"1,0,1\""},
      {"1 0 1\n1 0\n", "2: expected 3 attribute values, as on line 1, found 2 in \"1 0\""},
      {"\n1 0\n1 0 1\n", "3: expected 2 attribute values, as on line 2, found 3 in \"1 0 1\""},
      {"1 0 1\n0 1 1\n1 0 x 1\n", "3: expected 3 attribute values, as on line 1, found 2 in \"1 0 x 1\""},
      {"colour size shape\n1 0 1\n", "1: expected attribute values 0 or 1, found \"colour size shape\""},
      {"1 0\n\n1 2\n", "3: attribute values must be 0 or 1, found \"2\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(error_of([&] { read_attr_text(c.text); }), "a.txt:" + c.error);
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
