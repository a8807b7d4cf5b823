// A progress line on standard error while a long run goes on: what is done (roots, patterns,
// bytes written), the rate, and, once the total is known, the share done and the time left.
//
// The searches only add to counters, a block of lines or a root at a time; a thread of its own
// redraws the line a few times a second, and erases it at the end, so that the count line that
// follows stays clean and nothing of it ever reaches the pattern output.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class Progress {
 public:
  // With enabled false nothing is shown and every call costs a test. out is the file descriptor of
  // the line (standard error).
  Progress(bool enabled, std::uint64_t roots, int out = 2);
  ~Progress();  // erases the line
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  bool enabled() const { return enabled_; }

  // Starts the redrawing; what is shown is measured from here. unit names what roots counts ("root",
  // "node").
  void start(const char* what, const char* unit = "root");
  // Erases the line and stops the redrawing.
  void stop();

  void add(std::uint64_t patterns, std::uint64_t bytes) {
    if (!enabled_) return;
    patterns_.fetch_add(patterns, std::memory_order_relaxed);
    bytes_.fetch_add(bytes, std::memory_order_relaxed);
  }
  void root_done() {
    if (enabled_) roots_done_.fetch_add(1, std::memory_order_relaxed);
  }
  void set_patterns(std::uint64_t patterns) {
    if (enabled_) patterns_.store(patterns, std::memory_order_relaxed);
  }
  void set_roots_done(std::uint64_t roots) {
    if (enabled_) roots_done_.store(roots, std::memory_order_relaxed);
  }
  // Runs write (a note on standard error) with the line erased, so that the note stands on a line of
  // its own; the next redraw shows the line again.
  void write_erased(const std::function<void()>& write);
  // The patterns and bytes the whole run will write, once known (0: unknown).
  void set_total(std::uint64_t patterns, std::uint64_t bytes) {
    total_patterns_.store(patterns, std::memory_order_relaxed);
    total_bytes_.store(bytes, std::memory_order_relaxed);
  }

  // The line for these figures, for the redrawing and the tests.
  struct Figures {
    double seconds = 0;
    std::uint64_t roots = 0, roots_done = 0;
    std::uint64_t patterns = 0, bytes = 0;
    std::uint64_t total_patterns = 0, total_bytes = 0;
    const char* unit = "root";
  };
  static std::string line(const char* what, const Figures& figures);

 private:
  void redraw_until_stopped();
  void draw(std::string text);

  const bool enabled_;
  const std::uint64_t roots_;
  const int out_;
  const char* what_ = "";
  const char* unit_ = "root";
  std::chrono::steady_clock::time_point started_;
  std::atomic<std::uint64_t> roots_done_{0};
  std::atomic<std::uint64_t> patterns_{0};
  std::atomic<std::uint64_t> bytes_{0};
  std::atomic<std::uint64_t> total_patterns_{0};
  std::atomic<std::uint64_t> total_bytes_{0};
  std::size_t drawn_ = 0;  // length of the line on screen
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

// Whether to show progress: forced on or off, or automatically when standard error is a terminal,
// unless the pattern lines go to a terminal too, which they would garble.
enum class ProgressChoice { automatic, on, off };
bool shows_progress(ProgressChoice choice, bool lines_on_terminal = false);
