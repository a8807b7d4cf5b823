#include "ByteSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "helpers.h"

namespace {

class FileSource : public ByteSource {
 public:
  FileSource(int fd, bool owns_fd, std::string name) : fd_(fd), owns_fd_(owns_fd), name_(std::move(name)) {}
  ~FileSource() override {
    if (owns_fd_) ::close(fd_);
  }

  std::size_t read(char* into, std::size_t room) override {
    for (;;) {
      const ssize_t got = ::read(fd_, into, room);
      if (got >= 0) return std::size_t(got);
      if (errno != EINTR) fail(name_, std::string("cannot read: ") + std::strerror(errno));
    }
  }

 private:
  int fd_;
  bool owns_fd_;  // standard input stays open for whoever else holds it
  std::string name_;
};

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string_view text) : rest_(text) {}

  std::size_t read(char* into, std::size_t room) override {
    const std::size_t size = std::min(room, rest_.size());
    std::memcpy(into, rest_.data(), size);
    rest_.remove_prefix(size);
    return size;
  }

 private:
  std::string_view rest_;
};

class PrefixedSource : public ByteSource {
 public:
  PrefixedSource(std::string prefix, std::unique_ptr<ByteSource> rest)
      : prefix_(std::move(prefix)), rest_(std::move(rest)) {}

  std::size_t read(char* into, std::size_t room) override {
    if (given_ == prefix_.size()) return rest_->read(into, room);
    const std::size_t size = std::min(room, prefix_.size() - given_);
    std::memcpy(into, prefix_.data() + given_, size);
    given_ += size;
    return size;
  }

 private:
  std::string prefix_;
  std::size_t given_ = 0;
  std::unique_ptr<ByteSource> rest_;
};

}  // namespace

std::string input_name(const std::string& path) {
  return path == "-" ? "standard input" : path;
}

std::unique_ptr<ByteSource> open_file_source(const std::string& path) {
  const std::string name = input_name(path);
  const bool standard_input = path == "-";
  const int fd = standard_input ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fail(name, std::string("cannot open: ") + std::strerror(errno));
  auto source = std::make_unique<FileSource>(fd, !standard_input, name);
  struct stat info {};
  if (::fstat(fd, &info) != 0) fail(name, std::string("cannot read: ") + std::strerror(errno));
  if (S_ISDIR(info.st_mode)) fail(name, "is a directory, expected a text file");
  return source;
}

std::unique_ptr<ByteSource> memory_source(std::string_view text) {
  return std::make_unique<MemorySource>(text);
}

std::unique_ptr<ByteSource> prefixed_source(std::string prefix, std::unique_ptr<ByteSource> rest) {
  return std::make_unique<PrefixedSource>(std::move(prefix), std::move(rest));
}
