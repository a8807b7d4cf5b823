#include "Output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "helpers.h"

namespace {

constexpr std::size_t kBufferBytes = std::size_t(1) << 20;

void write_all(int fd, const char* data, std::size_t size, const std::string& name) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      fail(name, std::string("cannot write: ") + std::strerror(errno));
    }
    data += written;
    size -= std::size_t(written);
  }
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

PatternOutput::~PatternOutput() {
  if (owns_fd_ && fd_ >= 0) ::close(fd_);
}

void PatternOutput::open(const std::string& name, const std::vector<std::string>& inputs) {
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
}

void PatternOutput::flush() {
  write_all(fd_, buffer_.data(), used_, name_);
  used_ = 0;
}

void PatternOutput::write_through(const char* data, std::size_t size) {
  write_all(fd_, data, size, name_);
}

void PatternOutput::finish() {
  if (fd_ < 0) return;
  flush();
  if (owns_fd_) {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail(name_, std::string("cannot write: ") + std::strerror(errno));
  }
}

mpz_class PatternCount::value() const {
  mpz_class result;
  mpz_import(result.get_mpz_t(), limbs_.size(), -1, sizeof(std::uint64_t), 0, 0, limbs_.data());
  return result;
}

void print_count_line(const std::string& decimal_count) {
  const std::string line = "Patterns: " + decimal_count + "\n";
  write_all(STDOUT_FILENO, line.data(), line.size(), "standard output");
}

void print_count_line(std::uint64_t count) {
  print_count_line(std::to_string(count));
}
