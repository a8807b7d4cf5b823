#include "JobBoard.h"

#include <sched.h>

#include <algorithm>

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

JobBoard::JobBoard(unsigned workers, NextPiece initial, WriteBlock write_block, Limits limits)
    : initial_(std::move(initial)),
      write_block_(std::move(write_block)),
      limits_{std::max<std::size_t>(limits.chunk_bytes, 1),
              std::max<std::size_t>(limits.chunks_per_worker, 1),
              limits.split_near_head && bool(write_block_)},
      limit_bytes_(limits_.chunk_bytes * limits_.chunks_per_worker),
      spin_(limits_.split_near_head && std::max(workers, 1U) <= available_threads()),
      job_limit_bytes_(limits_.split_near_head ? std::max(limit_bytes_ / kJobsPerWorker, limits_.chunk_bytes)
                                               : limit_bytes_),
      workers_(std::max(workers, 1U)),
      held_(workers_.size(), 0) {
  for (unsigned w = 0; w < workers_.size(); ++w) {
    workers_[w].board_ = this;
    workers_[w].index_ = w;
    workers_[w].wanted_ = limits_.split_near_head ? &workers_[w].asked_ : &hungry_;
  }
}

JobBoard::NextPiece JobBoard::telling_roots(NextPiece next, std::function<void(std::int32_t root)> tell) {
  if (!tell) return next;
  return [pieces = std::move(next), tell = std::move(tell)](Piece& piece) {
    if (!pieces(piece)) return false;
    tell(piece.root);
    return true;
  };
}

JobBoard::~JobBoard() {
  if (writer_.joinable()) {
    fail(nullptr);
    writer_.join();
  }
}

void JobBoard::run(const std::function<void(Worker& worker)>& work) {
  if (write_block_) writer_ = std::thread([this] { write_in_order(); });
  auto run_worker = [&](Worker& worker) {
    try {
      work(worker);
      if (worker.has_job_) worker.end_job();
    } catch (const Stopped&) {
      // Another thread failed first; its failure is the one reported.
    } catch (...) {
      fail(std::current_exception());
    }
  };
  if (workers_.size() == 1) {
    run_worker(workers_[0]);
  } else {
    std::vector<std::thread> threads;
    threads.reserve(workers_.size());
    try {
      for (Worker& worker : workers_) threads.emplace_back(run_worker, std::ref(worker));
    } catch (...) {
      fail(std::current_exception());  // no more threads to be had: the ones started stop
    }
    for (std::thread& thread : threads) thread.join();
  }
  if (writer_.joinable()) writer_.join();
  if (failure_) std::rethrow_exception(failure_);
}

void JobBoard::fail(std::exception_ptr failure) {
  {
    const std::lock_guard lock(mutex_);
    if (!failure_) failure_ = failure;
    stopped_ = true;
    changes_.fetch_add(1, std::memory_order_release);
  }
  work_for_writer_.notify_all();
  room_for_workers_.notify_all();
  work_for_idle_.notify_all();
}

const Piece* JobBoard::Worker::take() {
  JobBoard& board = *board_;
  if (has_pieces_left()) {
    ++piece_index_;
    if (has_pieces_left() && split_wanted()) {
      bool gave = false;
      {
        const std::lock_guard lock(board.mutex_);
        if (board.stopped_) throw Stopped{};
        gave = cutting_ || board.work_wanted() > 0;
        if (gave) give_rest(nullptr);
      }
      if (gave) board.work_for_idle_.notify_one();
    }
    return &job_->pieces[piece_index_];
  }
  if (has_job_) end_job();
  std::unique_lock lock(board.mutex_);
  for (;;) {
    if (board.stopped_) throw Stopped{};
    if (const auto offered = board.first_offered(index_, board.hungry_); offered != board.jobs_.end()) {
      job_ = offered;
      --board.offered_;
      break;
    }
    if (!board.initial_done_) {
      Job job;
      for (Piece piece; job.pieces.size() < kBatch; piece = Piece{}) {
        if (!board.initial_(piece)) {
          board.initial_done_ = true;
          break;
        }
        job.pieces.push_back(std::move(piece));
      }
      if (!job.pieces.empty()) {
        job_ = board.jobs_.insert(board.jobs_.end(), std::move(job));
        break;
      }
    }
    // Nothing left to hand out: wait for a piece split off a running job, unless every worker waits.
    if (++board.hungry_ == board.workers_.size() && board.offered_ == 0) {
      board.all_done_ = true;
      board.changes_.fetch_add(1, std::memory_order_release);
      board.work_for_idle_.notify_all();
      board.work_for_writer_.notify_all();
    }
    board.ask_for_work();
    auto ready = [&] {
      return board.stopped_ || board.all_done_ ||
             board.first_offered(index_, board.hungry_ - 1) != board.jobs_.end();
    };
    if (board.spin_ && !ready()) board.spin_for_change(lock);
    board.work_for_idle_.wait(lock, ready);
    if (board.all_done_) return nullptr;
    --board.hungry_;
  }
  job_->taken = true;
  job_->worker = index_;
  board.ask_for_work();
  has_job_ = true;
  piece_index_ = 0;
  if (board.write_block_) {
    chunk_ = board.take_free_chunk();
    used_ = 0;
  }
  return &job_->pieces[0];
}

bool JobBoard::Worker::offer(Piece&& piece) {
  JobBoard& board = *board_;
  bool taken = false;
  {
    const std::lock_guard lock(board.mutex_);
    if (board.stopped_) throw Stopped{};
    if (!cutting_ && board.work_wanted() == 0) return false;  // every hungry worker has a piece coming
    taken = piece.first_child < piece.last_child || !piece.ends.empty();
    if (!taken && !has_pieces_left()) return false;
    give_rest(taken ? &piece : nullptr);
  }
  board.work_for_idle_.notify_one();
  return taken;
}

// With the board's lock held: moves piece, if any, and the job's pieces not started into a new job
// right after it. After a cut (cutting_) the job is put back: this worker goes on nearer the head.
void JobBoard::Worker::give_rest(Piece* piece) {
  JobBoard& board = *board_;
  Job rest;
  if (piece != nullptr) rest.pieces.push_back(std::move(*piece));
  const auto first = job_->pieces.begin() + static_cast<std::ptrdiff_t>(piece_index_ + 1);
  rest.pieces.insert(rest.pieces.end(), std::make_move_iterator(first),
                     std::make_move_iterator(job_->pieces.end()));
  job_->pieces.erase(first, job_->pieces.end());
  board.changes_.fetch_add(1, std::memory_order_release);
  rest.put_back = cutting_;
  rest.offered_by = index_;
  cutting_ = false;
  board.jobs_.insert(std::next(job_), std::move(rest));
  ++board.offered_;
  board.ask_for_work();
}

// With the lock held: the first job offered that a hungry worker may take. With split_near_head, a
// job put back may wait while a job before it runs: the lines of its worker are better spent nearer
// the head.
JobBoard::JobList::iterator JobBoard::first_offered(unsigned taker, unsigned others_hungry) {
  if (offered_ == 0) return jobs_.end();
  bool running_before = false;
  return next_offered(jobs_.begin(), running_before, taker, others_hungry);
}

// With the lock held: first_offered from job on, running_before telling whether a job before job
// runs (or will, being given to another).
JobBoard::JobList::iterator JobBoard::next_offered(JobList::iterator job, bool& running_before,
                                                   unsigned taker, unsigned others_hungry) {
  for (; job != jobs_.end(); ++job) {
    if (!job->taken) {
      // What a worker gave to a hungry one is not taken back while one waits for it; it will run
      // before any job put back after it.
      if (!job->put_back && job->offered_by == taker && others_hungry > 0) {
        running_before = true;
        continue;
      }
      if (!job->put_back || !running_before) return job;
    } else if (!job->ended) {
      running_before = true;
    }
  }
  return jobs_.end();
}

// With the lock held: how many more workers wait for work than there are jobs offered to them.
std::size_t JobBoard::work_wanted() {
  if (!limits_.split_near_head) return hungry_ > offered_ ? hungry_ - offered_ : 0;
  const std::size_t offered = offered_ > 0 ? takeable() : 0;
  return hungry_ > offered ? hungry_ - offered : 0;
}

// With the lock held: the jobs offered that a hungry worker may take (see first_offered).
std::size_t JobBoard::takeable() {
  constexpr unsigned kAnyWorker = std::numeric_limits<unsigned>::max();
  std::size_t count = 0;
  bool running_before = false;
  for (auto job = next_offered(jobs_.begin(), running_before, kAnyWorker, 0); job != jobs_.end();
       job = next_offered(std::next(job), running_before, kAnyWorker, 0))
    ++count;
  return count;
}

// With the lock held: with split_near_head, asks the workers of the first jobs still running, one for
// each worker that waits for work beyond what is offered, to give work away; and every worker that
// cuts its job.
void JobBoard::ask_for_work() {
  if (!limits_.split_near_head) return;
  std::size_t wanted = work_wanted();
  for (Worker& worker : workers_) worker.chosen_ = false;
  for (auto job = jobs_.begin(); wanted > 0 && job != jobs_.end(); ++job) {
    if (!job->taken || job->ended || workers_[job->worker].chosen_) continue;
    workers_[job->worker].chosen_ = true;
    --wanted;
  }
  bool newly_asked = false;
  for (Worker& worker : workers_) {
    worker.keep_bytes_.store(worker.cutting_ ? 0 : job_limit_bytes_ / kKeepShare, std::memory_order_relaxed);
    const unsigned ask = worker.chosen_ || worker.cutting_ ? 1 : 0;
    if (worker.asked_.load(std::memory_order_relaxed) == ask) continue;
    worker.asked_.store(ask, std::memory_order_relaxed);
    newly_asked |= ask > 0;
  }
  if (newly_asked) room_for_workers_.notify_all();  // a worker waiting for room may give work now
}

// With the lock held: whether a worker whose job waits for room would better cut it and take work
// nearer the head: a job before it still runs, and the worker has room for the lines of another.
bool JobBoard::may_cut(const Worker& worker) const {
  if (held_[worker.index_] + job_limit_bytes_ / 2 > limit_bytes_) return false;
  for (const Job& job : jobs_) {
    if (&job == &*worker.job_) return false;
    if (job.taken && !job.ended) return true;
  }
  return false;
}

// A hand-over comes within microseconds of the ask, sooner than a sleeping thread wakes: a hungry
// worker watches for it for a while, with the lock released, before it sleeps.
void JobBoard::spin_for_change(std::unique_lock<std::mutex>& lock) {
  const std::uint64_t seen = changes_.load(std::memory_order_acquire);
  lock.unlock();
  const auto until = std::chrono::steady_clock::now() + kSpin;
  for (unsigned round = 1; changes_.load(std::memory_order_acquire) == seen; ++round) {
    // A writer at work needs the processor more than a worker that waits.
    if (writing_.load(std::memory_order_relaxed)) break;
    if (round % 64 == 0 && std::chrono::steady_clock::now() > until) break;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  lock.lock();
}

void JobBoard::Worker::end_job() {
  JobBoard& board = *board_;
  has_job_ = false;
  // The last lines go over in their chunk when they fill much of it, or else in a copy of their own
  // size: a chunk held for a few bytes would take memory the limits do not count.
  LineBuffer rest;
  if (2 * used_ >= chunk_.size()) {
    rest = std::move(chunk_);
    rest.resize(used_);
  } else {
    rest.assign(chunk_.data(), chunk_.data() + used_);
  }
  std::unique_lock lock(board.mutex_);
  if (board.stopped_) throw Stopped{};
  if (!chunk_.empty()) board.free_chunks_.push_back(std::move(chunk_));
  chunk_ = {};
  used_ = 0;
  job_->ended = true;
  cutting_ = false;  // a cut the search found nothing to give for ends with the job
  if (board.limits_.split_near_head) {
    board.ask_for_work();
    board.changes_.fetch_add(1, std::memory_order_release);
    board.work_for_idle_.notify_all();  // a job put back after this one may be taken now
  }
  if (!board.write_block_) {
    board.jobs_.erase(job_);
    return;
  }
  std::vector<Piece>().swap(job_->pieces);  // the writer needs only the lines
  job_->charged = true;
  board.count_held(index_, kJobBytes + rest.size());
  if (!rest.empty()) board.queue(*job_, std::move(rest));
  if (&board.jobs_.front() == &*job_) board.work_for_writer_.notify_one();
  // The job may be written and gone by now: wait for this worker's own share alone.
  board.room_for_workers_.wait(lock,
                               [&] { return board.stopped_ || board.held_[index_] < board.limit_bytes_; });
  if (board.stopped_) throw Stopped{};
}

void JobBoard::Worker::spill(const char* data, std::size_t size) {
  if (chunk_.empty()) return;  // the run writes no lines
  while (size > 0) {
    const std::size_t part = std::min(chunk_.size() - used_, size);
    std::memcpy(chunk_.data() + used_, data, part);
    used_ += part;
    data += part;
    size -= part;
    if (used_ == chunk_.size()) board_->hand_over(*this);
  }
}

void JobBoard::Worker::trade(LineBuffer& block, std::size_t used) {
  JobBoard& board = *board_;
  std::unique_lock lock(board.mutex_);
  if (board.stopped_) throw Stopped{};
  if (used_ > 0) {  // lines written before, which come first
    board.give(*this, LineBuffer(chunk_.data(), chunk_.data() + used_), lock);
    used_ = 0;
  }
  block.resize(used);
  LineBuffer lines = std::move(block);
  block = board.take_free_chunk();
  board.give(*this, std::move(lines), lock);
}

// Gives the writer a full chunk and starts a fresh one.
void JobBoard::hand_over(Worker& worker) {
  std::unique_lock lock(mutex_);
  if (stopped_) throw Stopped{};
  give(worker, std::move(worker.chunk_), lock);
  worker.chunk_ = take_free_chunk();
  worker.used_ = 0;
}

// Queues lines of the worker's job for the writer, then waits while the worker holds as many
// unwritten bytes as it may.
void JobBoard::give(Worker& worker, LineBuffer lines, std::unique_lock<std::mutex>& lock) {
  Job& job = *worker.job_;
  if (limits_.split_near_head && &jobs_.front() == &job && job.chunks.empty() && !writing_now_) {
    write_here(std::move(lines), lock);
    return;
  }
  count_held(worker.index_, lines.size());
  queue(job, std::move(lines));
  // Lines of a later job wait for the head's end, which wakes the writer itself.
  if (&jobs_.front() == &job) work_for_writer_.notify_one();
  const std::size_t& held = held_[worker.index_];
  auto room = [&] {
    const bool head = &jobs_.front() == &job;
    if (!limits_.split_near_head) return stopped_ || (head ? job.queued_bytes : held) < limit_bytes_;
    if (stopped_) return true;
    // A worker asked for work goes on to its next pattern to give it, within its whole limit.
    const bool asked = worker.asked_.load(std::memory_order_relaxed) > 0;
    if (head) return job.queued_bytes < job_limit_bytes_ || (asked && held < limit_bytes_);
    return held < limit_bytes_ && (job.queued_bytes < job_limit_bytes_ || asked);
  };
  if (limits_.split_near_head && !room() && &jobs_.front() != &job && !worker.cutting_) {
    if (may_cut(worker)) {
      worker.cutting_ = true;  // the search gives away the rest of the job at its next pattern
      ask_for_work();
    }
  }
  room_for_workers_.wait(lock, room);
  if (stopped_) throw Stopped{};
}

// Writes lines of the head, with nothing of it queued before them, on the worker's own thread: it
// spares the writer's thread a wake-up for every block, and the lines a trip between processors.
void JobBoard::write_here(LineBuffer lines, std::unique_lock<std::mutex>& lock) {
  writing_now_ = true;
  lock.unlock();
  std::exception_ptr failure;
  try {
    write_block_(lines.data(), lines.size());
  } catch (...) {
    failure = std::current_exception();
  }
  lock.lock();
  writing_now_ = false;
  if (lines.capacity() >= limits_.chunk_bytes) free_chunks_.push_back(std::move(lines));
  if (!jobs_.empty() && (!jobs_.front().chunks.empty() || jobs_.front().ended)) work_for_writer_.notify_one();
  if (failure) {
    lock.unlock();
    fail(failure);
    throw Stopped{};
  }
}

void JobBoard::count_held(unsigned worker, std::size_t bytes) {
  held_[worker] += bytes;
  held_in_all_ += bytes;
  peak_held_ = std::max(peak_held_, held_in_all_);
}

void JobBoard::queue(Job& job, LineBuffer lines) {
  job.queued_bytes += lines.size();
  job.chunks.push_back(std::move(lines));
}

LineBuffer JobBoard::take_free_chunk() {
  LineBuffer chunk;
  if (!free_chunks_.empty()) {
    chunk = std::move(free_chunks_.back());
    free_chunks_.pop_back();
  }
  chunk.resize(limits_.chunk_bytes);
  return chunk;
}

void JobBoard::write_in_order() {
  std::unique_lock lock(mutex_);
  auto head_is_ready = [this] {
    return !jobs_.empty() && (!jobs_.front().chunks.empty() || jobs_.front().ended);
  };
  for (;;) {
    work_for_writer_.wait(lock, [&] {
      return stopped_ || (!writing_now_ && ((all_done_ && jobs_.empty()) || head_is_ready()));
    });
    if (stopped_ || jobs_.empty()) return;
    Job& head = jobs_.front();
    if (head.chunks.empty()) {  // ended and written in full
      if (head.charged) {
        held_[head.worker] -= kJobBytes;
        held_in_all_ -= kJobBytes;
      }
      jobs_.pop_front();
      room_for_workers_.notify_all();  // the next job's worker may be waiting for its turn
      continue;
    }
    LineBuffer chunk = std::move(head.chunks.front());
    head.chunks.pop_front();
    head.queued_bytes -= chunk.size();
    const unsigned worker = head.worker;
    writing_now_ = true;
    lock.unlock();
    std::exception_ptr failure;
    writing_.store(true, std::memory_order_relaxed);
    try {
      write_block_(chunk.data(), chunk.size());
    } catch (...) {
      failure = std::current_exception();
    }
    writing_.store(false, std::memory_order_relaxed);
    lock.lock();
    writing_now_ = false;
    held_[worker] -= chunk.size();
    held_in_all_ -= chunk.size();
    if (chunk.capacity() >= limits_.chunk_bytes) free_chunks_.push_back(std::move(chunk));
    room_for_workers_.notify_all();
    if (failure) {
      lock.unlock();
      fail(failure);
      return;
    }
  }
}

std::size_t JobBoard::peak_bytes_held() const {
  const std::lock_guard lock(mutex_);
  return peak_held_;
}
