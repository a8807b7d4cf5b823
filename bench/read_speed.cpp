// Reading speed of the input readers, once per run: read_speed edges|attributes|lines PATH
//
// Reads PATH with the edge-list reader, the attribute reader, or the line reader alone, and prints
// the elapsed seconds and the lines or edges read. PATH may be a pipe or a FIFO, so one run reads it
// once; bench/run_read.sh repeats runs and turns the times into MB/s of uncompressed text.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "helpers.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: read_speed edges|attributes|lines PATH\n");
    return 1;
  }
  const std::string kind = argv[1];
  const std::string path = argv[2];
  const auto begin = std::chrono::steady_clock::now();
  long long items = 0;
  try {
    if (kind == "edges") {
      items = static_cast<long long>(read_edges(path).edges.size());
    } else if (kind == "attributes") {
      items = read_attr(path).rows;
    } else if (kind == "lines") {
      LineReader reader(path);
      std::string_view line;
      while (reader.next(line)) ++items;
    } else {
      std::fprintf(stderr, "read_speed: unknown kind %s\n", kind.c_str());
      return 1;
    }
  } catch (const QuarnError& error) {
    std::fprintf(stderr, "read_speed: %s\n", error.what());
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  std::printf("%.4f %lld\n", seconds, items);
  return 0;
}
