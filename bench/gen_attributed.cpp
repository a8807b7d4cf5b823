// Seeded generator of attributed graphs for MCS benchmarks.
//
//   gen_attributed NODES ATTRIBUTES SEED GRAPH_FILE ATTRIBUTES_FILE [DEGREE] [GROUP_SIZE] [NOISE_PERCENT]
//
// A sparse random graph of NODES nodes with DEGREE random edges per node on average (default 4). Every
// attribute of every node is set with probability NOISE_PERCENT (default 5). Groups of about
// GROUP_SIZE nodes (default 12; sizes from half to one and a half of it), covering 30% of the nodes,
// share a core of ATTRIBUTES / 8 attributes (at least 4) and are connected inside by a random tree
// plus one more edge per member. Node numbers are shuffled, so groups are not runs of numbers.
// The same arguments always give the same files.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

class Writer {
 public:
  explicit Writer(const char* path) : file_(std::fopen(path, "wb")), path_(path) {
    if (file_ == nullptr) die("cannot create");
    buffer_.reserve(kBlock + 64);
  }
  ~Writer() {
    flush();
    if (std::fclose(file_) != 0) die("cannot write");
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void put(char c) { buffer_.push_back(c); }
  void number(std::int64_t value) {
    char text[24];
    buffer_.append(text, std::to_chars(text, text + sizeof text, value).ptr);
    if (buffer_.size() >= kBlock) flush();
  }
  void end_line() {
    buffer_.push_back('\n');
    if (buffer_.size() >= kBlock) flush();
  }

 private:
  static constexpr std::size_t kBlock = std::size_t(1) << 20;
  void flush() {
    if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) die("cannot write");
    buffer_.clear();
  }
  [[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "gen_attributed: %s: %s\n", path_.c_str(), what);
    std::exit(1);
  }

  std::FILE* file_;
  std::string path_;
  std::string buffer_;
};

long argument(int argc, char** argv, int index, long fallback) {
  return index < argc ? std::strtol(argv[index], nullptr, 10) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(
        stderr,
        "usage: gen_attributed NODES ATTRIBUTES SEED GRAPH_FILE ATTRIBUTES_FILE [DEGREE] [GROUP_SIZE] "
        "[NOISE_PERCENT]\n");
    return 1;
  }
  const std::int64_t nodes = argument(argc, argv, 1, 0);
  const int attributes = int(argument(argc, argv, 2, 0));
  std::mt19937_64 random(std::uint64_t(argument(argc, argv, 3, 0)));
  const double degree = double(argument(argc, argv, 6, 4));
  const std::int64_t group_size = std::max(2L, argument(argc, argv, 7, 12));
  const double noise = double(argument(argc, argv, 8, 5)) / 100.0;
  if (nodes < 2 || attributes < 1) {
    std::fprintf(stderr, "gen_attributed: NODES must be at least 2 and ATTRIBUTES at least 1\n");
    return 1;
  }
  auto below = [&](std::int64_t n) { return std::uniform_int_distribution<std::int64_t>(0, n - 1)(random); };

  std::vector<std::int64_t> id(static_cast<std::size_t>(nodes));  // position -> node number
  std::iota(id.begin(), id.end(), 1);
  std::shuffle(id.begin(), id.end(), random);

  std::vector<std::vector<char>> rows(static_cast<std::size_t>(nodes),
                                      std::vector<char>(std::size_t(attributes), 0));
  std::bernoulli_distribution noisy(noise);
  for (auto& row : rows) {
    for (char& value : row) value = noisy(random) ? 1 : 0;
  }

  std::vector<std::pair<std::int64_t, std::int64_t>> edges;
  const int core = std::max(4, attributes / 8);
  std::vector<int> order(static_cast<std::size_t>(attributes));
  std::iota(order.begin(), order.end(), 0);
  const std::int64_t grouped = nodes * 3 / 10;
  for (std::int64_t first = 0; first < grouped;) {
    const std::int64_t size = std::min(grouped - first, group_size / 2 + below(group_size + 1));
    std::shuffle(order.begin(), order.end(), random);
    for (std::int64_t i = first; i < first + size; ++i) {
      for (int j = 0; j < core && j < attributes; ++j)
        rows[std::size_t(i)][std::size_t(order[std::size_t(j)])] = 1;
      if (i > first) {
        edges.emplace_back(id[std::size_t(i)], id[std::size_t(first + below(i - first))]);
        edges.emplace_back(id[std::size_t(i)], id[std::size_t(first + below(size))]);
      }
    }
    first += std::max<std::int64_t>(size, 1);
  }
  for (auto n = std::int64_t(double(nodes) * degree / 2); n > 0; --n)
    edges.emplace_back(id[std::size_t(below(nodes))], id[std::size_t(below(nodes))]);
  std::shuffle(edges.begin(), edges.end(), random);

  {
    Writer out(argv[5]);
    std::vector<std::int64_t> position(static_cast<std::size_t>(nodes) + 1);
    for (std::int64_t i = 0; i < nodes; ++i) position[std::size_t(id[std::size_t(i)])] = i;
    for (std::int64_t k = 1; k <= nodes; ++k) {
      const auto& row = rows[std::size_t(position[std::size_t(k)])];
      for (int j = 0; j < attributes; ++j) {
        if (j > 0) out.put(' ');
        out.put(row[std::size_t(j)] != 0 ? '1' : '0');
      }
      out.end_line();
    }
  }
  Writer graph(argv[4]);
  for (const auto& [u, v] : edges) {
    if (u == v) continue;
    graph.number(u);
    graph.put(' ');
    graph.number(v);
    graph.end_line();
  }
  return 0;
}
