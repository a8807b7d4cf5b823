#include "LineReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "helpers.h"

namespace {
constexpr std::size_t kReadBlock = std::size_t{1} << 20;
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

LineReader::LineReader(std::string name, std::string_view text) : path_(std::move(name)), text_(text) {
  buffer_.resize(std::min(kReadBlock, std::max<std::size_t>(text.size(), 16)));
}

LineReader::~LineReader() {
  if (fd_ >= 0) ::close(fd_);
}

// Reads up to room bytes into into; returns 0 at the end of the text.
std::size_t LineReader::read_more(char* into, std::size_t room) {
  if (fd_ < 0) {
    const std::size_t size = std::min(room, text_.size());
    std::memcpy(into, text_.data(), size);
    text_.remove_prefix(size);
    return size;
  }
  for (;;) {
    const ssize_t got = ::read(fd_, into, room);
    if (got >= 0) return std::size_t(got);
    if (errno != EINTR) fail(path_, std::string("cannot read: ") + std::strerror(errno));
  }
}

bool LineReader::refill() {
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);  // a line longer than the buffer
  const std::size_t got = read_more(buffer_.data() + end_, buffer_.size() - end_);
  if (got == 0) {
    at_eof_ = true;
    return false;
  }
  end_ += got;
  return true;
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
    std::size_t length = 0;
    std::size_t consumed = 0;
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
