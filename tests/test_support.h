// Temporary folders, files, and runs of the real quarn binary for the tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Graph.h"

// The number of random trials a test runs: a fifth under the sanitizers, which run the same
// checks many times slower.
constexpr int trials(int count) {
#ifdef QUARN_SANITIZED
  return count / 5 > 0 ? count / 5 : 1;
#else
  return count;
#endif
}

// A fresh folder under /tmp, removed with everything in it at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void write_file(const std::string& path, const std::string& text);
std::string read_file(const std::string& path);

// text compressed as gzip (one member) and as zstd (one frame), by the libraries quarn reads them with.
std::string gzip_text(const std::string& text);
std::string zstd_text(const std::string& text);

// The edges of an edge-list text, read as a file named "g.txt" would be.
EdgeList edges_of(const std::string& text);

// The message of the QuarnError that action throws, or "(no error)".
std::string error_of(const std::function<void()>& action);

struct RunResult {
  std::string out;               // standard output
  std::string err;               // standard error
  int status = -1;               // exit status, or 128 + signal number
  std::uint64_t peak_bytes = 0;  // the most memory the process held (its peak resident set)
};

// The path of the quarn binary under test.
std::string quarn_binary();

// Runs the quarn binary with these arguments (the program name is added).
RunResult run_quarn(const std::vector<std::string>& args);
// Runs a shell command line; "$QUARN" in it names the quarn binary.
RunResult run_shell(const std::string& command);
