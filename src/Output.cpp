#include "Output.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <utility>

#include "Memory.h"
#include "helpers.h"

namespace {

constexpr std::size_t kBufferBytes = std::size_t(1) << 20;

// Writes everything, and returns 0 or the errno of the write that failed.
int write_fully(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += written;
    size -= std::size_t(written);
  }
  return 0;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The file behind an input: "-" is standard input, which matters only when it is a regular file
// (quarn - out.txt < out.txt); a file named "-" in the current folder is not the input.
bool stat_input(const std::string& input, struct stat& info) {
  if (input != "-") return ::stat(input.c_str(), &info) == 0;
  return ::fstat(STDIN_FILENO, &info) == 0 && S_ISREG(info.st_mode);
}

std::string error_text(int error) {
  return std::strerror(error);
}

// The temporary file of the run, and the signals that remove it.
//
// A signal handler may touch only what is ready before the signal comes: the path lives in a static
// buffer, written only while g_armed is false, and the handler calls only unlink, sigaction and
// raise, which are async-signal-safe. Whichever of the handler and the run clears g_armed first
// owns the removal, on whatever thread the signal arrives.

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kEndingSignalCount = std::size(kEndingSignals);

char g_temporary[PATH_MAX];
std::atomic<bool> g_armed{false};
static_assert(std::atomic<bool>::is_always_lock_free);
struct sigaction g_previous[kEndingSignalCount];
bool g_caught[kEndingSignalCount];

// What the last output that did not finish left of OUTPUT_FILE; see take_unfinished_output_note().
std::string g_unfinished_note;

void remove_temporary_and_end(int signal) {
  const int saved_errno = errno;
  if (g_armed.exchange(false)) ::unlink(g_temporary);
  for (std::size_t i = 0; i < kEndingSignalCount; ++i) {
    if (kEndingSignals[i] == signal && g_caught[i]) ::sigaction(signal, &g_previous[i], nullptr);
  }
  // The signal is blocked while its handler runs: it is delivered on return, to the action the run
  // started with, which (as set by the shell) ends the process by this signal.
  ::raise(signal);
  errno = saved_errno;
}

void catch_ending_signals() {
  struct sigaction action {};
  action.sa_handler = remove_temporary_and_end;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < kEndingSignalCount; ++i) {
    struct sigaction previous {};
    g_caught[i] = false;
    if (::sigaction(kEndingSignals[i], nullptr, &previous) != 0) continue;
    // An ignored signal stays ignored: under nohup, a hangup must not end the run.
    if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_IGN) continue;
    g_previous[i] = previous;
    g_caught[i] = ::sigaction(kEndingSignals[i], &action, nullptr) == 0;
  }
}

void release_ending_signals() {
  for (std::size_t i = 0; i < kEndingSignalCount; ++i) {
    if (g_caught[i]) ::sigaction(kEndingSignals[i], &g_previous[i], nullptr);
    g_caught[i] = false;
  }
}

// Creates an empty file ".quarn-XXXXXX" in folder, which a signal that ends the run removes until
// remove_temporary() or install_temporary() takes it over. Returns its descriptor, or -1 with errno.
int create_temporary(const std::string& folder) {
  const std::string pattern = folder + (folder.ends_with('/') ? "" : "/") + ".quarn-XXXXXX";
  if (pattern.size() >= sizeof g_temporary) {
    errno = ENAMETOOLONG;
    return -1;
  }
  if (g_armed) throw std::logic_error("a process writes one pattern file at a time");
  sigset_t ending, before;
  sigemptyset(&ending);
  for (const int signal : kEndingSignals) sigaddset(&ending, signal);
  // Held back until the file exists and is armed, so that no signal can leave it behind.
  ::pthread_sigmask(SIG_BLOCK, &ending, &before);
  catch_ending_signals();
  std::memcpy(g_temporary, pattern.c_str(), pattern.size() + 1);
  const int fd = ::mkostemp(g_temporary, O_CLOEXEC);
  const int error = errno;
  if (fd >= 0) {
    g_armed = true;
  } else {
    release_ending_signals();
  }
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  errno = error;
  return fd;
}

// Removes the temporary file, unless a signal handler already did. Returns 0 or the errno of unlink.
int remove_temporary() {
  int error = 0;
  if (g_armed.exchange(false) && ::unlink(g_temporary) != 0) error = errno;
  release_ending_signals();
  return error;
}

// Renames the temporary file to target. Returns 0, or the errno of rename with the file still armed.
int install_temporary(const std::string& target) {
  if (::rename(g_temporary, target.c_str()) != 0) return errno;
  g_armed = false;
  release_ending_signals();
  return 0;
}

std::string parent_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The absolute path of path with every symbolic link resolved, or "" with errno set.
std::string real_path(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : std::string();
}

// Where a new file named path goes: a dangling symbolic link is followed to the file it names, as
// open(2) with O_CREAT would follow it, and the folder is made absolute. "" with errno set if there is
// no such place.
std::string creation_path(std::string path) {
  for (int links = 0;; ++links) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
      if (errno != ENOENT) return "";
      break;
    }
    if (!S_ISLNK(info.st_mode)) break;  // made meanwhile: replaced like any other file
    if (links == 40) {
      errno = ELOOP;
      return "";
    }
    std::string link(PATH_MAX, '\0');
    const ssize_t length = ::readlink(path.c_str(), link.data(), link.size());
    if (length < 0) return "";
    if (length == 0 || std::size_t(length) == link.size()) {
      errno = length == 0 ? ENOENT : ENAMETOOLONG;
      return "";
    }
    link.resize(std::size_t(length));
    path = link.front() == '/' ? link : parent_of(path) + "/" + link;
  }
  const std::string base = base_of(path);
  if (base.empty() || base == "." || base == "..") {
    errno = EISDIR;
    return "";
  }
  const std::string folder = real_path(parent_of(path));
  if (folder.empty()) return "";
  return (folder == "/" ? "" : folder) + "/" + base;
}

mode_t current_umask() {
  // umask can only be read by setting it; quarn opens its output before any other thread starts.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// The new file gets what the old one had, as the shell's ">" keeps it: its permissions and, where
// this process may set them, its owner and group. A new file gets what open(2) would give it.
// Failures are ignored: the file then keeps mkstemp's owner-only permissions.
void give_permissions(int fd, const struct stat* old) {
  if (old == nullptr) {
    ::fchmod(fd, 0666 & ~current_umask());
    return;
  }
  struct stat now {};
  if (::fstat(fd, &now) == 0 && (now.st_uid != old->st_uid || now.st_gid != old->st_gid)) {
    [[maybe_unused]] const int ignored = ::fchown(fd, old->st_uid, old->st_gid);
  }
  ::fchmod(fd, old->st_mode & 0777);
}

// In a folder with the sticky bit (/tmp), only the owner of a file or of the folder, or root, may
// rename another file over it; the shell's ">" would still write it in place.
bool sticky_folder_forbids_replacing(const std::string& folder, const struct stat& file) {
  struct stat info {};
  const uid_t me = ::geteuid();
  return ::stat(folder.c_str(), &info) == 0 && (info.st_mode & S_ISVTX) != 0 && me != 0 &&
         file.st_uid != me && info.st_uid != me;
}

// Standard output, or error, if the file is the one it writes to (/dev/stdout, /proc/self/fd/1).
int standard_stream_of(const struct stat& file) {
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat stream {};
    if (::fstat(fd, &stream) == 0 && same_file(stream, file)) return fd;
  }
  return -1;
}

// Keeps a file off the numbers of closed standard streams, so that the count line can never land in
// it. Closes fd; returns the new descriptor, or -1 with errno set.
int away_from_standard_streams(int fd) {
  if (fd > STDERR_FILENO) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  const int error = errno;
  ::close(fd);
  errno = error;
  return moved;
}

}  // namespace

PatternOutput::~PatternOutput() {
  // A temporary file still here means the run ended before finish(): it is incomplete.
  if (temporary_) {
    abandon_temporary();
  } else if (owns_fd_ && fd_ >= 0) {
    ::close(fd_);
  }
}

void PatternOutput::open(const std::string& name, const std::vector<std::string>& inputs) {
  if (name.empty()) return;
  buffer_.resize(kBufferBytes);
  if (name == "-") {
    fd_ = STDOUT_FILENO;
    name_ = "standard output";
    return;
  }
  struct stat target {};
  if (::stat(name.c_str(), &target) != 0) {
    if (const int error = errno; error != ENOENT) fail(name, "cannot create: " + error_text(error));
    return open_new_file(name);
  }
  for (const std::string& input : inputs) {
    struct stat source {};
    if (stat_input(input, source) && same_file(source, target)) {
      fail(name, "is the same file as " + (input == "-" ? "standard input" : "the input " + input) +
                     "; writing patterns to it would destroy it");
    }
  }
  if (S_ISDIR(target.st_mode)) fail(name, "is a directory; OUTPUT_FILE must name a file");
  // Another name for a file standard output already writes: opened again, it would have an offset of
  // its own, and the count line would land over the first pattern lines.
  if (const int stream = standard_stream_of(target); stream >= 0) {
    fd_ = stream;
    name_ = stream == STDOUT_FILENO ? "standard output" : "standard error";
    return;
  }
  if (!S_ISREG(target.st_mode)) return open_directly(name);
  open_replacement(name, target);
}

void PatternOutput::open_replacement(const std::string& name, const struct stat& existing) {
  // As the shell's ">" does, refuse a file this process may not write (root may write any).
  if (::faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) != 0) {
    const int error = errno;
    fail(name, "cannot write: " + error_text(error));
  }
  const std::string real = real_path(name);
  struct stat there {};
  if (real.empty() || ::stat(real.c_str(), &there) != 0 || !same_file(there, existing)) {
    // No name leads to the file any more (a deleted file open through /proc/PID/fd): nothing to
    // rename over.
    return open_directly(name);
  }
  if (sticky_folder_forbids_replacing(parent_of(real), existing)) {
    fail(name, "cannot replace a file of another user in " + parent_of(real) +
                   ", where only its owner may replace it");
  }
  open_temporary(name, real, true);
  give_permissions(fd_, &existing);
}

void PatternOutput::open_new_file(const std::string& name) {
  const std::string path = creation_path(name);
  if (path.empty()) {
    const int error = errno;
    fail(name, "cannot create: " + error_text(error));
  }
  open_temporary(name, path, false);
  give_permissions(fd_, nullptr);
}

void PatternOutput::open_temporary(const std::string& name, const std::string& target, bool replaces) {
  const std::string folder = parent_of(target);
  const int created = create_temporary(folder);
  if (created < 0) {
    const std::string reason = error_text(errno);
    fail(name, replaces ? "cannot create a temporary file in " + folder + ": " + reason
                        : "cannot create: " + reason);
  }
  temporary_ = true;
  replaces_ = replaces;
  fd_ = created;
  owns_fd_ = true;
  name_ = name;
  target_ = target;
  left_note_ = replaces ? "; " + name + " was left as it was" : "; no output file was created";
  fd_ = away_from_standard_streams(created);
  if (fd_ < 0) {
    const std::string reason = error_text(errno);
    abandon_temporary();
    fail(name, "cannot create: " + reason);
  }
}

// A device, a FIFO, or a file without a name: written as it is, never removed.
void PatternOutput::open_directly(const std::string& name) {
  const int opened = ::open(name.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  const int fd = opened < 0 ? -1 : away_from_standard_streams(opened);
  if (fd < 0) {
    const int error = errno;
    fail(name, "cannot open: " + error_text(error));
  }
  fd_ = fd;
  owns_fd_ = true;
  name_ = name;
}

void PatternOutput::flush() {
  write_all(buffer_.data(), used_);
  used_ = 0;
}

void PatternOutput::write_through(const char* data, std::size_t size) {
  write_all(data, size);
}

void PatternOutput::write_all(const char* data, std::size_t size) {
  if (const int error = write_fully(fd_, data, size); error != 0) fail_write(error);
}

void PatternOutput::fail_write(int error) {
  abandon_temporary();
  fail(name_, "cannot write: " + error_text(error));
}

// Closes and removes the temporary file, and leaves what that means for OUTPUT_FILE to the message
// of the error that ends the run.
void PatternOutput::abandon_temporary() {
  if (!temporary_) return;
  temporary_ = false;
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (const int error = remove_temporary(); error != 0) {
    try {
      left_note_ +=
          ", but the unfinished " + std::string(g_temporary) + " could not be removed: " + error_text(error);
    } catch (...) {  // out of memory: the note says less
    }
  }
  g_unfinished_note = std::move(left_note_);
}

void PatternOutput::finish() {
  if (fd_ < 0) return;
  flush();
  if (!owns_fd_) return;
  const int closed = ::close(fd_);
  const int error = errno;
  fd_ = -1;  // closed even when close reports an error
  if (closed != 0) fail_write(error);
  if (temporary_) {
    // The count line follows only once the complete file is in place.
    if (const int renamed = install_temporary(target_); renamed != 0) {
      abandon_temporary();
      fail(name_, "cannot put the finished file in place: " + error_text(renamed));
    }
    temporary_ = false;
  }
}

bool PatternOutput::writes_to_terminal() const {
  return fd_ >= 0 && ::isatty(fd_) == 1;
}

std::optional<std::uint64_t> PatternOutput::free_bytes() const {
  if (!temporary_ || fd_ < 0) return std::nullopt;
  struct statvfs info {};
  if (::fstatvfs(fd_, &info) != 0 || info.f_frsize == 0) return std::nullopt;
  // The blocks reserved for root are left out even for root: in a container, root may not get them.
  return std::uint64_t(info.f_bavail) * std::uint64_t(info.f_frsize);
}

namespace {

std::string exact_bytes(std::uint64_t bytes) {
  return format_bytes(bytes) + (bytes >= 1024 ? " (" + std::to_string(bytes) + " bytes)" : "");
}

}  // namespace

std::string space_refusal(const std::string& name, std::uint64_t needed, std::uint64_t free, bool replaces) {
  if (needed <= free) return "";
  return name + ": the patterns need " + exact_bytes(needed) + ", and its file system has " +
         exact_bytes(free) + " free" +
         (replaces ? ", counting the old file's space as taken: the new file is written beside it" : "") +
         " (--no-space-check writes anyway)";
}

std::string take_unfinished_output_note() {
  return std::exchange(g_unfinished_note, std::string());
}

void print_count_line(const std::string& decimal_count) {
  const std::string line = "Patterns: " + decimal_count + "\n";
  if (const int error = write_fully(STDOUT_FILENO, line.data(), line.size()); error != 0) {
    fail("standard output", "cannot write: " + error_text(error));
  }
}

void print_lines(std::string_view text) {
  if (const int error = write_fully(STDOUT_FILENO, text.data(), text.size()); error != 0) {
    fail("standard output", std::string("cannot write: ") + std::strerror(error));
  }
}

void print_count_line(std::uint64_t count) {
  print_count_line(std::to_string(count));
}
