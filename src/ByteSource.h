// Where the bytes of an input come from: a file descriptor (a file, a pipe, a FIFO, standard input),
// text held in memory, or a decompressor in front of one of them (Decompression.h). The line reader
// reads through this interface and knows none of them.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  ByteSource() = default;
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  // Reads up to room bytes (room > 0) into into and returns how many; 0 only at the end. A read
  // error or data that cannot be decoded is a QuarnError naming the input.
  virtual std::size_t read(char* into, std::size_t room) = 0;
};

// The name of an input in messages: "standard input" for "-", otherwise the path as given.
std::string input_name(const std::string& path);

// Opens the file at path for reading, or standard input for "-". A file that cannot be opened and a
// directory are QuarnErrors naming input_name(path).
std::unique_ptr<ByteSource> open_file_source(const std::string& path);

// Text in memory, which must outlive the source.
std::unique_ptr<ByteSource> memory_source(std::string_view text);

// The bytes of prefix, then those of rest: a source whose first bytes were read to look at them.
std::unique_ptr<ByteSource> prefixed_source(std::string prefix, std::unique_ptr<ByteSource> rest);
