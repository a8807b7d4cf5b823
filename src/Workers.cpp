#include "Workers.h"

#include <sched.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

unsigned available_threads() {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) {
    const int count = CPU_COUNT(&cpus);
    if (count > 0) return static_cast<unsigned>(count);
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? hardware : 1;
}

void run_jobs(unsigned threads, std::uint64_t job_count,
              const std::function<void(unsigned worker, std::uint64_t job)>& run_job,
              const std::function<void(std::exception_ptr failure)>& on_failure) {
  std::atomic<std::uint64_t> next_job{0};
  std::atomic<bool> failed{false};
  std::mutex failure_mutex;
  std::exception_ptr first_failure;
  auto work = [&](unsigned worker) {
    try {
      for (std::uint64_t job = next_job++; job < job_count && !failed.load(); job = next_job++)
        run_job(worker, job);
    } catch (...) {
      const std::lock_guard lock(failure_mutex);
      if (!first_failure) {
        first_failure = std::current_exception();
        failed = true;
        if (on_failure) on_failure(first_failure);
      }
    }
  };
  if (threads <= 1) {
    work(0);
  } else {
    std::vector<std::thread> pool;
    pool.reserve(threads);
    try {
      for (unsigned w = 0; w < threads; ++w) pool.emplace_back(work, w);
    } catch (...) {
      // No more threads to be had: the ones started stop, and the failure is reported.
      const std::lock_guard lock(failure_mutex);
      if (!first_failure) {
        first_failure = std::current_exception();
        failed = true;
        if (on_failure) on_failure(first_failure);
      }
    }
    for (std::thread& thread : pool) thread.join();
  }
  if (first_failure) std::rethrow_exception(first_failure);
}
