#include "helpers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Memory.h"

void fail(const std::string& path, std::string_view what) {
  throw QuarnError(path + ": " + std::string(what));
}

void fail(const std::string& path, std::int64_t line, std::string_view what) {
  throw QuarnError(path + ":" + std::to_string(line) + ": " + std::string(what));
}

void terminate(std::string message) {
  throw UsageError(message);
}

void note(const RunOptions& options, std::string_view message) {
  if (options.quiet) return;
  std::fprintf(stderr, "quarn: note: %.*s\n", int(message.size()), message.data());
  std::fflush(stderr);
}

std::string quoted_excerpt(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size() && i < kExcerptLength; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c >= 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    } else {
      out += char(c);
    }
  }
  out += text.size() > kExcerptLength ? "\"..." : "\"";
  return out;
}

// ---------------------------------------------------------------------------------------------------
// Numbers and edge lines

NumberResult parse_int32(std::string_view text, std::size_t& pos, std::int32_t& value) {
  std::size_t p = pos;
  bool negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
    negative = text[p] == '-';
    ++p;
  }
  if (p >= text.size() || text[p] < '0' || text[p] > '9') return NumberResult::not_a_number;
  std::int64_t magnitude = 0;
  bool too_large = false;
  for (; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p) {
    if (!too_large) {
      magnitude = magnitude * 10 + (text[p] - '0');
      too_large = magnitude > std::int64_t(INT32_MAX) + 1;
    }
  }
  if (too_large || (!negative && magnitude > INT32_MAX)) return NumberResult::out_of_range;
  value = std::int32_t(negative ? -magnitude : magnitude);
  pos = p;
  return NumberResult::ok;
}

namespace {

std::size_t skip_blanks(std::string_view text, std::size_t pos) {
  while (pos < text.size() && is_blank(text[pos])) ++pos;
  return pos;
}

// What follows the numbers of a line is ignored, but a NUL byte there means the file is not text (a
// binary file, or text in UTF-16): reading on would give numbers from a file quarn cannot read.
bool holds_nul(std::string_view text) {
  return !text.empty() && std::memchr(text.data(), '\0', text.size()) != nullptr;
}

std::string nul_error(std::string_view line) {
  return "found a NUL byte, which a text file does not hold, in " + quoted_excerpt(line);
}

// A number ends at a blank or at the end of the line: in "2.5", "1,0,1" or "3x" the digits run into
// other characters, and reading the digits alone would give a number the file does not hold.
bool ends_number(std::string_view text, std::size_t pos) {
  return pos == text.size() || is_blank(text[pos]);
}

// The message for a line that does not start with two node numbers; a NUL byte in it explains more.
std::string not_two_numbers(std::string_view line) {
  return holds_nul(line) ? nul_error(line) : "expected two node numbers, found " + quoted_excerpt(line);
}

// The token that starts at pos: everything up to the next blank.
std::string_view token_at(std::string_view text, std::size_t pos) {
  std::size_t end = pos;
  while (end < text.size() && !is_blank(text[end])) ++end;
  return text.substr(pos, end - pos);
}

// The sign and digits that start at pos, for a message about a number out of range.
std::string_view number_token(std::string_view text, std::size_t pos) {
  std::size_t end = pos + 1;
  while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
  return text.substr(pos, end - pos);
}

}  // namespace

EdgeLineKind parse_edge_line(std::string_view line, Edge& edge, std::string& error) {
  std::size_t pos = skip_blanks(line, 0);
  if (pos == line.size() || line[pos] == '#' || line[pos] == '%') {
    if (holds_nul(line.substr(pos))) error = nul_error(line);
    return EdgeLineKind::skipped;
  }

  std::int32_t numbers[2];
  for (int i = 0; i < 2; ++i) {
    if (i == 1) pos = skip_blanks(line, pos);
    switch (parse_int32(line, pos, numbers[i])) {
      case NumberResult::ok:
        break;
      case NumberResult::not_a_number:
        error = not_two_numbers(line);
        return EdgeLineKind::skipped;
      case NumberResult::out_of_range:
        error = "node number " + quoted_excerpt(number_token(line, pos)) +
                " is out of range: node numbers go from 0 to 2147483647";
        return EdgeLineKind::skipped;
    }
    if (!ends_number(line, pos)) {  // "1 2.5", "1,2", "3x 4"
      error = not_two_numbers(line);
      return EdgeLineKind::skipped;
    }
  }
  if (numbers[0] < 0 || numbers[1] < 0) {
    error = "node numbers cannot be negative, found " + quoted_excerpt(line);
    return EdgeLineKind::skipped;
  }
  if (holds_nul(line.substr(pos))) {
    error = nul_error(line);
    return EdgeLineKind::skipped;
  }
  edge = Edge{numbers[0], numbers[1]};
  return EdgeLineKind::edge;
}

EdgeList read_edges(const std::string& path, std::int32_t largest_node, std::string_view too_large_reason) {
  LineReader reader(path);
  return read_edges(reader, largest_node, too_large_reason);
}

namespace {

// Before the edge list grows: an endless input of short lines would otherwise grow it until the
// system kills the process. The list doubles, and the old one lives until the new one is filled.
void check_room_for_edges(const LineReader& reader, std::size_t edges) {
  const std::uint64_t needed = 3 * std::max<std::uint64_t>(edges, 1) * sizeof(Edge);
  if (needed < (std::uint64_t{64} << 20)) return;
  const std::uint64_t available = available_memory();
  if (needed <= available) return;
  fail(reader.path(), reader.line_number(),
       "the graph would need more than " + format_bytes(needed) + " of memory for its " +
           std::to_string(edges) + " edges so far, and " + format_bytes(available) + " is available");
}

}  // namespace

EdgeList read_edges(LineReader& reader, std::int32_t largest_node, std::string_view too_large_reason) {
  const std::string& path = reader.path();
  EdgeList result;
  std::string_view line;
  std::string error;
  while (reader.next(line)) {
    Edge edge{};
    if (parse_edge_line(line, edge, error) == EdgeLineKind::skipped) {
      if (!error.empty()) fail(path, reader.line_number(), error);
      continue;
    }
    const std::int32_t larger = std::max(edge.first, edge.second);
    if (larger > largest_node) {
      fail(path, reader.line_number(),
           "node number " + std::to_string(larger) + " " + std::string(too_large_reason));
    }
    if (larger > result.max_node) {
      result.max_node = larger;
      result.max_node_line = reader.line_number();
    }
    if (result.edges.size() == result.edges.capacity()) check_room_for_edges(reader, result.edges.size());
    result.edges.push_back(edge);
  }
  return result;
}

// ---------------------------------------------------------------------------------------------------
// Command-line numbers

std::int32_t parse_int_argument(std::string_view name, std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && (is_blank(text[pos]) || text[pos] == '\n')) ++pos;
  std::int32_t value = 0;
  switch (parse_int32(text, pos, value)) {
    case NumberResult::ok:
      return value;
    case NumberResult::not_a_number:
      throw QuarnError(std::string(name) + " must be an integer, got " + quoted_excerpt(text));
    case NumberResult::out_of_range:
      break;
  }
  throw QuarnError(std::string(name) + " must be an integer from -2147483648 to 2147483647, got " +
                   quoted_excerpt(text));
}

// ---------------------------------------------------------------------------------------------------
// Attribute file

AttributeLineKind parse_attribute_line(std::string_view line, std::vector<std::uint32_t>& words,
                                       std::int32_t& count, std::string& error) {
  words.clear();
  count = 0;
  std::uint32_t word = 0;
  int in_word = 0;
  const std::size_t end = line.size();
  std::size_t pos = skip_blanks(line, 0);
  if (pos == end) return AttributeLineKind::blank;
  while (pos < end) {
    std::int32_t value;
    const char c = line[pos];
    if ((c == '0' || c == '1') && (pos + 1 == end || is_blank(line[pos + 1]))) {
      value = c - '0';  // the usual single-digit value, read without the general parser
      ++pos;
    } else {
      const std::size_t start = pos;
      const NumberResult result = parse_int32(line, pos, value);
      if (result == NumberResult::not_a_number) {
        if (holds_nul(line.substr(start))) {
          error = nul_error(line);
          return AttributeLineKind::error;
        }
        if (count > 0) break;  // the values end here; the rest of the line is a remark
        error = "expected attribute values 0 or 1, found " + quoted_excerpt(line);
        return AttributeLineKind::error;
      }
      const std::string_view token = token_at(line, start);
      if (result == NumberResult::out_of_range || (value != 0 && value != 1) || pos != start + token.size()) {
        // "2", "1.0", "1,0,1", "1x": a number must be 0 or 1 and end at a blank.
        error = holds_nul(token) ? nul_error(line)
                                 : "attribute values must be 0 or 1, found " + quoted_excerpt(token);
        return AttributeLineKind::error;
      }
    }
    if (count == INT32_MAX) {
      error = "more than 2147483647 attribute values";
      return AttributeLineKind::error;
    }
    ++count;
    word = 2 * word + std::uint32_t(value);
    if (++in_word == kBitsPerWord) {
      words.push_back(word);
      word = 0;
      in_word = 0;
    }
    pos = skip_blanks(line, pos);
  }
  if (in_word > 0) words.push_back(word);
  return AttributeLineKind::values;
}

AttributeTable read_attr(const std::string& path) {
  LineReader reader(path);
  return read_attr(reader);
}

AttributeTable read_attr(LineReader& reader) {
  const std::string& path = reader.path();
  AttributeTable table;
  std::string_view line;
  std::string error;
  std::vector<std::uint32_t> row;
  std::int32_t count = 0;
  std::int64_t first_values_line = 0;  // the line that fixed attribute_count; 0 before any
  std::uint64_t memory_limit = 0;
  while (reader.next(line)) {
    const std::int64_t number = reader.line_number();
    if (number > INT32_MAX) fail(path, number, "too many lines: node numbers go up to 2147483647");
    const AttributeLineKind kind = parse_attribute_line(line, row, count, error);
    if (kind == AttributeLineKind::error) fail(path, number, error);
    if (kind == AttributeLineKind::values) {
      if (first_values_line == 0) {
        // The first row with values fixes the length of every row; earlier blank rows (and row 0)
        // become rows of zeros of that length.
        first_values_line = number;
        table.attribute_count = count;
        table.words_per_row = row.size();
        table.words.assign(std::size_t(number) * row.size(), 0);
        memory_limit = available_memory() / 2;
      } else if (count != table.attribute_count) {
        fail(path, number,
             "expected " + std::to_string(table.attribute_count) + " attribute values, as on line " +
                 std::to_string(first_values_line) + ", found " + std::to_string(count) + " in " +
                 quoted_excerpt(line));
      }
      table.words.insert(table.words.end(), row.begin(), row.end());
    } else if (first_values_line != 0) {
      table.words.resize(table.words.size() + table.words_per_row, 0);
    }
    if (first_values_line != 0 && table.words.size() * sizeof(std::uint32_t) > memory_limit) {
      fail(path, number,
           "the attribute table would need more than " + format_bytes(memory_limit) +
               " of memory, which is half of what is available");
    }
    table.rows = std::int32_t(number);
  }
  if (first_values_line == 0) table.words.clear();  // no values at all: every row is empty
  return table;
}

int get_shared_properties_count(const AttributeTable& table, std::int32_t u, std::int32_t v) {
  return count_shared_ones(table.row(u), table.row(v));
}
