// Jobs split on demand and written in order: on a synthetic search tree, any number of workers must
// write the bytes one worker writes, in bounded memory, and a failure anywhere must stop them all.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <stdexcept>

#include "JobBoard.h"

namespace {

// A search tree given by its shape: the number of children of a node follows from its path, and
// every node writes its path as a line. Shaped like a real search, with a few large subtrees.
std::uint32_t child_count(std::int32_t root, const std::vector<std::uint32_t>& path) {
  if (path.size() >= 7) return 0;
  std::uint64_t h = std::uint64_t(root) * 0x9E3779B97F4A7C15ULL;
  for (const std::uint32_t i : path) h = (h ^ i) * 0xBF58476D1CE4E5B9ULL;
  h ^= h >> 29;
  const std::uint32_t wide = root == 1 && path.size() < 3 ? 4 : 0;  // root 1 holds most of the tree
  return std::uint32_t(h % 4) + wide;
}

std::string line_of(std::int32_t root, const std::vector<std::uint32_t>& path) {
  std::string line = std::to_string(root);
  for (const std::uint32_t i : path) {
    line += '.';
    line += std::to_string(i);
  }
  line += '\n';
  return line;
}

// Lists a piece depth first on an explicit stack, giving away work when a worker is hungry.
void list_piece(const Piece& piece, JobBoard::Worker& worker, const std::function<void()>& per_line = {}) {
  struct Frame {
    std::uint32_t next, end;
  };
  std::vector<std::uint32_t> path = piece.path;
  const std::size_t base = path.size();
  std::vector<Frame> frames{{piece.first_child, std::min(piece.last_child, child_count(piece.root, path))}};
  if (piece.own_line) {
    const std::string line = line_of(piece.root, path);
    worker.write(line.data(), line.size());
  }
  while (!frames.empty()) {
    if (worker.split_wanted()) {
      for (std::size_t d = 0; d < frames.size(); ++d) {
        if (frames[d].next == frames[d].end) continue;
        Piece rest{piece.root,
                   {path.begin(), path.begin() + std::ptrdiff_t(base + d)},
                   frames[d].next,
                   frames[d].end,
                   false};
        if (worker.offer(std::move(rest))) frames[d].end = frames[d].next;
        break;
      }
    }
    Frame& top = frames.back();
    if (top.next == top.end) {
      frames.pop_back();
      if (!frames.empty()) path.pop_back();
      continue;
    }
    path.push_back(top.next++);
    const std::string line = line_of(piece.root, path);
    worker.write(line.data(), line.size());
    if (per_line) per_line();
    frames.push_back({0, child_count(piece.root, path)});
  }
}

struct Result {
  std::string text;
  std::size_t peak_bytes_held = 0;
  std::size_t writes = 0;
};

// What the lines waiting to be written may take, at most.
std::size_t held_bound(unsigned workers, JobBoard::Limits limits) {
  return workers * ((2 * limits.chunks_per_worker + 2) * limits.chunk_bytes + JobBoard::kJobBytes);
}

Result run(unsigned workers, std::int32_t roots, JobBoard::Limits limits,
           const std::function<void()>& per_line = {}) {
  Result result;
  result.writes = 0;
  std::int32_t next_root = 1;
  JobBoard board(
      workers,
      [&](Piece& piece) {
        if (next_root > roots) return false;
        piece = Piece{next_root++, {}, 0, UINT32_MAX, true};
        return true;
      },
      [&](const char* data, std::size_t size) {
        result.text.append(data, size);
        ++result.writes;
      },
      limits);
  board.run([&](JobBoard::Worker& worker) {
    while (const Piece* piece = worker.take()) list_piece(*piece, worker, per_line);
  });
  result.peak_bytes_held = board.peak_bytes_held();
  return result;
}

TEST(JobBoard, WritesWhatOneWorkerWritesWhateverTheWorkersAndChunks) {
  const std::string expected = run(1, 40, {1 << 16, 4}).text;
  ASSERT_GT(expected.size(), 50000u);
  struct Case {
    unsigned workers;
    JobBoard::Limits limits;
  };
  // Split near the head, workers also cut their jobs short and put the rest back.
  const Case cases[] = {{2, {64, 1}},         {3, {1000, 2}},          {4, {1 << 12, 3}},
                        {8, {64, 2}},         {8, {1 << 16, 8}},       {2, {64, 3, true}},
                        {3, {1000, 6, true}}, {8, {1 << 12, 4, true}}, {2, {1 << 16, 8, true}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.workers) + " workers, chunks of " + std::to_string(c.limits.chunk_bytes) +
                 (c.limits.split_near_head ? ", near the head" : ""));
    const Result result = run(c.workers, 40, c.limits);
    EXPECT_EQ(result.text, expected);
    EXPECT_LE(result.peak_bytes_held, held_bound(c.workers, c.limits));
  }
}

// Millions of tiny roots (a large sparse network) must not cost a job, a lock and a write each, nor
// memory in proportion to their number.
TEST(JobBoard, ManySmallRootsAreTakenInBatchesInBoundedMemory) {
  constexpr std::int32_t kRoots = 20000;
  const Result one = run(1, kRoots, {});
  for (const unsigned workers : {2u, 3u, 8u}) {
    SCOPED_TRACE(std::to_string(workers) + " workers");
    const JobBoard::Limits limits{1 << 12, 2};
    const Result result = run(workers, kRoots, limits);
    EXPECT_EQ(result.text, one.text);
    EXPECT_LE(result.peak_bytes_held, held_bound(workers, limits));
    EXPECT_LE(result.writes, one.text.size() / limits.chunk_bytes + 4 * (kRoots / JobBoard::kBatch));
  }
}

TEST(JobBoard, CountsWithoutWritingAndSplitsOneRootAcrossWorkers) {
  const std::string one_root = run(1, 1, {}).text;
  const auto one_root_lines = std::uint64_t(std::count(one_root.begin(), one_root.end(), '\n'));
  for (const unsigned workers : {1u, 2u, 5u}) {
    std::atomic<std::uint64_t> lines{0};
    std::atomic<unsigned> busy_workers{0};
    std::int32_t next_root = 1;
    JobBoard board(workers,
                   [&](Piece& piece) {
                     if (next_root > 1) return false;
                     piece = Piece{next_root++, {}, 0, UINT32_MAX, true};
                     return true;
                   },
                   nullptr, {});
    board.run([&](JobBoard::Worker& worker) {
      bool counted = false;
      while (const Piece* piece = worker.take()) {
        if (!counted) {
          ++busy_workers;
          counted = true;
        }
        // Slow enough that the others ask for work while the first is still in root 1.
        list_piece(*piece, worker, [&] {
          ++lines;
          std::this_thread::sleep_for(std::chrono::microseconds(20));
        });
      }
    });
    EXPECT_EQ(lines.load() + 1, one_root_lines);  // every line but the root's own
    EXPECT_EQ(busy_workers.load(), workers);      // every worker got a piece of the one root
  }
}

TEST(JobBoard, AFailedWriteStopsEveryWorker) {
  for (const unsigned workers : {1u, 2u, 6u, 12u}) {
    // Near the head, workers also write the head's lines themselves.
    const bool near_head = workers % 4 == 0;
    SCOPED_TRACE(std::to_string(workers) + " workers");
    std::int32_t next_root = 1;
    std::size_t written = 0;
    JobBoard board(
        workers,
        [&](Piece& piece) {
          if (next_root > 40) return false;
          piece = Piece{next_root++, {}, 0, UINT32_MAX, true};
          return true;
        },
        [&](const char*, std::size_t size) {
          written += size;
          if (written > 5000) throw std::runtime_error("disk full");
        },
        {64, 1, near_head});
    std::string error;
    try {
      board.run([&](JobBoard::Worker& worker) {
        while (const Piece* piece = worker.take()) list_piece(*piece, worker);
      });
    } catch (const std::runtime_error& failure) {
      error = failure.what();
    }
    EXPECT_EQ(error, "disk full");
  }
}

TEST(JobBoard, AFailedJobStopsEveryWorker) {
  for (const unsigned workers : {1u, 2u, 6u}) {
    SCOPED_TRACE(std::to_string(workers) + " workers");
    std::atomic<int> lines{0};
    std::string error;
    try {
      run(workers, 40, {64, 1}, [&] {
        if (++lines == 3000) throw std::runtime_error("out of memory");
      });
    } catch (const std::runtime_error& failure) {
      error = failure.what();
    }
    EXPECT_EQ(error, "out of memory");
  }
  EXPECT_GE(available_threads(), 1u);
}

}  // namespace
