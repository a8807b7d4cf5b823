// A listing on several threads writes exactly what one thread writes, whatever the graph, the
// bounds and the number of threads; and a failure on any thread ends the run with one error.
#include <gtest/gtest.h>

#include <random>

#include "ListingRun.h"
#include "Miner.h"
#include "graph_families.h"
#include "reference_cis.h"
#include "test_support.h"

namespace {

struct Listed {
  std::string lines;
  std::uint64_t count = 0;
};

Listed list_to_file(const std::string& edges, unsigned threads, SizeBounds bounds = {},
                    const JobLimits* limits = nullptr) {
  const EdgeList list = edges_of(edges);
  const AdjacencyList graph = build_graph(list, list.max_node);
  TempDir dir;
  Listed listed;
  PatternOutput output;
  output.open(dir.file("out.txt"), {});
  listed.count = list_patterns(graph, bounds, threads, output, nullptr, nullptr, limits).lines;
  output.finish();
  listed.lines = read_file(dir.file("out.txt"));
  return listed;
}

TEST(ListingRun, AnyNumberOfThreadsWritesTheBytesOfOne) {
  std::mt19937 random(4242);
  for (int trial = 0; trial < trials(150); ++trial) {
    // Small graphs whole, and larger ones within size bounds, so that every listing stays small.
    const bool bounded = trial % 3 == 2;
    const EdgeVector edges = trial % 3 == 0 ? random_simple_graph(random, 20, 0.2)
                             : !bounded     ? random_simple_graph(random, 14)
                                            : random_simple_graph(random, 150, 0.03);
    const SizeBounds bounds = bounded ? SizeBounds{2, 4} : SizeBounds{};
    const unsigned threads = 2 + unsigned(trial % 7);
    SCOPED_TRACE(std::to_string(threads) + " threads\n" + edge_text(edges));
    const Listed one = list_to_file(edge_text(edges), 1, bounds);
    const Listed many = list_to_file(edge_text(edges), threads, bounds);
    ASSERT_EQ(many.lines, one.lines);
    ASSERT_EQ(many.count, one.count);
    if (!bounded && trial % 10 == 1) {
      ASSERT_EQ(one.lines, PlainMiner(edges).run().lines);
    }
  }
}

// With little room for lines waiting to be written, threads given work far from the head cut their
// jobs short and take work nearer it, and blocks of a megabyte change hands whole: the bytes are
// still those of one thread.
TEST(ListingRun, LittleRoomForWaitingLinesKeepsTheBytesOfOne) {
  std::mt19937 random(8086);
  for (int trial = 0; trial < trials(24); ++trial) {
    // Some listings of a few megabytes, so that full blocks are handed over.
    const EdgeVector edges = trial % 4 == 0 ? random_simple_graph(random, 17, 0.5)
                                            : random_simple_graph(random, 13 + trial % 4, 0.45);
    const JobLimits limits{std::size_t{64} << (trial % 7), 3 + std::size_t(trial % 5), true};
    const unsigned threads = 2 + unsigned(trial % 5);
    SCOPED_TRACE(std::to_string(threads) + " threads, chunks of " + std::to_string(limits.chunk_bytes) +
                 "\n" + edge_text(edges));
    const Listed one = list_to_file(edge_text(edges), 1);
    const Listed many = list_to_file(edge_text(edges), threads, {}, &limits);
    ASSERT_EQ(many.lines, one.lines);
    ASSERT_EQ(many.count, one.count);
  }
}

TEST(ListingRun, OneLargeRootIsSharedAndBoundsHold) {
  // Root 1 of a wheel holds most of the patterns: the other threads must take pieces of it.
  std::string wheel;
  for (int u = 2; u <= 22; ++u)
    wheel += "1 " + std::to_string(u) + "\n" + std::to_string(u) + " " + std::to_string(u == 22 ? 2 : u + 1) +
             "\n";
  for (const SizeBounds bounds : {SizeBounds{}, SizeBounds{3, 6}, SizeBounds{1, 1}}) {
    SCOPED_TRACE(std::to_string(bounds.least) + " to " + std::to_string(bounds.most));
    const Listed one = list_to_file(wheel, 1, bounds);
    for (const unsigned threads : {2u, 4u, 8u}) {
      const Listed many = list_to_file(wheel, threads, bounds);
      EXPECT_EQ(many.lines, one.lines) << threads << " threads";
      EXPECT_EQ(many.count, one.count);
    }
  }
}

// Through the binary: the same bytes and count line for every --threads, and a full device is
// one error whatever the threads.
TEST(ListingRun, TheBinaryWritesTheSameForEveryThreadCount) {
  TempDir dir;
  write_file(dir.file("g.txt"), grid(4, 5) + "30 31\n");
  const RunResult one = run_quarn({"CIS", dir.file("g.txt"), "-", "--threads", "1"});
  ASSERT_EQ(one.status, 0);
  for (const std::string threads : {"2", "3", "8"}) {
    const RunResult many = run_quarn({"--threads=" + threads, "CIS", dir.file("g.txt"), "-"});
    EXPECT_EQ(many.out, one.out) << threads;
    EXPECT_EQ(many.err, "");
    EXPECT_EQ(many.status, 0);
  }
  const RunResult full = run_shell("\"$QUARN\" CIS '" + dir.file("g.txt") + "' - --threads 4 > /dev/full");
  EXPECT_EQ(full.out, "");
  EXPECT_EQ(full.err, "quarn: standard output: cannot write: No space left on device\n");
  EXPECT_EQ(full.status, 1);
}

}  // namespace
