#include "Progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Memory.h"

namespace {

// "1,234,567"
std::string grouped(std::uint64_t n) {
  const std::string digits = std::to_string(n);
  std::string text;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

// "12.3 M", "456 k", "789": a rate or a large count at a glance.
std::string short_count(double n) {
  char text[32];
  if (n >= 1e18) {
    std::snprintf(text, sizeof text, "%.1f E", n / 1e18);
  } else if (n >= 1e15) {
    std::snprintf(text, sizeof text, "%.1f P", n / 1e15);
  } else if (n >= 1e12) {
    std::snprintf(text, sizeof text, "%.1f T", n / 1e12);
  } else if (n >= 1e9) {
    std::snprintf(text, sizeof text, "%.1f G", n / 1e9);
  } else if (n >= 1e6) {
    std::snprintf(text, sizeof text, "%.1f M", n / 1e6);
  } else if (n >= 1e4) {
    std::snprintf(text, sizeof text, "%.0f k", n / 1e3);
  } else {
    std::snprintf(text, sizeof text, "%.0f", n);
  }
  return text;
}

std::string duration(double seconds) {
  // Past 30 million years the figure says no more, and llround stays within its range.
  const auto s = static_cast<std::uint64_t>(std::llround(std::min(seconds, 1e15)));
  char text[32];
  if (s >= 100 * 3600) {
    std::snprintf(text, sizeof text, "%llu d %02llu h", static_cast<unsigned long long>(s / 86400),
                  static_cast<unsigned long long>(s / 3600 % 24));
  } else if (s >= 3600) {
    std::snprintf(text, sizeof text, "%llu h %02llu min", static_cast<unsigned long long>(s / 3600),
                  static_cast<unsigned long long>(s / 60 % 60));
  } else if (s >= 60) {
    std::snprintf(text, sizeof text, "%llu min %02llu s", static_cast<unsigned long long>(s / 60),
                  static_cast<unsigned long long>(s % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu s", static_cast<unsigned long long>(s));
  }
  return text;
}

constexpr auto kRedrawEvery = std::chrono::milliseconds(250);

}  // namespace

bool shows_progress(ProgressChoice choice, bool lines_on_terminal) {
  if (choice == ProgressChoice::automatic) return ::isatty(STDERR_FILENO) == 1 && !lines_on_terminal;
  return choice == ProgressChoice::on;
}

Progress::Progress(bool enabled, std::uint64_t roots, int out)
    : enabled_(enabled), roots_(roots), out_(out) {}

Progress::~Progress() {
  stop();
}

void Progress::start(const char* what, const char* unit) {
  if (!enabled_ || thread_.joinable()) return;
  what_ = what;
  unit_ = unit;
  started_ = std::chrono::steady_clock::now();
  thread_ = std::thread([this] { redraw_until_stopped(); });
}

void Progress::stop() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

std::string Progress::line(const char* what, const Figures& f) {
  std::string text = std::string("quarn: ") + what + ": " + grouped(f.patterns) + " patterns";
  if (f.bytes > 0) text += ", " + format_bytes(f.bytes);
  if (f.roots > 0)
    text += std::string(", ") + f.unit + " " + grouped(f.roots_done) + " of " + grouped(f.roots);
  if (f.seconds > 0 && f.patterns > 0)
    text += ", " + short_count(double(f.patterns) / f.seconds) + " patterns/s";
  if (f.total_patterns > 0) {
    const double share = std::min(1.0, double(f.patterns) / double(f.total_patterns));
    char percent[16];
    std::snprintf(percent, sizeof percent, "%.1f%%", 100 * share);
    text += std::string(" | ") + percent + " of " + short_count(double(f.total_patterns)) + " patterns";
    if (f.total_bytes > 0) text += " (" + format_bytes(f.total_bytes) + ")";
    if (share > 0 && f.seconds > 0) text += ", " + duration(f.seconds * (1 - share) / share) + " left";
  }
  return text;
}

void Progress::write_erased(const std::function<void()>& write) {
  if (!thread_.joinable()) return write();
  const std::lock_guard lock(mutex_);
  draw("");
  write();
}

void Progress::redraw_until_stopped() {
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, kRedrawEvery, [this] { return stopping_; })) {
    Figures figures;
    figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    figures.roots = roots_;
    figures.roots_done = roots_done_.load(std::memory_order_relaxed);
    figures.patterns = patterns_.load(std::memory_order_relaxed);
    figures.bytes = bytes_.load(std::memory_order_relaxed);
    figures.total_patterns = total_patterns_.load(std::memory_order_relaxed);
    figures.total_bytes = total_bytes_.load(std::memory_order_relaxed);
    figures.unit = unit_;
    draw(line(what_, figures));
  }
  draw("");
}

// Writes text over the line drawn before, cut to the terminal's width so that it never wraps;
// blanks cover what is left of a longer line. An empty text erases the line.
void Progress::draw(std::string text) {
  if (text.empty() && drawn_ == 0) return;  // nothing on screen to erase
  winsize size{};
  if (::ioctl(out_, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 && text.size() >= size.ws_col) {
    text.resize(size.ws_col - 1U);
  }
  std::string out = "\r" + text;
  if (text.size() < drawn_) out.append(drawn_ - text.size(), ' ');
  if (text.empty()) out += '\r';
  drawn_ = text.size();
  const ssize_t written = ::write(out_, out.data(), out.size());
  static_cast<void>(written);  // a progress line that cannot be drawn changes nothing of the run
}
