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
              std::max<std::size_t>(limits.chunks_per_worker, 1)},
      limit_bytes_(limits_.chunk_bytes * limits_.chunks_per_worker),
      workers_(std::max(workers, 1U)),
      held_(workers_.size(), 0) {
  for (unsigned w = 0; w < workers_.size(); ++w) {
    workers_[w].board_ = this;
    workers_[w].index_ = w;
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
        gave = board.hungry_ > board.offered_;
        if (gave) give_away_pieces_left();
      }
      if (gave) board.work_for_idle_.notify_one();
    }
    return &job_->pieces[piece_index_];
  }
  if (has_job_) end_job();
  std::unique_lock lock(board.mutex_);
  for (;;) {
    if (board.stopped_) throw Stopped{};
    if (board.offered_ > 0) {
      job_ = std::find_if(board.jobs_.begin(), board.jobs_.end(), [](const Job& job) { return !job.taken; });
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
    if (++board.hungry_ == board.workers_.size()) {
      board.all_done_ = true;
      board.work_for_idle_.notify_all();
      board.work_for_writer_.notify_all();
    }
    board.work_for_idle_.wait(lock, [&] { return board.stopped_ || board.all_done_ || board.offered_ > 0; });
    if (board.all_done_) return nullptr;
    --board.hungry_;
  }
  job_->taken = true;
  job_->worker = index_;
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
    if (board.hungry_ <= board.offered_) return false;  // every hungry worker has a piece coming
    if (has_pieces_left()) {
      give_away_pieces_left();
    } else {
      Job job;
      job.pieces.push_back(std::move(piece));
      board.jobs_.insert(std::next(job_), std::move(job));
      ++board.offered_;
      taken = true;
    }
  }
  board.work_for_idle_.notify_one();
  return taken;
}

// With the board's lock held.
void JobBoard::Worker::give_away_pieces_left() {
  Job rest;
  const auto first = job_->pieces.begin() + static_cast<std::ptrdiff_t>(piece_index_ + 1);
  rest.pieces.assign(std::make_move_iterator(first), std::make_move_iterator(job_->pieces.end()));
  job_->pieces.erase(first, job_->pieces.end());
  board_->jobs_.insert(std::next(job_), std::move(rest));
  ++board_->offered_;
}

void JobBoard::Worker::end_job() {
  JobBoard& board = *board_;
  has_job_ = false;
  std::vector<char> rest(chunk_.data(), chunk_.data() + used_);
  std::unique_lock lock(board.mutex_);
  if (board.stopped_) throw Stopped{};
  if (!chunk_.empty()) board.free_chunks_.push_back(std::move(chunk_));
  chunk_ = {};
  used_ = 0;
  job_->ended = true;
  if (!board.write_block_) {
    board.jobs_.erase(job_);
    return;
  }
  std::vector<Piece>().swap(job_->pieces);  // the writer needs only the lines
  job_->charged = true;
  board.count_held(index_, kJobBytes + rest.size());
  if (!rest.empty()) board.queue(*job_, std::move(rest));
  board.work_for_writer_.notify_one();
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
void JobBoard::give(Worker& worker, std::vector<char> lines, std::unique_lock<std::mutex>& lock) {
  Job& job = *worker.job_;
  count_held(worker.index_, lines.size());
  queue(job, std::move(lines));
  work_for_writer_.notify_one();
  const std::size_t& held = held_[worker.index_];
  room_for_workers_.wait(lock, [&] {
    const bool head = &jobs_.front() == &job;
    return stopped_ || (head ? job.queued_bytes : held) < limit_bytes_;
  });
  if (stopped_) throw Stopped{};
}

void JobBoard::count_held(unsigned worker, std::size_t bytes) {
  held_[worker] += bytes;
  held_in_all_ += bytes;
  peak_held_ = std::max(peak_held_, held_in_all_);
}

void JobBoard::queue(Job& job, std::vector<char> lines) {
  job.queued_bytes += lines.size();
  job.chunks.push_back(std::move(lines));
}

std::vector<char> JobBoard::take_free_chunk() {
  std::vector<char> chunk;
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
    work_for_writer_.wait(lock, [&] { return stopped_ || (all_done_ && jobs_.empty()) || head_is_ready(); });
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
    std::vector<char> chunk = std::move(head.chunks.front());
    head.chunks.pop_front();
    head.queued_bytes -= chunk.size();
    const unsigned worker = head.worker;
    lock.unlock();
    std::exception_ptr failure;
    try {
      write_block_(chunk.data(), chunk.size());
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    held_[worker] -= chunk.size();
    held_in_all_ -= chunk.size();
    if (chunk.size() == limits_.chunk_bytes) free_chunks_.push_back(std::move(chunk));
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
