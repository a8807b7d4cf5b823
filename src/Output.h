// Where pattern lines go, and the count line that ends every run.
//
// Pattern lines pass through one large buffer that is written out in whole blocks with write(2).
// Every write and the final close are checked: a run whose lines did not all reach their destination
// ends with a QuarnError, never with a count line.
//
// A regular file is never written in place: the lines go to a temporary file beside it
// (".quarn-XXXXXX" in the same folder), which finish() renames over it once it is complete and
// closed. Until then an existing file is untouched, so a run that fails or is stopped by SIGINT,
// SIGTERM or SIGHUP leaves it as it was, and the temporary file is removed (a signal handler
// removes it, then ends the process by the same signal). Devices, FIFOs and standard output are
// written directly and never removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// An allocator whose resize leaves new bytes as they are: buffers of lines are written before they
// are read, and clearing a megabyte for every block of lines costs as much as copying it.
template <class T>
struct UninitializedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  UninitializedAllocator() = default;
  template <class U>
  UninitializedAllocator(const UninitializedAllocator<U>& /*other*/) noexcept {}
  template <class U>
  void construct(U* place) noexcept {
    ::new (static_cast<void*>(place)) U;
  }
  template <class U, class... Args>
  void construct(U* place, Args&&... args) {
    ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
  }
};

// A block of output lines.
using LineBuffer = std::vector<char, UninitializedAllocator<char>>;

struct stat;

class PatternOutput {
 public:
  PatternOutput() = default;  // count only: nothing is written
  ~PatternOutput();           // removes the temporary file of a run that finish() did not complete
  PatternOutput(const PatternOutput&) = delete;
  PatternOutput& operator=(const PatternOutput&) = delete;

  // Opens OUTPUT_FILE; call it only once every input has been read and checked. "" writes nothing
  // (count only), "-" is standard output, and so is a name for the file standard output already
  // writes (/dev/stdout, /proc/self/fd/1). A regular file, new or existing, is written under a
  // temporary name beside it; a symbolic link is followed, and the file it leads to is the one
  // replaced. A device, FIFO or other special file is opened as it is. Refused with a QuarnError: a
  // directory, a file that is one of inputs under any name, and an existing file that this process
  // may not write (as the shell's ">" refuses it).
  void open(const std::string& name, const std::vector<std::string>& inputs);

  bool enabled() const { return fd_ >= 0; }

  // The bytes free for a regular OUTPUT_FILE on its file system (statvfs: those an unprivileged
  // process may take); nothing for standard output, devices and FIFOs, or a file system that does
  // not say.
  std::optional<std::uint64_t> free_bytes() const;
  // Whether OUTPUT_FILE exists and is replaced: its blocks are freed only once the new file is in place.
  bool replaces_file() const { return temporary_ && replaces_; }
  // Whether the lines go to a terminal.
  bool writes_to_terminal() const;
  // OUTPUT_FILE as given.
  const std::string& name() const { return name_; }

  void write(const char* data, std::size_t size) {
    if (size > buffer_.size() - used_) {
      flush();
      if (size > buffer_.size()) return write_through(data, size);
    }
    std::memcpy(buffer_.data() + used_, data, size);
    used_ += size;
  }

  // Writes a block of whole lines without copying it, after what is buffered.
  void write_block(const char* data, std::size_t size) {
    flush();
    write_all(data, size);
  }

  // Writes out what is buffered, closes a file, and puts a temporary file in place of OUTPUT_FILE.
  // Throws QuarnError on any failure.
  void finish();

 private:
  void open_directly(const std::string& name);
  void open_replacement(const std::string& name, const struct stat& existing);
  void open_new_file(const std::string& name);
  void open_temporary(const std::string& name, const std::string& target, bool replaces);
  void flush();
  void write_through(const char* data, std::size_t size);
  void write_all(const char* data, std::size_t size);
  [[noreturn]] void fail_write(int error);
  void abandon_temporary();

  int fd_ = -1;
  bool owns_fd_ = false;
  bool temporary_ = false;  // fd_ is the temporary file that finish() renames to target_
  bool replaces_ = false;   // target_ exists
  std::string target_;      // OUTPUT_FILE with its symbolic links followed
  std::string name_;        // OUTPUT_FILE as given, for messages
  std::string left_note_;   // what a run that does not finish says of OUTPUT_FILE
  std::vector<char> buffer_;
  std::size_t used_ = 0;
};

// What the last PatternOutput destroyed or failed before finish() left of its OUTPUT_FILE, as the end
// of an error message ("; out.txt was left as it was"), or "" when nothing was at stake; clears it.
// The command line adds it to every error, whatever part of the run failed.
std::string take_unfinished_output_note();

// The message that refuses a listing of needed bytes into OUTPUT_FILE name, on a file system with
// free bytes, or "" when it fits. replaces: an existing file is replaced, and its space is freed only
// after the new file is complete.
std::string space_refusal(const std::string& name, std::uint64_t needed, std::uint64_t free, bool replaces);

// Writes whole lines to standard output as the count line is written: the lines that come before it.
void print_lines(std::string_view text);

// Writes "Patterns: " and the count, then a line end, to standard output.
void print_count_line(std::uint64_t count);
void print_count_line(const std::string& decimal_count);
