#include "OrderedOutput.h"

#include <algorithm>

OrderedOutput::OrderedOutput(WriteBlock write_block, unsigned workers, std::size_t chunk_bytes,
                             std::size_t chunks_per_worker)
    : write_block_(std::move(write_block)),
      chunk_bytes_(std::max<std::size_t>(chunk_bytes, 1)),
      chunks_per_worker_(std::max<std::size_t>(chunks_per_worker, 1)),
      limit_bytes_(chunk_bytes_ * chunks_per_worker_),
      sinks_(workers),
      held_(workers, 0) {
  for (unsigned w = 0; w < workers; ++w) {
    sinks_[w].owner_ = this;
    sinks_[w].worker_ = w;
  }
  writer_ = std::thread([this] { write_in_order(); });
}

OrderedOutput::~OrderedOutput() {
  if (!writer_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  work_for_writer_.notify_all();
  writer_.join();
}

OrderedOutput::Sink& OrderedOutput::begin_job(unsigned worker, std::uint64_t job) {
  Sink& sink = sinks_[worker];
  const std::lock_guard lock(mutex_);
  if (stopped_) throw Stopped{};
  jobs_[job].worker = worker;
  sink.job_ = job;
  sink.chunk_ = take_free_chunk();
  sink.used_ = 0;
  return sink;
}

void OrderedOutput::end_job(unsigned worker) {
  Sink& sink = sinks_[worker];
  std::vector<char> rest(sink.chunk_.data(), sink.chunk_.data() + sink.used_);
  std::unique_lock lock(mutex_);
  if (stopped_) throw Stopped{};
  free_chunks_.push_back(std::move(sink.chunk_));
  sink.chunk_ = {};
  sink.used_ = 0;
  jobs_[sink.job_].ended = true;
  if (rest.empty()) {
    work_for_writer_.notify_one();
  } else {
    give(sink, std::move(rest), lock);
  }
}

void OrderedOutput::Sink::spill(const char* data, std::size_t size) {
  while (size > 0) {
    const std::size_t room = chunk_.size() - used_;
    const std::size_t part = std::min(room, size);
    std::memcpy(chunk_.data() + used_, data, part);
    used_ += part;
    data += part;
    size -= part;
    if (used_ == chunk_.size()) owner_->hand_over(*this);
  }
}

// Gives the writer a full chunk and starts a fresh one.
void OrderedOutput::hand_over(Sink& sink) {
  std::unique_lock lock(mutex_);
  if (stopped_) throw Stopped{};
  give(sink, std::move(sink.chunk_), lock);
  sink.chunk_ = take_free_chunk();
  sink.used_ = 0;
}

// Queues lines of the sink's job for the writer, then waits while the worker holds as many unwritten
// bytes as it may.
void OrderedOutput::give(Sink& sink, std::vector<char> lines, std::unique_lock<std::mutex>& lock) {
  std::size_t& held = held_[sink.worker_];
  held += lines.size();
  held_in_all_ += lines.size();
  peak_held_ = std::max(peak_held_, held_in_all_);
  jobs_[sink.job_].chunks.push_back(std::move(lines));
  work_for_writer_.notify_one();
  room_for_workers_.wait(lock, [&] { return stopped_ || held < limit_bytes_; });
  if (stopped_) throw Stopped{};
}

std::vector<char> OrderedOutput::take_free_chunk() {
  std::vector<char> chunk;
  if (!free_chunks_.empty()) {
    chunk = std::move(free_chunks_.back());
    free_chunks_.pop_back();
  }
  chunk.resize(chunk_bytes_);
  return chunk;
}

void OrderedOutput::write_in_order() {
  std::unique_lock lock(mutex_);
  auto head_is_ready = [this] {
    const auto head = jobs_.find(head_);
    return head != jobs_.end() && (!head->second.chunks.empty() || head->second.ended);
  };
  for (;;) {
    work_for_writer_.wait(lock, [&] { return stopped_ || head_ == job_count_ || head_is_ready(); });
    if (stopped_ || head_ == job_count_) return;
    Job& job = jobs_.find(head_)->second;
    if (job.chunks.empty()) {  // ended and written in full
      jobs_.erase(head_);
      ++head_;
      continue;
    }
    std::vector<char> chunk = std::move(job.chunks.front());
    job.chunks.pop_front();
    const unsigned worker = job.worker;
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
    if (chunk.size() == chunk_bytes_) free_chunks_.push_back(std::move(chunk));
    if (failure) {
      if (!failure_) failure_ = failure;
      stopped_ = true;
    }
    room_for_workers_.notify_all();
  }
}

void OrderedOutput::finish(std::uint64_t job_count) {
  {
    const std::lock_guard lock(mutex_);
    job_count_ = job_count;
  }
  work_for_writer_.notify_all();
  writer_.join();
  if (failure_) std::rethrow_exception(failure_);
}

void OrderedOutput::abort(std::exception_ptr failure) {
  {
    const std::lock_guard lock(mutex_);
    if (!failure_) failure_ = failure;
    stopped_ = true;
  }
  work_for_writer_.notify_all();
  room_for_workers_.notify_all();
}

std::size_t OrderedOutput::peak_bytes_held() const {
  const std::lock_guard lock(mutex_);
  return peak_held_;
}
