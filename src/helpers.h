// Input side of quarn: the error type every failure travels in, the usage exit, a fast line reader,
// and the edge-list reader shared by both modes.
//
// Readers check what they read. Every problem with a file becomes a QuarnError whose text names the
// file and, for content errors, the line: "graph.txt:17: expected two node numbers, found "12,4"".
// main prints that text on standard error and exits with status 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "BitMap.h"

class QuarnError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "path: what" for a whole-file problem, "path:line: what" for a problem with one line.
[[noreturn]] void fail(const std::string& path, std::string_view what);
[[noreturn]] void fail(const std::string& path, std::int64_t line, std::string_view what);

// Writes a usage message and a line end to standard output and exits with status 1.
[[noreturn]] void terminate(std::string message);

// The text of a line as it goes into an error message: quoted, cut short when very long.
std::string quoted_excerpt(std::string_view text);

// Reads a file line by line through one large buffer. A line ends at a line feed, a carriage return
// and line feed, or a carriage return alone; the line end is not part of the line. A byte-order mark
// at the start of the file is skipped. Lines may be of any length.
class LineReader {
 public:
  explicit LineReader(std::string path);  // throws QuarnError when the file cannot be read
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Sets line to the next line and returns true; returns false at the end of the file. The view
  // stays valid until the next call.
  bool next(std::string_view& line);
  std::int64_t line_number() const { return line_number_; }
  const std::string& path() const { return path_; }

 private:
  bool refill();

  std::string path_;
  int fd_ = -1;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // first unread byte in buffer_
  std::size_t end_ = 0;    // one past the last byte read into buffer_
  bool at_eof_ = false;
  bool at_start_ = true;
  std::int64_t line_number_ = 0;
};

// Whitespace between numbers: blank, tab, carriage return, vertical tab, form feed.
inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

enum class NumberResult { ok, not_a_number, out_of_range };

// Reads an optional sign and decimal digits at pos, as a signed 32-bit integer, and moves pos past
// them. Leaves pos unchanged unless the result is ok.
NumberResult parse_int32(std::string_view text, std::size_t& pos, std::int32_t& value);

struct Edge {
  std::int32_t first;
  std::int32_t second;
};

// The edges of an edge-list file in file order, exactly as the lines give them.
struct EdgeList {
  std::vector<Edge> edges;
  std::int32_t max_node = -1;       // the largest number on any line; -1 without edges
  std::int64_t max_node_line = 0;   // the first line that names max_node
};

// What a line of an edge-list file holds.
enum class EdgeLineKind { edge, skipped };

// Parses one line of an edge-list file. Blank lines and lines whose first non-blank character is '#'
// or '%' are skipped; any other line must begin with two non-negative decimal integers that fit in
// 32 bits, separated by blanks. What follows the second number is ignored, unless it holds a NUL byte,
// the mark of a file that is not text. Returns an error message in error (and kind skipped) for a
// malformed line.
EdgeLineKind parse_edge_line(std::string_view line, Edge& edge, std::string& error);

// Reads an edge-list file. Every node number must be at most largest_node; the error for a larger one
// is "node number N " followed by too_large_reason.
EdgeList read_edges(const std::string& path, std::int32_t largest_node = INT32_MAX,
                    std::string_view too_large_reason = "");

// Neighbour lists of a graph in one contiguous array: the neighbours of node u are
// neighbours[offsets[u]] to neighbours[offsets[u + 1] - 1], in the order the edge lines gave them.
struct AdjacencyList {
  std::vector<std::int64_t> offsets;  // one more than the number of node slots
  std::vector<std::int32_t> neighbours;

  std::int64_t node_slots() const { return offsets.empty() ? 0 : std::int64_t(offsets.size()) - 1; }
  std::span<const std::int32_t> of(std::int32_t node) const {
    return {neighbours.data() + offsets[node], neighbours.data() + offsets[node + 1]};
  }
};

// Builds neighbour lists for the nodes 0 to max_node. Each edge (u, v) appends v to the list of u and
// u to the list of v, in edge order; self-loops and repeated edges (in either orientation) are
// dropped, so every list holds each neighbour once, in the order of its first appearance. When keep
// is not empty, edge i enters the graph only if keep[i] is non-zero.
AdjacencyList build_simple_graph(const std::vector<Edge>& edges, std::int32_t max_node,
                                 std::span<const std::uint8_t> keep = {});

// Converts a command-line number as stoi does: leading whitespace, an optional sign, decimal digits,
// and whatever follows ignored (so "3abc" is 3 and "0x10" is 0). Text without digits, or a value
// outside 32 bits, is a QuarnError naming the argument.
std::int32_t parse_int_argument(std::string_view name, std::string_view text);

// The attribute file: line k holds the 0/1 attribute values of node k. Every row is packed as a
// BitMap row of words_per_row words, all rows in one array; row 0 and blank lines are rows of zeros.
struct AttributeTable {
  std::int32_t rows = 0;              // the number of lines, that is of nodes
  std::int32_t attribute_count = 0;   // values on every non-blank line; 0 when all lines are blank
  std::size_t words_per_row = 0;
  std::vector<std::uint32_t> words;   // (rows + 1) * words_per_row

  Words row(std::int32_t node) const { return {words.data() + std::size_t(node) * words_per_row, words_per_row}; }
  // The number of attributes of a node.
  int ones(std::int32_t node) const { return count_shared_ones(row(node), row(node)); }
};

// What a line of an attribute file holds.
enum class AttributeLineKind { values, blank, error };

// Parses one line of an attribute file into packed words (cleared first) and the number of values.
// Values are 0 or 1, separated by blanks; reading stops at the first token that is not a number, and
// the rest of the line is ignored ("1 0 1 # note" has three values). A value other than 0 or 1, a
// non-blank line that does not start with a number, and a NUL byte in the line (a file that is not
// text) are errors described in error.
AttributeLineKind parse_attribute_line(std::string_view line, std::vector<std::uint32_t>& words,
                                       std::int32_t& count, std::string& error);

// Reads an attribute file. Every non-blank line must hold as many values as the first one.
AttributeTable read_attr(const std::string& path);

// The number of attributes that nodes u and v share.
int get_shared_properties_count(const AttributeTable& table, std::int32_t u, std::int32_t v);

// Bytes of memory this process can still count on: the kernel's estimate of available memory.
std::uint64_t available_memory();

// Memory for data read at random, released with std::free: at least bytes long, in whole 2 MiB
// pages, which Linux is asked to back with large pages. With 4 KiB pages a scattered read often
// costs a page-table walk on top of the cache miss. Throws std::bad_alloc when there is none.
void* allocate_large_pages(std::size_t bytes);

// "1.5 GiB", "12.0 MiB": a byte count for a message.
std::string format_bytes(std::uint64_t bytes);
