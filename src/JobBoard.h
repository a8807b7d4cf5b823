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
// A listing makes lines far faster than they can wait, so it splits near the head (split_near_head).
// A job given away from the shallowest pattern is the end of its giver's work: its worker fills its
// room in a millisecond and then waits for all the rest. Instead, a hungry worker asks only the
// worker of the first job still running (one such job for each hungry worker), and that worker keeps
// about a share 1/kKeepShare of a job's room of lines before the work it gives, all the rest of its
// job (ListingSearch cuts there). The two then take turns at the head. When the cut was misjudged and
// a worker's job, not the head, has filled its room (1/kJobsPerWorker of the worker's limit), the
// worker puts the rest of the job back (a job that waits while a job before it runs) and takes work
// nearer the head, its lines so far waiting in memory. The head's worker writes its own chunks when
// nothing of its job waits before them, which spares the writer a wake-up per chunk; a worker that
// waits for work watches for it for a while before it sleeps, while each worker has a processor.
//
// A failure anywhere (a write, or an exception in a worker) stops every worker: their next call to
// the board throws Stopped, and run() rethrows the first failure.
#pragma once

#include <atomic>
#include <chrono>
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

#include "Output.h"

// The number of CPUs this process may run on (its affinity mask), at least 1.
unsigned available_threads();

// A piece of a search: the patterns below the pattern reached from root by path (the index of each
// node among its parent's children), limited to the children [first_child, last_child), after the
// pattern's own line when own_line. With ends, the piece goes on where a search left off: the last
// len(ends) patterns above the one path reaches follow it, each with its children after the one on
// the path, up to its end (ListingSearch::Part).
struct Piece {
  std::int32_t root = 1;
  std::vector<std::uint32_t> path;
  std::uint32_t first_child = 0;
  std::uint32_t last_child = std::numeric_limits<std::uint32_t>::max();
  bool own_line = true;
  std::vector<std::uint32_t> ends = {};
};

// How much memory lines waiting to be written may take: chunks of chunk_bytes, chunks_per_worker of
// them for each worker. With split_near_head, a worker that waits for work asks only the worker of the
// first job still running, and work is given away as near after what that worker is listing as the
// board's keep exponent says (see keep_exponent()): for a run whose lines come in large numbers.
struct JobLimits {
  std::size_t chunk_bytes = std::size_t{1} << 18;
  std::size_t chunks_per_worker = 8;
  bool split_near_head = false;
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
    std::deque<LineBuffer> chunks;
    std::size_t queued_bytes = 0;  // in chunks
    unsigned worker = 0;
    bool taken = false;
    bool ended = false;
    bool charged = false;   // kJobBytes counted against its worker
    bool put_back = false;  // the rest of a job cut short (split_near_head)
    unsigned offered_by = 0;
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
    // Whether this worker should give work away: a cheap test for every pattern of the search.
    bool split_wanted() const { return wanted_->load(std::memory_order_relaxed) > 0; }
    // What split_wanted reads, for searches that test it without the board: above 0 while it should.
    const std::atomic<unsigned>& wanted() const { return *wanted_; }
    // How much a search keeps when it gives work away, for ListingSearch::Splitting: null when it
    // need not give work away near what it is listing.
    const std::atomic<std::uint64_t>* keep_bytes() const {
      return board_->limits_.split_near_head ? &keep_bytes_ : nullptr;
    }
    // Offers the rest of the current piece after some point (children not yet started of a pattern,
    // and with ends, of the patterns above it); true when a hungry worker takes it, and then the current
    // job must not list it. The job's pieces not started go with it. An empty range (first_child at
    // or past last_child, no ends) offers those pieces alone.
    bool offer(Piece&& piece);
    // Appends a block of lines of the current job, its first used bytes, without copying them; leaves
    // in block a buffer to go on with (of the board's chunk size: resize it as needed).
    void trade(LineBuffer& block, std::size_t used);
    unsigned index() const { return index_; }

   private:
    friend class JobBoard;
    void spill(const char* data, std::size_t size);
    void end_job();
    bool has_pieces_left() const { return has_job_ && piece_index_ + 1 < job_->pieces.size(); }
    void give_rest(Piece* piece);

    // Set by the board while it wants this worker to give work away (split_near_head), and how much
    // to keep then.
    alignas(64) std::atomic<unsigned> asked_{0};
    std::atomic<std::uint64_t> keep_bytes_{0};
    bool cutting_ = false;  // the job waits too far from the head: give all the rest away
    bool chosen_ = false;   // by ask_for_work, with the board's lock held
    const std::atomic<unsigned>* wanted_ = nullptr;
    JobBoard* board_ = nullptr;
    unsigned index_ = 0;
    JobList::iterator job_;
    bool has_job_ = false;
    std::size_t piece_index_ = 0;  // of the piece being listed, in the job
    LineBuffer chunk_;
    std::size_t used_ = 0;
  };

 private:
  void hand_over(Worker& worker);
  void ask_for_work();
  void spin_for_change(std::unique_lock<std::mutex>& lock);
  static constexpr std::chrono::microseconds kSpin{200};
  std::atomic<std::uint64_t> changes_{0};  // offers, ends of jobs, the end of the run
  std::atomic<bool> writing_{false};       // the writer's thread is in write_block
  bool writing_now_ = false;               // a thread is in write_block: the writer's, or a worker's
  JobList::iterator first_offered(unsigned taker, unsigned others_hungry);
  JobList::iterator next_offered(JobList::iterator job, bool& running_before, unsigned taker,
                                 unsigned others_hungry);
  std::size_t work_wanted();
  std::size_t takeable();
  bool may_cut(const Worker& worker) const;
  void give(Worker& worker, LineBuffer lines, std::unique_lock<std::mutex>& lock);
  void count_held(unsigned worker, std::size_t bytes);
  void write_here(LineBuffer lines, std::unique_lock<std::mutex>& lock);
  static void queue(Job& job, LineBuffer lines);
  LineBuffer take_free_chunk();
  void write_in_order();
  void fail(std::exception_ptr failure);

  NextPiece initial_;
  WriteBlock write_block_;
  Limits limits_;
  std::size_t limit_bytes_;
  // Hungry workers watch for work before they sleep only while each has a processor of its own.
  bool spin_;
  std::size_t job_limit_bytes_;
  std::vector<Worker> workers_;
  std::vector<std::size_t> held_;  // by worker: bytes handed over and not yet written
  std::atomic<unsigned> hungry_{0};
  // With split_near_head, the lines of one job that is not the head may take a share of its worker's
  // limit; a worker may hold the lines of as many jobs, cut short to take work nearer the head.
  static constexpr std::size_t kJobsPerWorker = 3;
  // With split_near_head, what a worker asked for work keeps before what it gives: a share of a job's
  // room, so that the job given is seldom held up by the one before it.
  static constexpr std::size_t kKeepShare = 4;

  mutable std::mutex mutex_;
  std::condition_variable work_for_writer_;
  std::condition_variable room_for_workers_;
  std::condition_variable work_for_idle_;
  JobList jobs_;             // in output order; the first is the head while lines are written
  std::size_t offered_ = 0;  // jobs split off and not yet taken
  bool initial_done_ = false;
  bool all_done_ = false;
  std::vector<LineBuffer> free_chunks_;
  std::size_t held_in_all_ = 0;
  std::size_t peak_held_ = 0;
  std::exception_ptr failure_;
  bool stopped_ = false;
  std::thread writer_;
};
