#include "helpers.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>

void fail(const std::string& path, std::string_view what) {
  throw QuarnError(path + ": " + std::string(what));
}

void fail(const std::string& path, std::int64_t line, std::string_view what) {
  throw QuarnError(path + ":" + std::to_string(line) + ": " + std::string(what));
}

void terminate(std::string message) {
  message += '\n';
  std::fwrite(message.data(), 1, message.size(), stdout);
  std::fflush(stdout);
  std::exit(1);
}

std::string quoted_excerpt(std::string_view text) {
  constexpr std::size_t kLongest = 60;
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size() && i < kLongest; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    } else {
      out += char(c);
    }
  }
  out += text.size() > kLongest ? "\"..." : "\"";
  return out;
}

// ---------------------------------------------------------------------------------------------------
// LineReader

namespace {
constexpr std::size_t kReadBlock = std::size_t(1) << 20;
}

LineReader::LineReader(std::string path) : path_(std::move(path)) {
  fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) fail(path_, std::string("cannot open: ") + std::strerror(errno));
  struct stat info {};
  if (::fstat(fd_, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    fail(path_, "is a directory, expected a text file");
  }
  buffer_.resize(kReadBlock);
}

LineReader::~LineReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool LineReader::refill() {
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);  // a line longer than the buffer
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    if (got > 0) {
      end_ += std::size_t(got);
      return true;
    }
    if (got == 0) {
      at_eof_ = true;
      return false;
    }
    if (errno != EINTR) fail(path_, std::string("cannot read: ") + std::strerror(errno));
  }
}

bool LineReader::next(std::string_view& line) {
  if (at_start_) {
    at_start_ = false;
    while (end_ - begin_ < 3 && !at_eof_) refill();
    if (end_ - begin_ >= 3 && std::memcmp(buffer_.data() + begin_, "\xEF\xBB\xBF", 3) == 0) begin_ += 3;
  }
  std::size_t scanned = 0;  // bytes of the current line already searched for a line feed
  for (;;) {
    const char* start = buffer_.data() + begin_;
    const std::size_t available = end_ - begin_;
    const auto* feed = static_cast<const char*>(std::memchr(start + scanned, '\n', available - scanned));
    const std::size_t limit = feed != nullptr ? std::size_t(feed - start) : available;
    // A carriage return ends a line as well, before a line feed or alone (as in files from old Mac
    // systems). One that closes the data read so far may yet be followed by a line feed.
    const auto* cr = static_cast<const char*>(std::memchr(start, '\r', limit));
    std::size_t length;
    std::size_t consumed;
    if (cr != nullptr && (cr + 1 < start + available || at_eof_)) {
      length = std::size_t(cr - start);
      consumed = length + 1 + (cr + 1 < start + available && cr[1] == '\n' ? 1 : 0);
    } else if (feed != nullptr) {
      length = limit;
      consumed = length + 1;
    } else if (at_eof_) {
      if (available == 0) return false;
      length = consumed = available;
    } else {
      scanned = available;
      refill();
      continue;
    }
    begin_ += consumed;
    line = std::string_view(start, length);
    ++line_number_;
    return true;
  }
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
bool holds_nul(std::string_view text) { return !text.empty() && std::memchr(text.data(), '\0', text.size()) != nullptr; }

std::string nul_error(std::string_view line) {
  return "found a NUL byte, which a text file does not hold, in " + quoted_excerpt(line);
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
  if (pos == line.size() || line[pos] == '#' || line[pos] == '%') return EdgeLineKind::skipped;

  std::int32_t numbers[2];
  for (int i = 0; i < 2; ++i) {
    if (i == 1) {
      const std::size_t after_first = pos;
      pos = skip_blanks(line, pos);
      if (pos == after_first) {
        error = "expected two node numbers, found " + quoted_excerpt(line);
        return EdgeLineKind::skipped;
      }
    }
    switch (parse_int32(line, pos, numbers[i])) {
      case NumberResult::ok:
        break;
      case NumberResult::not_a_number:
        error = "expected two node numbers, found " + quoted_excerpt(line);
        return EdgeLineKind::skipped;
      case NumberResult::out_of_range:
        error = "node number " + quoted_excerpt(number_token(line, pos)) +
                " is out of range: node numbers go from 0 to 2147483647";
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
  EdgeList result;
  LineReader reader(path);
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
      fail(path, reader.line_number(), "node number " + std::to_string(larger) + " " + std::string(too_large_reason));
    }
    if (larger > result.max_node) {
      result.max_node = larger;
      result.max_node_line = reader.line_number();
    }
    result.edges.push_back(edge);
  }
  return result;
}

// ---------------------------------------------------------------------------------------------------
// Graph

AdjacencyList build_simple_graph(const std::vector<Edge>& edges, std::int32_t max_node,
                                 std::span<const std::uint8_t> keep) {
  AdjacencyList graph;
  if (max_node < 0) return graph;
  const std::size_t slots = std::size_t(max_node) + 1;
  auto kept = [&](std::size_t i) {
    return (keep.empty() || keep[i] != 0) && edges[i].first != edges[i].second;
  };

  // Count, prefix-sum, then fill: offsets[u] walks from the start of list u to its end, and is then
  // shifted back by one slot.
  std::vector<std::int64_t>& offsets = graph.offsets;
  offsets.assign(slots + 1, 0);
  for (std::size_t i = 0; i < edges.size(); ++i) {
    if (!kept(i)) continue;
    ++offsets[std::size_t(edges[i].first) + 1];
    ++offsets[std::size_t(edges[i].second) + 1];
  }
  for (std::size_t u = 1; u <= slots; ++u) offsets[u] += offsets[u - 1];
  std::vector<std::int32_t>& neighbours = graph.neighbours;
  neighbours.resize(std::size_t(offsets[slots]));
  for (std::size_t i = 0; i < edges.size(); ++i) {
    if (!kept(i)) continue;
    const Edge e = edges[i];
    neighbours[std::size_t(offsets[std::size_t(e.first)]++)] = e.second;
    neighbours[std::size_t(offsets[std::size_t(e.second)]++)] = e.first;
  }
  for (std::size_t u = slots; u > 0; --u) offsets[u] = offsets[u - 1];
  offsets[0] = 0;

  // Drop repeated neighbours, keeping each first appearance, and close the gaps.
  std::vector<std::int32_t> seen_from(slots, -1);
  std::int64_t write = 0;
  std::int64_t read_begin = 0;
  for (std::size_t u = 0; u < slots; ++u) {
    const std::int64_t read_end = offsets[u + 1];
    offsets[u] = write;
    for (std::int64_t k = read_begin; k < read_end; ++k) {
      const std::int32_t x = neighbours[std::size_t(k)];
      if (seen_from[std::size_t(x)] == std::int32_t(u)) continue;
      seen_from[std::size_t(x)] = std::int32_t(u);
      neighbours[std::size_t(write++)] = x;
    }
    read_begin = read_end;
  }
  offsets[slots] = write;
  if (std::size_t(write) < neighbours.size()) {
    neighbours.resize(std::size_t(write));
    neighbours.shrink_to_fit();
  }
  return graph;
}

// ---------------------------------------------------------------------------------------------------
// Memory

std::uint64_t available_memory() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  std::uint64_t kibibytes = 0;
  std::string unit;
  while (meminfo >> key >> kibibytes >> unit) {
    if (key == "MemAvailable:") return kibibytes * 1024;
  }
  const long pages = ::sysconf(_SC_AVPHYS_PAGES);
  const long page_size = ::sysconf(_SC_PAGESIZE);
  if (pages > 0 && page_size > 0) return std::uint64_t(pages) * std::uint64_t(page_size);
  return UINT64_MAX;
}

void* allocate_large_pages(std::size_t bytes) {
  constexpr std::size_t kPage = std::size_t(2) << 20;
  const std::size_t rounded = (std::max<std::size_t>(bytes, 1) + kPage - 1) / kPage * kPage;
  void* memory = std::aligned_alloc(kPage, rounded);
  if (memory == nullptr) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  madvise(memory, rounded, MADV_HUGEPAGE);  // only a hint: without it the pages are small
#endif
  return memory;
}

std::string format_bytes(std::uint64_t bytes) {
  static const char* const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  double value = double(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 6) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  } else {
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  }
  return text;
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
        if (count > 0 && holds_nul(line.substr(pos))) {
          error = nul_error(line);
          return AttributeLineKind::error;
        }
        if (count > 0) break;  // the values end here; the rest of the line is a remark
        error = "expected attribute values 0 or 1, found " + quoted_excerpt(line);
        return AttributeLineKind::error;
      }
      if (result == NumberResult::out_of_range || (value != 0 && value != 1)) {
        const std::size_t token_end = result == NumberResult::ok ? pos : start + number_token(line, start).size();
        error = "attribute values must be 0 or 1, found " + quoted_excerpt(line.substr(start, token_end - start));
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
  AttributeTable table;
  LineReader reader(path);
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
      fail(path, number, "the attribute table would need more than " + format_bytes(memory_limit) +
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
