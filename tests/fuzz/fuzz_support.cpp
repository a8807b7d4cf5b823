#include "fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "CommandLine.h"

// Lets the sanitizers write their reports to a descriptor of our choice; absent without them.
extern "C" void __sanitizer_set_report_fd(void* fd) __attribute__((weak));

namespace {

int real_stderr = STDERR_FILENO;

// The two scratch files that capture standard output and error during a run. The real standard error
// stays open under another number for the sanitizers' reports and for finding(), since a report can
// come in the middle of a run.
struct Redirection {
  int out = -1;
  int err = -1;
  Redirection() {
    real_stderr = ::dup(STDERR_FILENO);
    if (__sanitizer_set_report_fd)
      __sanitizer_set_report_fd(reinterpret_cast<void*>(std::intptr_t(real_stderr)));
    out = ::open(scratch_file("stdout").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    err = ::open(scratch_file("stderr").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (real_stderr < 0 || out < 0 || err < 0) finding("cannot redirect standard output and error");
  }
};

void rewind(int fd) {
  if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) finding("cannot reset a capture file");
}

std::string contents(int fd) {
  std::string text;
  char block[65536];
  for (off_t at = 0;;) {
    const ssize_t got = ::pread(fd, block, sizeof block, at);
    if (got <= 0) return text;
    text.append(block, std::size_t(got));
    at += got;
  }
}

}  // namespace

const std::string& scratch_dir() {
  // Never destroyed: the clean-up at exit still needs it.
  static const std::string* const dir = [] {
    // libFuzzer ends a timed run without the clean-up at exit; run.sh then removes QUARN_FUZZ_SCRATCH.
    const char* given = std::getenv("QUARN_FUZZ_SCRATCH");
    std::string base = given != nullptr ? given : ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "";
    if (base.empty()) base = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp";
    auto* made = new std::string(base + "/quarn-fuzz-XXXXXX");
    if (::mkdtemp(made->data()) == nullptr) {
      std::perror("quarn fuzz: cannot make a scratch folder");
      std::abort();
    }
    std::atexit([] { std::filesystem::remove_all(scratch_dir()); });
    return made;
  }();
  return *dir;
}

std::string scratch_file(const std::string& name) {
  return scratch_dir() + "/" + name;
}

void write_bytes(const std::string& path, std::string_view bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), std::streamsize(bytes.size()));
  if (!file.flush()) finding("cannot write " + path);
}

std::string read_bytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void finding(const std::string& what) {
  const std::string line = "quarn fuzz: " + what + "\n";
  if (::write(real_stderr, line.data(), line.size()) < 0) std::abort();
  std::abort();
}

Captured run_quarn(const std::vector<std::string>& args) {
  static const Redirection redirection;
  std::fflush(stdout);
  rewind(redirection.out);
  rewind(redirection.err);
  const int saved_out = ::dup(STDOUT_FILENO);
  const int saved_err = ::dup(STDERR_FILENO);
  ::dup2(redirection.out, STDOUT_FILENO);
  ::dup2(redirection.err, STDERR_FILENO);

  std::vector<std::string> words = {"quarn"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  Captured result;
  result.status = run(int(words.size()), argv.data());

  std::fflush(stdout);
  std::fflush(stderr);
  ::dup2(saved_out, STDOUT_FILENO);
  ::dup2(saved_err, STDERR_FILENO);
  ::close(saved_out);
  ::close(saved_err);
  result.out = contents(redirection.out);
  result.err = contents(redirection.err);
  return result;
}

void check_error_run(const Captured& run) {
  FUZZ_CHECK(run.status == 1, "status " + std::to_string(run.status) + ", stderr " + run.err);
  FUZZ_CHECK(run.out.empty(), "standard output after an error: " + run.out);
  FUZZ_CHECK(run.err.starts_with("quarn: ") && count_lines(run.err) == 1, "error message " + run.err);
}

std::string expected_notes(const std::string& name,
                           const std::vector<std::pair<std::int32_t, std::int32_t>>& edges, bool cis) {
  std::int64_t zero_lines = 0;
  std::set<std::int32_t> named;
  std::int32_t largest = 0;
  for (const auto& [u, v] : edges) {
    zero_lines += u == 0 || v == 0;
    named.insert(u);
    named.insert(v);
    largest = std::max({largest, u, v});
  }
  std::string notes;
  if (zero_lines == 1) {
    notes += "quarn: note: " + name +
             ": 1 edge line names node 0, which is not a node (nodes are numbered from 1); that edge joins "
             "nothing\n";
  } else if (zero_lines > 1) {
    notes += "quarn: note: " + name + ": " + std::to_string(zero_lines) +
             " edge lines name node 0, which is not a node (nodes are numbered from 1); those edges join "
             "nothing\n";
  }
  const std::int64_t unused = std::int64_t(largest) - std::int64_t(named.size() - named.count(0));
  if (cis && 2 * unused > largest) {
    notes += "quarn: note: " + name + ": " + std::to_string(unused) + " of the nodes 1 to " +
             std::to_string(largest) + " appear on no line (" + std::to_string(largest) +
             " is the largest number in the file); each is an isolated node, a pattern of its own\n";
  }
  return notes;
}

std::size_t count_lines(std::string_view text) {
  FUZZ_CHECK(text.empty() || text.back() == '\n', "output ends without a line end");
  std::size_t lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}
