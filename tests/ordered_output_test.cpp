// Lines of many workers in the order of their jobs: the same bytes as one worker would write, in
// bounded memory, and no hang when the writer or a worker fails.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <stdexcept>

#include "OrderedOutput.h"
#include "Workers.h"

namespace {

// The text of one job: lines of varied length, a few of them longer than a chunk.
std::string job_text(std::uint64_t job) {
  std::mt19937 random{static_cast<unsigned>(job)};
  std::string text;
  const int lines = int(random() % 40);
  for (int k = 0; k < lines; ++k) {
    text += std::to_string(job) + ":" + std::to_string(k) + " ";
    text += std::string(random() % 7 == 0 ? 300 : random() % 20, char('a' + job % 26));
    text += "\n";
  }
  return text;
}

struct Written {
  std::string text;
  std::size_t peak_bytes_held = 0;
};

Written run_ordered(unsigned workers, std::uint64_t jobs, std::size_t chunk_bytes, std::size_t per_worker,
                    const std::function<void(std::uint64_t job)>& before_job = {}) {
  Written written;
  OrderedOutput output([&](const char* data, std::size_t size) { written.text.append(data, size); }, workers,
                       chunk_bytes, per_worker);
  try {
    run_jobs(
        workers, jobs,
        [&](unsigned worker, std::uint64_t job) {
          if (before_job) before_job(job);
          OrderedOutput::Sink& sink = output.begin_job(worker, job);
          const std::string text = job_text(job);
          // In pieces of every size, as a search writes its lines.
          for (std::size_t at = 0, step = 1; at < text.size(); at += step, step = step % 97 + 1) {
            sink.write(text.data() + at, std::min(step, text.size() - at));
          }
          output.end_job(worker);
        },
        [&](std::exception_ptr failure) { output.abort(failure); });
  } catch (const OrderedOutput::Stopped&) {
    // The writer's own failure comes from finish().
  }
  output.finish(jobs);
  written.peak_bytes_held = output.peak_bytes_held();
  return written;
}

TEST(OrderedOutput, WritesTheJobsInOrderWhateverTheWorkers) {
  std::string expected;
  for (std::uint64_t job = 0; job < 300; ++job) expected += job_text(job);
  struct Case {
    unsigned workers;
    std::size_t chunk_bytes;
    std::size_t per_worker;
  };
  const Case cases[] = {{1, 64, 1}, {2, 64, 1}, {3, 17, 2}, {4, 1000, 3}, {8, 64, 1}, {8, 1 << 16, 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.workers) + " workers, chunks of " + std::to_string(c.chunk_bytes));
    const Written written = run_ordered(c.workers, 300, c.chunk_bytes, c.per_worker);
    EXPECT_EQ(written.text, expected);
    // Each worker stops once its share is reached, with at most one chunk more.
    EXPECT_LE(written.peak_bytes_held, c.workers * (c.per_worker + 1) * c.chunk_bytes);
  }
}

// A slow first job: the others run ahead until their chunks fill their share, then wait for it.
TEST(OrderedOutput, WorkersAheadOfTheWriterWaitInsteadOfGrowing) {
  std::string expected;
  for (std::uint64_t job = 0; job < 60; ++job) expected += job_text(job);
  const Written written = run_ordered(4, 60, 32, 2, [](std::uint64_t job) {
    if (job == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  });
  EXPECT_EQ(written.text, expected);
  EXPECT_LE(written.peak_bytes_held, 4u * 3 * 32);
  EXPECT_GT(written.peak_bytes_held, 3u * 2 * 32);  // the three others did run ahead
}

TEST(OrderedOutput, AFailedWriteStopsEveryWorker) {
  for (const unsigned workers : {1u, 2u, 5u}) {
    SCOPED_TRACE(std::to_string(workers) + " workers");
    std::size_t written = 0;
    OrderedOutput output(
        [&](const char*, std::size_t size) {
          written += size;
          if (written > 5000) throw std::runtime_error("disk full");
        },
        workers, 64, 1);
    std::string error;
    try {
      try {
        run_jobs(
            workers, 1000,
            [&](unsigned worker, std::uint64_t job) {
              OrderedOutput::Sink& sink = output.begin_job(worker, job);
              const std::string text = job_text(job);
              sink.write(text.data(), text.size());
              output.end_job(worker);
            },
            [&](std::exception_ptr failure) { output.abort(failure); });
      } catch (const OrderedOutput::Stopped&) {
      }
      output.finish(1000);
    } catch (const std::runtime_error& failure) {
      error = failure.what();
    }
    EXPECT_EQ(error, "disk full");
  }
}

TEST(OrderedOutput, AFailedJobStopsEveryWorker) {
  for (const unsigned workers : {1u, 2u, 6u}) {
    SCOPED_TRACE(std::to_string(workers) + " workers");
    std::string error;
    try {
      run_ordered(workers, 500, 64, 1, [](std::uint64_t job) {
        if (job == 77) throw std::runtime_error("out of memory in job 77");
      });
    } catch (const std::runtime_error& failure) {
      error = failure.what();
    }
    EXPECT_EQ(error, "out of memory in job 77");
  }
}

TEST(Workers, RunEveryJobOnceAndPassOnTheFirstFailure) {
  for (const unsigned threads : {1u, 2u, 7u}) {
    std::vector<std::atomic<int>> runs(1000);
    run_jobs(threads, runs.size(), [&](unsigned worker, std::uint64_t job) {
      ASSERT_LT(worker, threads);
      ++runs[job];
    });
    for (std::size_t job = 0; job < runs.size(); ++job) EXPECT_EQ(runs[job].load(), 1) << job;
  }
  EXPECT_GE(available_threads(), 1u);
}

}  // namespace
