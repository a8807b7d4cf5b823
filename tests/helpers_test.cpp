// The line reader, number and edge-line parsing, the edge-list reader and the graph builder.
#include "helpers.h"

#include <gtest/gtest.h>


#include "test_support.h"

namespace {

std::vector<std::string> read_lines(const std::string& text) {
  TempDir dir;
  write_file(dir.file("f.txt"), text);
  LineReader reader(dir.file("f.txt"));
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.next(line)) lines.emplace_back(line);
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
      {"\xEF\xBB\xBF" "1 2\n", {"1 2"}},
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
  for (int i = 0; i < 3; ++i) text += std::string(1'000'003, 'a' + i) + "\n";
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
  EXPECT_EQ(error_of([&] { LineReader r(dir.path()); }), dir.path() + ": is a directory, expected a text file");
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
      {"3 7 0.25", 3, 7},   {"  12\t4\r", 12, 4}, {"9 2", 9, 2},   {"007 +8", 7, 8},
      {"0 1", 0, 1},        {"1 2 3 4", 1, 2},    {"5 6x", 5, 6},  {"2147483647 1", 2147483647, 1},
      {"4 4", 4, 4},        {"\t1\t\t2\t", 1, 2},
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
      {"source target", "expected two node numbers, found \"source target\""},
      {"+ 1", "expected two node numbers, found \"+ 1\""},
      {"1 -", "expected two node numbers, found \"1 -\""},
      {"-1 4", "node numbers cannot be negative, found \"-1 4\""},
      {"4 -0002", "node numbers cannot be negative, found \"4 -0002\""},
      {"1 2147483648", "node number \"2147483648\" is out of range: node numbers go from 0 to 2147483647"},
      {"123456789012345678901234567890 1",
       "node number \"123456789012345678901234567890\" is out of range: node numbers go from 0 to 2147483647"},
      {std::string("1\0002", 3), "expected two node numbers, found \"1\\x002\""},
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

TEST(ReadEdges, KeepsEveryEdgeInFileOrderAndFindsTheLargestNode) {
  TempDir dir;
  write_file(dir.file("g.txt"), "# comment\n3 2\n\n2 1\n% other\n9 4 1.5\n1 9\n");
  const EdgeList list = read_edges(dir.file("g.txt"));
  ASSERT_EQ(list.edges.size(), 4u);
  EXPECT_EQ(list.edges[0].first, 3);
  EXPECT_EQ(list.edges[0].second, 2);
  EXPECT_EQ(list.edges[2].first, 9);
  EXPECT_EQ(list.edges[2].second, 4);
  EXPECT_EQ(list.max_node, 9);
  EXPECT_EQ(list.max_node_line, 6);
  EXPECT_EQ(read_edges(dir.file("g.txt")).edges.size(), 4u);

  write_file(dir.file("empty.txt"), "");
  EXPECT_TRUE(read_edges(dir.file("empty.txt")).edges.empty());
  EXPECT_EQ(read_edges(dir.file("empty.txt")).max_node, -1);
}

TEST(ReadEdges, NamesTheFileAndLineOfABadLine) {
  TempDir dir;
  const std::string path = dir.file("g.txt");
  write_file(path, "1 2\n2 3\n\n3;4\n");
  EXPECT_EQ(error_of([&] { read_edges(path); }), path + ":4: expected two node numbers, found \"3;4\"");
  write_file(path, "1 2\n2 6\n");
  EXPECT_EQ(error_of([&] { read_edges(path, 5, "is above 5, the number of rows"); }),
            path + ":2: node number 6 is above 5, the number of rows");
}

std::vector<std::vector<std::int32_t>> lists_of(const AdjacencyList& graph) {
  std::vector<std::vector<std::int32_t>> lists;
  for (std::int32_t u = 0; u < graph.node_slots(); ++u) {
    lists.emplace_back(graph.of(u).begin(), graph.of(u).end());
  }
  return lists;
}

TEST(BuildSimpleGraph, KeepsFirstAppearanceOrderWithoutLoopsOrRepeats) {
  using Lists = std::vector<std::vector<std::int32_t>>;
  EXPECT_EQ(lists_of(build_simple_graph({{2, 5}}, 5)), (Lists{{}, {}, {5}, {}, {}, {2}}));
  EXPECT_EQ(lists_of(build_simple_graph({{3, 2}, {2, 1}}, 3)), (Lists{{}, {2}, {3, 1}, {2}}));
  EXPECT_EQ(lists_of(build_simple_graph({{1, 2}, {2, 2}, {2, 1}, {3, 1}, {1, 2}, {0, 3}}, 3)),
            (Lists{{3}, {2, 3}, {1}, {1, 0}}));
  const std::uint8_t keep[] = {1, 0, 1};
  EXPECT_EQ(lists_of(build_simple_graph({{1, 2}, {2, 3}, {3, 1}}, 3, keep)), (Lists{{}, {2, 3}, {1}, {1}}));
  EXPECT_EQ(build_simple_graph({}, -1).node_slots(), 0);
}

}  // namespace
