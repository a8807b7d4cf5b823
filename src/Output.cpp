#include "Output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "helpers.h"

namespace {

constexpr std::size_t kBufferBytes = std::size_t(1) << 20;

// Writes everything, and returns 0 or the errno of the write that failed.
int write_fully(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += written;
    size -= std::size_t(written);
  }
  return 0;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

PatternOutput::~PatternOutput() {
  // Still open here means the run ended before finish(): whatever the file holds is incomplete.
  if (owns_fd_ && fd_ >= 0 && !remove_created_file()) ::close(fd_);
}

void PatternOutput::open(const std::string& name, const std::vector<std::string>& inputs) {
  if (name.empty()) return;
  buffer_.resize(kBufferBytes);
  if (name == "-") {
    fd_ = STDOUT_FILENO;
    name_ = "standard output";
    return;
  }
  struct stat target {};
  if (::stat(name.c_str(), &target) == 0) {
    for (const std::string& input : inputs) {
      struct stat source {};
      if (::stat(input.c_str(), &source) == 0 && same_file(source, target)) {
        fail(name, "is the same file as the input " + input + "; writing patterns to it would destroy it");
      }
    }
    if (S_ISDIR(target.st_mode)) fail(name, "is a directory; OUTPUT_FILE must name a file");
    // A regular file is replaced by a new one. Devices and FIFOs are written as they are.
    if (S_ISREG(target.st_mode)) ::unlink(name.c_str());
  }
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) fail(name, std::string("cannot create: ") + std::strerror(errno));
  if (fd <= STDERR_FILENO) {
    // Standard output or error was closed: keep the pattern file off their numbers, so that the
    // count line can never land in it.
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    if (moved < 0) fail(name, std::string("cannot create: ") + std::strerror(errno));
    fd = moved;
  }
  fd_ = fd;
  owns_fd_ = true;
  name_ = name;
  struct stat opened {};
  if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode)) {
    created_ = true;
    created_dev_ = opened.st_dev;
    created_ino_ = opened.st_ino;
  }
}

void PatternOutput::flush() {
  write_all(buffer_.data(), used_);
  used_ = 0;
}

void PatternOutput::write_through(const char* data, std::size_t size) {
  write_all(data, size);
}

void PatternOutput::write_all(const char* data, std::size_t size) {
  if (const int error = write_fully(fd_, data, size); error != 0) fail_write(error);
}

void PatternOutput::fail_write(int error) {
  std::string what = std::string("cannot write: ") + std::strerror(error);
  if (remove_created_file()) what += "; the incomplete file was removed";
  fail(name_, what);
}

// Closes and removes the file this run created, if it is still the one under name_ (the name may
// lead to it through symbolic links, as a dangling link given as OUTPUT_FILE does). Returns true
// when the file is gone.
bool PatternOutput::remove_created_file() {
  if (!created_) return false;
  created_ = false;
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(name_.c_str(), nullptr), &std::free);
  struct stat there {};
  if (!real || ::stat(real.get(), &there) != 0 || there.st_dev != created_dev_ ||
      there.st_ino != created_ino_) {
    return false;
  }
  return ::unlink(real.get()) == 0;
}

void PatternOutput::finish() {
  if (fd_ < 0) return;
  flush();
  if (owns_fd_) {
    if (::close(fd_) != 0) {
      const int error = errno;
      fd_ = -1;  // closed even when close reports an error
      fail_write(error);
    }
    fd_ = -1;
    created_ = false;
  }
}

void print_count_line(const std::string& decimal_count) {
  const std::string line = "Patterns: " + decimal_count + "\n";
  if (const int error = write_fully(STDOUT_FILENO, line.data(), line.size()); error != 0) {
    fail("standard output", std::string("cannot write: ") + std::strerror(error));
  }
}

void print_lines(std::string_view text) {
  if (const int error = write_fully(STDOUT_FILENO, text.data(), text.size()); error != 0) {
    fail("standard output", std::string("cannot write: ") + std::strerror(error));
  }
}

void print_count_line(std::uint64_t count) {
  print_count_line(std::to_string(count));
}
