// Reading speed of the attribute file reader: read_attr_speed ATTRIBUTES_FILE [TRIALS]
// Prints the best and median time of the trials and the speed in MB/s (10^6 bytes per second).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "helpers.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: read_attr_speed ATTRIBUTES_FILE [TRIALS]\n");
    return 1;
  }
  const int trials = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const double megabytes = double(std::filesystem::file_size(argv[1])) / 1e6;
  std::vector<double> seconds;
  std::int32_t rows = 0;
  for (int t = 0; t < trials; ++t) {
    const auto begin = std::chrono::steady_clock::now();
    const AttributeTable table = read_attr(argv[1]);
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    rows = table.rows;
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("%d rows, %.1f MB: best %.3f s (%.0f MB/s), median %.3f s (%.0f MB/s)\n", rows, megabytes,
              seconds[0], megabytes / seconds[0], seconds[seconds.size() / 2],
              megabytes / seconds[seconds.size() / 2]);
  return 0;
}
