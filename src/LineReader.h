// Reads text line by line through one large buffer, from a file or from memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A line ends at a line feed, a carriage return and line feed, or a carriage return alone; the line
// end is not part of the line. A byte-order mark at the start is skipped. Lines may be of any length.
class LineReader {
 public:
  // Reads the file at path; throws QuarnError when it cannot be read.
  explicit LineReader(std::string path);
  // Reads text held in memory, which must outlive the reader; name stands for it in messages.
  LineReader(std::string name, std::string_view text);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Sets line to the next line and returns true; returns false at the end of the text. The view
  // stays valid until the next call.
  bool next(std::string_view& line);
  std::int64_t line_number() const { return line_number_; }
  const std::string& path() const { return path_; }

 private:
  bool refill();
  std::size_t read_more(char* into, std::size_t room);

  std::string path_;
  int fd_ = -1;
  std::string_view text_;  // the unread rest of the text, when reading from memory
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // first unread byte in buffer_
  std::size_t end_ = 0;    // one past the last byte read into buffer_
  bool at_eof_ = false;
  bool at_start_ = true;
  std::int64_t line_number_ = 0;
};
