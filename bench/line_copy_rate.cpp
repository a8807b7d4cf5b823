// line_copy_rate: how fast lines of a pattern file can be copied into an output buffer, the way
// quarn formats them, with no search and no write: the formatting bound of a listing.
//
//   line_copy_rate FILE
//
// Reads FILE in large chunks and copies each line (one memcpy each) into a 1 MiB buffer that is
// reused when full. Only the copying is timed (CPU time of this process). Prints "BYTES SECONDS" on standard
// output.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

double cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: line_copy_rate FILE\n");
    return 2;
  }
  const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::perror(argv[1]);
    return 1;
  }
  constexpr std::size_t kChunk = std::size_t(64) << 20;
  constexpr std::size_t kBuffer = std::size_t(1) << 20;
  std::vector<char> chunk(kChunk);
  std::vector<char> buffer(kBuffer);
  std::vector<std::size_t> lengths;
  std::size_t used = 0;
  std::size_t carried = 0;  // bytes of a line cut by the end of the previous chunk
  std::uint64_t total = 0;
  double copying = 0;
  for (;;) {
    const ssize_t got = ::read(fd, chunk.data() + carried, kChunk - carried);
    if (got < 0) {
      std::perror(argv[1]);
      return 1;
    }
    const std::size_t size = carried + std::size_t(got);
    // Finding the lines is not timed: a listing knows its lines' lengths.
    lengths.clear();
    std::size_t line = 0;
    while (const void* end = std::memchr(chunk.data() + line, '\n', size - line)) {
      lengths.push_back(std::size_t(static_cast<const char*>(end) - chunk.data()) + 1 - line);
      line += lengths.back();
    }
    const double start = cpu_seconds();
    const char* from = chunk.data();
    for (const std::size_t length : lengths) {
      if (length > kBuffer - used) used = 0;
      std::memcpy(buffer.data() + used, from, length);
      used += length;
      from += length;
    }
    copying += cpu_seconds() - start;
    total += line;
    carried = size - line;
    std::memmove(chunk.data(), chunk.data() + line, carried);
    if (got == 0) break;
  }
  ::close(fd);
  // Keep the copies observable.
  volatile char sink = buffer[used / 2];
  (void)sink;
  std::printf("%llu %.6f\n", static_cast<unsigned long long>(total), copying);
  return 0;
}
