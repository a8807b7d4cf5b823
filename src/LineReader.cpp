#include "LineReader.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "Decompression.h"
#include "Memory.h"
#include "helpers.h"

namespace {

constexpr std::size_t kReadBlock = std::size_t{1} << 20;
// Each read takes at most this much, so that the bytes are still in the cache when the searches for
// the line feed, the carriage return and the NUL byte go over them.
constexpr std::size_t kReadPiece = std::size_t{64} << 10;

// The memory a line may still take: what the kernel has available, and under an address-space
// limit (ulimit -v) what is left of it, so that a line too long for either is refused with a message
// instead of ending in a failed allocation or the kernel's killer.
std::uint64_t memory_for_lines() {
  std::uint64_t budget = available_memory();
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    std::uint64_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const std::uint64_t used = pages * std::uint64_t(::sysconf(_SC_PAGESIZE));
    budget = std::min<std::uint64_t>(budget, limit.rlim_cur > used ? limit.rlim_cur - used : 0);
  }
  return budget;
}

}  // namespace

std::size_t LineReader::ByteSearch::next(const char* data, std::size_t from, std::size_t end) {
  if (at < from) {  // a place already consumed with its line, or a search behind the line start
    at = from;
    hit = false;
  }
  if (hit) return at;
  if (at < end) {
    if (const void* place = std::memchr(data + at, byte, end - at)) {
      at = std::size_t(static_cast<const char*>(place) - data);
      hit = true;
      return at;
    }
    at = end;
  }
  return end;
}

void LineReader::ByteSearch::shift(std::size_t removed) {
  if (at < removed) {
    at = 0;
    hit = false;
  } else {
    at -= removed;
  }
}

LineReader::LineReader(const std::string& path)
    : LineReader(input_name(path), decompressing_source(open_file_source(path), input_name(path))) {}

LineReader::LineReader(std::string name, std::string_view text)
    : path_(std::move(name)),
      capacity_(std::min(kReadBlock, std::max<std::size_t>(text.size(), 16))),
      line_feed_{'\n'},
      carriage_return_{'\r'},
      nul_{'\0'} {
  source_ = decompressing_source(memory_source(text), path_);
  buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
}

LineReader::LineReader(std::string name, std::unique_ptr<ByteSource> source)
    : path_(std::move(name)),
      source_(std::move(source)),
      buffer_(std::make_unique_for_overwrite<char[]>(kReadBlock)),
      capacity_(kReadBlock),
      line_feed_{'\n'},
      carriage_return_{'\r'},
      nul_{'\0'} {}

void LineReader::refill() {
  if (begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    line_feed_.shift(begin_);
    carriage_return_.shift(begin_);
    nul_.shift(begin_);
    begin_ = 0;
  }
  if (end_ == capacity_) grow();
  const std::size_t got = source_->read(buffer_.get() + end_, std::min(capacity_ - end_, kReadPiece));
  if (got == 0) at_eof_ = true;
  end_ += got;
}

// Doubles the buffer for a line that fills it, unless the larger buffer would take more than a
// quarter of the memory available: a "line" of gigabytes is a file that is not a list of numbers.
void LineReader::grow() {
  const std::size_t bigger = capacity_ * 2;
  const std::uint64_t budget = memory_for_lines();
  if (bigger > budget / 4) {
    fail(path_, line_number_ + 1,
         "the line is longer than " + format_bytes(capacity_) +
             ": reading more of it would take more than a quarter of the memory available (" +
             format_bytes(budget) + ")");
  }
  auto larger = std::make_unique_for_overwrite<char[]>(bigger);
  std::memcpy(larger.get(), buffer_.get(), end_);
  buffer_ = std::move(larger);
  capacity_ = bigger;
}

void LineReader::fail_nul(std::size_t line_end) {
  const std::string_view line(buffer_.get() + begin_, line_end - begin_);
  fail(path_, line_number_ + 1,
       "found a NUL byte, which a text file does not hold, in " + quoted_excerpt(line));
}

bool LineReader::next(std::string_view& line) {
  if (at_start_) {
    at_start_ = false;
    while (end_ - begin_ < 3 && !at_eof_) refill();
    if (end_ - begin_ >= 3 && std::memcmp(buffer_.get() + begin_, "\xEF\xBB\xBF", 3) == 0) begin_ += 3;
  }
  for (;;) {
    const char* data = buffer_.get();
    const std::size_t stop =
        std::min(line_feed_.next(data, begin_, end_), carriage_return_.next(data, begin_, end_));
    // A carriage return that closes the data read so far may yet be followed by a line feed.
    const bool ended = stop < end_ && (data[stop] == '\n' || stop + 1 < end_ || at_eof_);
    if (ended || at_eof_) {
      if (begin_ == end_) return false;
      if (nul_.next(data, begin_, end_) < stop) fail_nul(stop);
      std::size_t next_begin = ended ? stop + 1 : end_;
      if (ended && data[stop] == '\r' && next_begin < end_ && data[next_begin] == '\n') ++next_begin;
      line = std::string_view(data + begin_, stop - begin_);
      begin_ = next_begin;
      ++line_number_;
      return true;
    }
    // A NUL byte is refused as soon as it is read, not when its line ends: a binary file may have
    // no line end for gigabytes. The line is read on only as far as the message shows it.
    if (nul_.next(data, begin_, end_) < end_ && end_ - begin_ > kExcerptLength) fail_nul(end_);
    refill();
  }
}
