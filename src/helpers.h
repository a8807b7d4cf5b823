// The errors every failure travels in, the usage exit, and the readers of the two input files.
//
// Readers check what they read. Every problem with a file becomes a QuarnError whose text names the
// file and, for content errors, the line: "graph.txt:17: expected two node numbers, found "12,4"".
// The command line prints that text on standard error and exits with status 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "BitMap.h"
#include "Graph.h"
#include "LineReader.h"
#include "Options.h"

class QuarnError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Wrong usage: the text is the usage message, which goes to standard output.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "path: what" for a whole-file problem, "path:line: what" for a problem with one line.
[[noreturn]] void fail(const std::string& path, std::string_view what);
[[noreturn]] void fail(const std::string& path, std::int64_t line, std::string_view what);

// Ends the run with a usage message: throws the UsageError that the command line reports.
[[noreturn]] void terminate(std::string message);

// Writes "quarn: note: " and the message on standard error, unless options ask for quiet. A note
// tells what the user should know about the input or the run; it changes neither the output nor
// the exit status.
void note(const RunOptions& options, std::string_view message);

// The text of a line as it goes into an error message: quoted, its first kExcerptLength bytes only,
// every byte outside printable ASCII written as \xNN.
constexpr std::size_t kExcerptLength = 60;
std::string quoted_excerpt(std::string_view text);

// Whitespace between numbers: blank, tab, carriage return, vertical tab, form feed.
inline bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

enum class NumberResult { ok, not_a_number, out_of_range };

// Reads an optional sign and decimal digits at pos, as a signed 32-bit integer, and moves pos past
// them. Leaves pos unchanged unless the result is ok.
NumberResult parse_int32(std::string_view text, std::size_t& pos, std::int32_t& value);

// Converts a command-line number as stoi does: leading whitespace, an optional sign, decimal digits,
// and whatever follows ignored (so "3abc" is 3 and "0x10" is 0). Text without digits, or a value
// outside 32 bits, is a QuarnError naming the argument.
std::int32_t parse_int_argument(std::string_view name, std::string_view text);

// What a line of an edge-list file holds.
enum class EdgeLineKind { edge, skipped };

// Parses one line of an edge-list file. Blank lines and lines whose first non-blank character is '#'
// or '%' are skipped; any other line must begin with two non-negative decimal integers that fit in
// 32 bits, each ending at a blank or the end of the line ("1 2.5" and "1 2," are errors). What follows
// a blank after the second number is ignored (a weight, a remark). A NUL byte anywhere, the mark of a
// file that is not text, is an error. Returns an error message in error (and kind skipped) for a
// malformed line.
EdgeLineKind parse_edge_line(std::string_view line, Edge& edge, std::string& error);

// Reads an edge-list file. Every node number must be at most largest_node; the error for a larger one
// is "node number N " followed by too_large_reason.
EdgeList read_edges(const std::string& path, std::int32_t largest_node = INT32_MAX,
                    std::string_view too_large_reason = "");
EdgeList read_edges(LineReader& reader, std::int32_t largest_node = INT32_MAX,
                    std::string_view too_large_reason = "");

// What a line of an attribute file holds.
enum class AttributeLineKind { values, blank, error };

// Parses one line of an attribute file into packed words (cleared first) and the number of values.
// Values are 0 or 1, separated by blanks; reading stops at the first token that does not start like a
// number, and the rest of the line is ignored ("1 0 1 # note" has three values). A token that starts
// like a number must be 0 or 1 and end at a blank or the end of the line: "2", "1.0", "1,0,1" and "1x"
// are errors. A non-blank line that does not start with a number, and a NUL byte in the line (a file
// that is not text), are errors too, described in error.
AttributeLineKind parse_attribute_line(std::string_view line, std::vector<std::uint32_t>& words,
                                       std::int32_t& count, std::string& error);

// Reads an attribute file. Every non-blank line must hold as many values as the first one.
AttributeTable read_attr(const std::string& path);
AttributeTable read_attr(LineReader& reader);

// The number of attributes that nodes u and v share.
int get_shared_properties_count(const AttributeTable& table, std::int32_t u, std::int32_t v);
