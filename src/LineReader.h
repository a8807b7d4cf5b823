// Reads text line by line through one buffer, from a file, standard input, a pipe, memory, or a
// gzip or zstd stream (Decompression.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ByteSource.h"

// A line ends at a line feed, a carriage return and line feed, or a carriage return alone; the line
// end is not part of the line. A byte-order mark at the start is skipped.
//
// Reading is linear in the input whatever the source and the line ends: the searches for the line
// feed, the carriage return and the NUL byte each remember how far they have looked, so no byte is
// searched twice for the same thing, however the reads cut the text.
//
// Refused, as QuarnErrors naming the file and the line: a NUL byte, as soon as it is read (it marks a
// file that is not text: binary data, or text saved as UTF-16), and a line too long for the memory
// available, before it takes that memory.
class LineReader {
 public:
  // Reads the file at path, or standard input for "-", decompressed when it is gzip or zstd; throws
  // QuarnError when it cannot be read.
  explicit LineReader(const std::string& path);
  // Reads text held in memory (decompressed likewise), which must outlive the reader; name stands for
  // it in messages.
  LineReader(std::string name, std::string_view text);
  // Reads the bytes source gives, as they are (decompressing_source recognises compressed input);
  // name stands for them in messages.
  LineReader(std::string name, std::unique_ptr<ByteSource> source);

  // Sets line to the next line and returns true; returns false at the end of the text. The view
  // stays valid until the next call.
  bool next(std::string_view& line);
  std::int64_t line_number() const { return line_number_; }
  // The name of the input in messages: the path, or "standard input".
  const std::string& path() const { return path_; }

 private:
  // The next place of one byte value in the buffer, searched for once: a search resumes where the
  // last one stopped, so no byte is looked at twice for the same value.
  struct ByteSearch {
    char byte;
    std::size_t at = 0;  // the place found, when hit; otherwise how far the search has looked
    bool hit = false;
    // The first place of byte at or after from and before end, or end when there is none.
    std::size_t next(const char* data, std::size_t from, std::size_t end);
    // The buffer moved its unread bytes down by removed places.
    void shift(std::size_t removed);
  };

  void refill();
  void grow();
  [[noreturn]] void fail_nul(std::size_t line_end);

  std::string path_;
  std::unique_ptr<ByteSource> source_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t begin_ = 0;  // first unread byte in buffer_
  std::size_t end_ = 0;    // one past the last byte read into buffer_
  ByteSearch line_feed_;
  ByteSearch carriage_return_;
  ByteSearch nul_;
  bool at_eof_ = false;
  bool at_start_ = true;
  std::int64_t line_number_ = 0;
};
