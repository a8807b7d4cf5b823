// Where pattern lines go, and the count line that ends every run.
//
// Pattern lines pass through one large buffer that is written out in whole blocks with write(2).
// Every write and the final close are checked: a run whose lines did not all reach their destination
// ends with a QuarnError, never with a count line. A pattern file that quarn created and could not
// complete (a full disk, or an error anywhere in the search) is removed, so that no incomplete file is
// left behind looking like a result; devices, FIFOs and standard output are never removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

class PatternOutput {
 public:
  PatternOutput() = default;  // count only: nothing is written
  ~PatternOutput();           // removes a created file that finish() did not complete
  PatternOutput(const PatternOutput&) = delete;
  PatternOutput& operator=(const PatternOutput&) = delete;

  // Opens OUTPUT_FILE; call it only once every input has been read and checked. "" writes nothing
  // (count only), "-" is standard output. An existing regular file is deleted and created afresh; a device,
  // FIFO or other special file is opened as it is and never deleted. A directory, or a file that is one of
  // inputs under any name, is refused.
  void open(const std::string& name, const std::vector<std::string>& inputs);

  bool enabled() const { return fd_ >= 0; }

  void write(const char* data, std::size_t size) {
    if (size > buffer_.size() - used_) {
      flush();
      if (size > buffer_.size()) return write_through(data, size);
    }
    std::memcpy(buffer_.data() + used_, data, size);
    used_ += size;
  }

  // Writes out what is buffered and closes a file. Throws QuarnError on any failure.
  void finish();

 private:
  void flush();
  void write_through(const char* data, std::size_t size);
  void write_all(const char* data, std::size_t size);
  [[noreturn]] void fail_write(int error);
  bool remove_created_file();

  int fd_ = -1;
  bool owns_fd_ = false;
  bool created_ = false;  // fd_ is a regular file this run created, identified by device and inode
  std::uint64_t created_dev_ = 0;
  std::uint64_t created_ino_ = 0;
  std::string name_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
};

// Writes whole lines to standard output as the count line is written: the lines that come before it.
void print_lines(std::string_view text);

// Writes "Patterns: " and the count, then a line end, to standard output.
void print_count_line(std::uint64_t count);
void print_count_line(const std::string& decimal_count);
