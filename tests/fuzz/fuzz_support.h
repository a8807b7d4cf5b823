// Shared by the fuzz targets: a scratch folder for the files an input becomes, runs of the command
// line with standard output and error captured, and the way a target reports a broken invariant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A private folder in memory-backed storage (/dev/shm when there is one, or in $QUARN_FUZZ_SCRATCH),
// made on first use and removed at exit.
const std::string& scratch_dir();
// scratch_dir() + "/" + name
std::string scratch_file(const std::string& name);

void write_bytes(const std::string& path, std::string_view bytes);
std::string read_bytes(const std::string& path);

// Prints what went wrong on the real standard error and aborts, so that the fuzzer keeps the input.
[[noreturn]] void finding(const std::string& what);
#define FUZZ_CHECK(condition, what)                                   \
  do {                                                                \
    if (!(condition)) finding(std::string(#condition ": ") + (what)); \
  } while (0)

struct Captured {
  int status = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

// Calls run() with the program name "quarn" and these arguments, with standard output and error
// going to files that are read back afterwards.
Captured run_quarn(const std::vector<std::string>& args);

// Checks what a run that fails on its input leaves behind: status 1, nothing on standard output, and
// exactly one line "quarn: ..." on standard error.
void check_error_run(const Captured& run);

// The notes a successful run writes for an edge list named name: node 0 named by some lines, and in
// CIS mode more than half of the nodes 1 to max_node named by none. Worked out here on their own.
std::string expected_notes(const std::string& name,
                           const std::vector<std::pair<std::int32_t, std::int32_t>>& edges, bool cis);

// The number of "\n"-terminated lines of text; finding() if the text does not end with a line end.
std::size_t count_lines(std::string_view text);

// Splits text at every separator byte.
std::vector<std::string> split(std::string_view text, char separator);
