// Work for several threads: jobs in the order of the output, split on demand, and their lines
// written in that order in bounded memory.
//
// A job lists pieces of a search, one after another: each the patterns below one pattern, reached
// from a root by a path of child indices, or a range of that pattern's children. The pieces known at
// the start (one per root, or the pieces of one part of a run) are handed out in order, up to
// kBatch of them to a job, so that a graph of millions of small roots costs a lock, a job and a
// write per batch, not per root. A worker that finds none left says it is hungry; a worker still
// running a job then gives away the pieces of its batch it has not started, as a new job right after
// its own; and when there are none, the children it has not started of the shallowest pattern that
// has some, as a new job, which comes right after its own job in the output: everything its own job
// still lists lies deeper in the search, so it comes before them, and everything after its own job
// comes after them. The work is thus split below the roots exactly where it is still left, whatever
// the shape of the search.
//
// Lines go into chunks of the job that writes them. A writer thread writes the chunks of the first
// job not yet written in full (the head) as they come, then moves on along the jobs' order. Chunks of
// later jobs wait in memory, but the unwritten lines of each worker may take at most
// chunks_per_worker chunks: a worker at its limit waits until the writer has taken some. A worker
// whose job is the head waits only for the lines of that job, which are the ones being written: its
// other lines (of jobs it ran before, which may come after this one when this one was split off an
// earlier job) can only be written after it. A job that waits to be written counts kJobBytes beside
// its lines, so that many jobs of few lines are bounded too. So the run cannot stall, and memory
// stays below workers times (2 chunks_per_worker + 2) chunks whatever the size of the output.
//
// A failure anywhere (a write, or an exception in a worker) stops every worker: their next call to
// the board throws Stopped, and run() rethrows the first failure.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <limits>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

// The number of CPUs this process may run on (its affinity mask), at least 1.
unsigned available_threads();

// A piece of a search: the patterns below the pattern reached from root by path (the index of each
// node among its parent's children), limited to the children [first_child, last_child), after the
// pattern's own line when own_line.
struct Piece {
  std::int32_t root = 1;
  std::vector<std::uint32_t> path;
  std::uint32_t first_child = 0;
  std::uint32_t last_child = std::numeric_limits<std::uint32_t>::max();
  bool own_line = true;
};

// How much memory lines waiting to be written may take: chunks of chunk_bytes, chunks_per_worker of
// them for each worker.
struct JobLimits {
  std::size_t chunk_bytes = std::size_t{1} << 18;
  std::size_t chunks_per_worker = 8;
};

class JobBoard {
 public:
  // Thrown from the board's calls once the run has been stopped by a failure elsewhere.
  struct Stopped {};

  // Gives the next of the pieces known at the start, in order, and returns true; false when there
  // are no more.
  using NextPiece = std::function<bool(Piece& piece)>;
  // Writes a block of lines to the output; null when the run writes none.
  using WriteBlock = std::function<void(const char* data, std::size_t size)>;

  using Limits = JobLimits;

  // The most pieces known at the start that one job takes at once.
  static constexpr std::size_t kBatch = 64;
  // What a job waiting to be written counts against its worker's limit beside its lines: more than
  // the job's own memory.
  static constexpr std::size_t kJobBytes = 1024;

  JobBoard(unsigned workers, NextPiece initial, WriteBlock write_block, Limits limits);

  // The pieces of next, telling tell the root of each as it is handed out (next itself without tell).
  static NextPiece telling_roots(NextPiece next, std::function<void(std::int32_t root)> tell);

  // The most memory one worker takes with these limits: the lines it may hold, chunks it fills
  // included, and its thread's stack.
  static constexpr std::size_t bytes_per_worker(Limits limits = {}) {
    constexpr std::size_t kThreadStack = std::size_t{8} << 20;
    return (2 * limits.chunks_per_worker + 2) * limits.chunk_bytes + kJobBytes + kThreadStack;
  }
  ~JobBoard();
  JobBoard(const JobBoard&) = delete;
  JobBoard& operator=(const JobBoard&) = delete;

  struct Job {
    std::vector<Piece> pieces;  // listed in order
    std::deque<std::vector<char>> chunks;
    std::size_t queued_bytes = 0;  // in chunks
    unsigned worker = 0;
    bool taken = false;
    bool ended = false;
    bool charged = false;  // kJobBytes counted against its worker
  };
  using JobList = std::list<Job>;

  class Worker;
  // Runs work on every worker, each on a thread of its own (with one worker, on the calling one),
  // until every piece is done; then waits until every line is written. Rethrows the first failure.
  void run(const std::function<void(Worker& worker)>& work);

  // The most bytes of lines that waited to be written at once, over all workers.
  std::size_t peak_bytes_held() const;

  // What one worker sees of the board.
  class Worker {
   public:
    // The next piece of the current job, or else of the next job, or null once all work is done.
    // Ends the job before it, if any.
    const Piece* take();
    // Appends lines of the current job.
    void write(const char* data, std::size_t size) {
      if (size <= chunk_.size() - used_) {
        std::memcpy(chunk_.data() + used_, data, size);
        used_ += size;
        return;
      }
      spill(data, size);
    }
    // Whether a worker is hungry: a cheap test for every pattern of the search.
    bool split_wanted() const { return board_->hungry_.load(std::memory_order_relaxed) > 0; }
    // The count of hungry workers itself, for searches that test it without the board.
    const std::atomic<unsigned>& hungry() const { return board_->hungry_; }
    // Offers a piece of the current piece, the children not yet started of its shallowest pattern
    // that has some; true when a hungry worker takes it, and then the current job must not list it.
    // When the job still has pieces not started, those are given away instead, and it returns false.
    bool offer(Piece&& piece);
    unsigned index() const { return index_; }

   private:
    friend class JobBoard;
    void spill(const char* data, std::size_t size);
    void end_job();
    bool has_pieces_left() const { return has_job_ && piece_index_ + 1 < job_->pieces.size(); }
    // Moves the job's pieces not started into a new job right after it, for a hungry worker.
    void give_away_pieces_left();

    JobBoard* board_ = nullptr;
    unsigned index_ = 0;
    JobList::iterator job_;
    bool has_job_ = false;
    std::size_t piece_index_ = 0;  // of the piece being listed, in the job
    std::vector<char> chunk_;
    std::size_t used_ = 0;
  };

 private:
  void hand_over(Worker& worker);
  void give(Worker& worker, std::vector<char> lines, std::unique_lock<std::mutex>& lock);
  void count_held(unsigned worker, std::size_t bytes);
  static void queue(Job& job, std::vector<char> lines);
  std::vector<char> take_free_chunk();
  void write_in_order();
  void fail(std::exception_ptr failure);

  NextPiece initial_;
  WriteBlock write_block_;
  Limits limits_;
  std::size_t limit_bytes_;
  std::vector<Worker> workers_;
  std::vector<std::size_t> held_;  // by worker: bytes handed over and not yet written
  std::atomic<unsigned> hungry_{0};

  mutable std::mutex mutex_;
  std::condition_variable work_for_writer_;
  std::condition_variable room_for_workers_;
  std::condition_variable work_for_idle_;
  JobList jobs_;             // in output order; the first is the head while lines are written
  std::size_t offered_ = 0;  // jobs split off and not yet taken
  bool initial_done_ = false;
  bool all_done_ = false;
  std::vector<std::vector<char>> free_chunks_;
  std::size_t held_in_all_ = 0;
  std::size_t peak_held_ = 0;
  std::exception_ptr failure_;
  bool stopped_ = false;
  std::thread writer_;
};
