// Pattern lines from many worker threads, written in the order of their jobs, in bounded memory.
//
// The search is cut into jobs numbered in output order; workers take them in increasing order and
// write each job's lines through their Sink into chunks. A writer thread writes the chunks of the
// lowest unfinished job (the head) as they come, then moves on to the next job. Chunks of later jobs
// wait in memory, but the unwritten lines of each worker may take at most chunks_per_worker times
// chunk_bytes: a worker that reaches the limit waits until the writer has taken some. The head job's
// worker never waits for long (its lines are the ones being written), so the run cannot stall, and
// memory stays below workers times (chunks_per_worker + 2) chunks whatever the size of the output.
// The last, partly filled chunk of a job is handed over as a copy of its lines, so that many small
// jobs cost what their lines take.
//
// A failure anywhere (the writer's write, or a worker's search) stops everything: abort() wakes every
// waiting worker, whose next write throws Stopped, and finish() rethrows the first error.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class OrderedOutput {
 public:
  // Thrown from a Sink's write once the run has been stopped by a failure elsewhere.
  struct Stopped {};

  using WriteBlock = std::function<void(const char* data, std::size_t size)>;

  OrderedOutput(WriteBlock write_block, unsigned workers, std::size_t chunk_bytes,
                std::size_t chunks_per_worker);
  ~OrderedOutput();
  OrderedOutput(const OrderedOutput&) = delete;
  OrderedOutput& operator=(const OrderedOutput&) = delete;

  // Where one worker writes the lines of its current job.
  class Sink {
   public:
    void write(const char* data, std::size_t size) {
      if (size <= chunk_.size() - used_) {
        std::memcpy(chunk_.data() + used_, data, size);
        used_ += size;
        return;
      }
      spill(data, size);
    }

   private:
    friend class OrderedOutput;
    void spill(const char* data, std::size_t size);

    OrderedOutput* owner_ = nullptr;
    unsigned worker_ = 0;
    std::uint64_t job_ = 0;
    std::vector<char> chunk_;
    std::size_t used_ = 0;
  };

  // Job numbers start at 0 and each is begun exactly once, by one worker, in increasing order per
  // worker. The sink of a worker is valid for the whole run.
  Sink& begin_job(unsigned worker, std::uint64_t job);
  void end_job(unsigned worker);

  // Called once every job below job_count has ended: waits until all is written, and rethrows the
  // first failure.
  void finish(std::uint64_t job_count);
  // Stops the run after a failure in a worker; the writer writes nothing more.
  void abort(std::exception_ptr failure);

  // The most bytes of lines that waited to be written at once, over all workers.
  std::size_t peak_bytes_held() const;

 private:
  struct Job {
    std::deque<std::vector<char>> chunks;
    unsigned worker = 0;
    bool ended = false;
  };

  void hand_over(Sink& sink);
  void give(Sink& sink, std::vector<char> lines, std::unique_lock<std::mutex>& lock);
  std::vector<char> take_free_chunk();
  void write_in_order();

  WriteBlock write_block_;
  std::size_t chunk_bytes_;
  std::size_t chunks_per_worker_;
  std::size_t limit_bytes_;
  std::vector<Sink> sinks_;
  std::vector<std::size_t> held_;  // by worker: bytes handed over and not yet written

  mutable std::mutex mutex_;
  std::condition_variable work_for_writer_;
  std::condition_variable room_for_workers_;
  std::map<std::uint64_t, Job> jobs_;
  std::vector<std::vector<char>> free_chunks_;
  std::size_t held_in_all_ = 0;
  std::size_t peak_held_ = 0;
  std::uint64_t head_ = 0;                // the lowest job not yet written in full
  std::uint64_t job_count_ = UINT64_MAX;  // known once finish() is called
  std::exception_ptr failure_;
  bool stopped_ = false;
  std::thread writer_;
};
