// Seeing a long run through the real binary: the progress line on a terminal and off it, the
// forecast of a listing's lines and bytes against the file written, and the check of free space.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>

#include "Miner.h"
#include "Output.h"
#include "graph_families.h"
#include "test_support.h"

namespace {

// A run with standard error on a pseudo-terminal (or a pipe) and standard output on a pipe, or on
// the same terminal.
RunResult run_with_stderr(const std::vector<std::string>& args, bool terminal, bool both = false) {
  int err_read = -1;
  std::string slave_name;
  int err_pipe[2] = {-1, -1};
  if (terminal) {
    err_read = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (err_read < 0 || ::grantpt(err_read) != 0 || ::unlockpt(err_read) != 0)
      throw std::runtime_error("no pty");
    slave_name = ::ptsname(err_read);
  } else {
    if (::pipe(err_pipe) != 0) throw std::runtime_error("no pipe");
    err_read = err_pipe[0];
  }
  int out_pipe[2];
  if (::pipe(out_pipe) != 0) throw std::runtime_error("no pipe");
  std::vector<std::string> argv{quarn_binary()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> raw;
  for (const std::string& arg : argv) raw.push_back(const_cast<char*>(arg.c_str()));
  raw.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    const int err = terminal ? ::open(slave_name.c_str(), O_RDWR) : err_pipe[1];
    const int in = ::open("/dev/null", O_RDONLY);
    if (err < 0 || in < 0) ::_exit(126);
    ::dup2(in, STDIN_FILENO);
    ::dup2(both ? err : out_pipe[1], STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::execv(raw[0], raw.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  if (!terminal) ::close(err_pipe[1]);
  RunResult result;
  // Both streams at once, until both end (a pty's reader gets EIO once the last writer is gone).
  pollfd fds[2] = {{err_read, POLLIN, 0}, {out_pipe[0], POLLIN, 0}};
  std::string* texts[2] = {&result.err, &result.out};
  int open_streams = 2;
  while (open_streams > 0) {
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        texts[i]->append(buffer, std::size_t(got));
      } else {
        fds[i].fd = -1;
        --open_streams;
      }
    }
  }
  ::close(err_read);
  ::close(out_pipe[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

// What a terminal shows on the last line after the text: each '\r' returns to its start, and what
// follows overwrites what was there.
std::string last_line_shown(const std::string& text) {
  std::string line;
  std::size_t column = 0;
  for (const char c : text.substr(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1)) {
    if (c == '\r') {
      column = 0;
      continue;
    }
    if (column == line.size())
      line += c;
    else
      line[column] = c;
    ++column;
  }
  return line;
}

// The complete graph on nodes 1..kNodes: a listing of its one pattern of kNodes nodes (--min-size)
// passes through all 2^kNodes - 1, long enough for the line to be drawn (a quarter of a second),
// and writes a few bytes. The same size in every build: a sanitized build is slower, never faster.
constexpr int kNodes = 25;

// A random graph whose count takes about as long: many patterns, few of them free to skip.
std::string long_count_graph() {
  const int n = 32, m = 130;
  std::mt19937 random(34);
  std::set<std::pair<int, int>> edges;
  while (int(edges.size()) < m) {
    const int u = 1 + int(random() % unsigned(n)), v = 1 + int(random() % unsigned(n));
    if (u != v) edges.insert({std::min(u, v), std::max(u, v)});
  }
  std::string text;
  for (const auto& [u, v] : edges) text += std::to_string(u) + " " + std::to_string(v) + "\n";
  return text;
}

TEST(ProgressLine, IsShownOnATerminalOrWhenForcedAndErasedAtTheEnd) {
  TempDir dir;
  const std::string graph = dir.file("complete.txt");
  write_file(graph, complete(kNodes));
  const std::string counted = dir.file("random.txt");
  write_file(counted, long_count_graph());
  const std::string least = std::to_string(kNodes);
  struct Case {
    std::vector<std::string> options;
    bool terminal;
    std::string shown;  // the start of the line drawn, "" for none
    std::string count_line;
  };
  const std::string kCounted = "Patterns: 3664399719\n";
  const std::string out = dir.file("out.txt");
  const Case cases[] = {
      {{"--min-size", least, "CIS", graph, out}, true, "\rquarn: listing: ", "Patterns: 1\n"},
      {{"--min-size", least, "--threads", "2", "CIS", graph, out},
       true,
       "\rquarn: listing: ",
       "Patterns: 1\n"},
      {{"--min-size", least, "--no-progress", "CIS", graph, out}, true, "", "Patterns: 1\n"},
      {{"--min-size", least, "CIS", graph, out}, false, "", "Patterns: 1\n"},
      {{"--min-size", least, "--progress", "CIS", graph, out}, false, "\rquarn: listing: ", "Patterns: 1\n"},
      {{"--progress", "--no-progress", "--min-size", least, "CIS", graph, out}, false, "", "Patterns: 1\n"},
      {{"--threads", "1", "CIS", counted}, true, "\rquarn: counting: ", kCounted},
      {{"CIS", counted}, false, "", kCounted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.options) + (c.terminal ? " on a terminal" : " into a pipe"));
    const RunResult run = run_with_stderr(c.options, c.terminal);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, c.count_line);
    if (c.shown.empty()) {
      EXPECT_EQ(run.err, "");
      continue;
    }
    EXPECT_EQ(run.err.find(c.shown), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), std::string::npos);
    // Erased: blanks over the last line drawn, and back to its start.
    EXPECT_EQ(run.err.back(), '\r');
    EXPECT_EQ(last_line_shown(run.err).find_first_not_of(' '), std::string::npos) << run.err;
  }
}

TEST(ProgressLine, IsNotShownAmongPatternLinesOnTheSameTerminal) {
  TempDir dir;
  const std::string graph = dir.file("complete.txt");
  write_file(graph, complete(kNodes));
  const RunResult run =
      run_with_stderr({"--min-size", std::to_string(kNodes), "CIS", graph, "-"}, true, true);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err.find("quarn"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Patterns: 1"), std::string::npos) << run.err;
}

TEST(ProgressLine, ShowsTheTotalsOfAListingForeseen) {
  TempDir dir;
  const std::string graph = dir.file("complete.txt");
  write_file(graph, complete(kNodes));
  const RunResult run = run_with_stderr({"--progress", "--threads", "1", "CIS", graph, "/dev/null"}, false);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.err.find("% of 33.6 M patterns"), std::string::npos) << run.err;
}

// The forecast against the file the binary writes, on random graphs whose numbers have one to three
// digits, with and without size bounds.
TEST(ListingForecast, TellsTheLinesAndBytesOfTheFileExactly) {
  struct Bounds {
    std::optional<std::int32_t> least, most;
  };
  const Bounds bounds[] = {{}, {2, {}}, {{}, 3}, {2, 4}, {5, {}}};
  std::mt19937 random(20261209);
  TempDir dir;
  for (int trial = 0; trial < trials(20); ++trial) {
    std::string text;
    if (trial % 4 == 3) {
      text = path(12, 95) + complete(6);  // a path across two widths, and a dense component
    } else {
      EdgeVector edges = random_simple_graph(random, 9 + trial % 7);
      const int shift = trial % 3 == 0 ? 0 : (trial % 3 == 1 ? 5 : 93);
      for (auto& [u, v] : edges) {
        if (u != 0) u += shift;
        if (v != 0) v += shift;
      }
      text = edge_text(edges);
    }
    write_file(dir.file("g.txt"), text);
    for (const Bounds& b : bounds) {
      SCOPED_TRACE(text);
      RunOptions options;
      options.min_size = b.least;
      options.max_size = b.most;
      options.quiet = true;
      Miner miner(edges_of(text), "g.txt", options);
      const std::optional<Miner::Forecast> forecast = miner.forecast_listing(std::chrono::hours(1));
      ASSERT_TRUE(forecast.has_value());
      std::vector<std::string> args{"--quiet"};
      if (b.least) args.push_back("--min-size=" + std::to_string(*b.least));
      if (b.most) args.push_back("--max-size=" + std::to_string(*b.most));
      args.insert(args.end(), {"CIS", dir.file("g.txt"), dir.file("out.txt")});
      const RunResult run = run_quarn(args);
      ASSERT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(run.out, "Patterns: " + std::to_string(forecast->lines) + "\n");
      EXPECT_EQ(forecast->least_bytes, std::filesystem::file_size(dir.file("out.txt")));
      EXPECT_EQ(forecast->most_bytes, forecast->least_bytes);
    }
  }
}

TEST(SpaceCheck, RefusalSaysTheFileTheBytesNeededAndFree) {
  struct Case {
    std::uint64_t needed, free;
    bool replaces;
    std::string message;
  };
  const Case cases[] = {
      {100, 100, false, ""},
      {0, 0, true, ""},
      {101, 100, false,
       "out.txt: the patterns need 101 bytes, and its file system has 100 bytes free (--no-space-check "
       "writes "
       "anyway)"},
      {5ULL << 40, 3ULL << 30, true,
       "out.txt: the patterns need 5.0 TiB (5497558138880 bytes), and its file system has 3.0 GiB "
       "(3221225472 "
       "bytes) free, counting the old file's space as taken: the new file is written beside it "
       "(--no-space-check writes anyway)"},
  };
  for (const Case& c : cases) EXPECT_EQ(space_refusal("out.txt", c.needed, c.free, c.replaces), c.message);
}

// A grid of 3 by 16 nodes: 317 billion patterns, 26 TiB of lines, foreseen at once. Every run is
// under a file-size limit of 512 KiB, so that a listing the check lets through, or a forecast that
// runs out of time on a slow build, cannot fill the disk.
TEST(SpaceCheck, RefusesARegularFileThatCannotHoldTheOutputAndNothingElse) {
  TempDir dir;
  write_file(dir.file("grid.txt"), grid(3, 16));
  write_file(dir.file("old.txt"), "old\n");
  struct Case {
    std::string command;
    std::string out_start;  // of standard output
    std::string err_part;   // a part of standard error, "" for none
    bool refused;
  };
  const Case cases[] = {
      {"\"$QUARN\" CIS grid.txt new.txt", "", "quarn: new.txt: the patterns need ", true},
      {"\"$QUARN\" CIS grid.txt old.txt", "", "free, counting the old file's space as taken", true},
      // Not refused: written until the file-size limit stops it.
      {"\"$QUARN\" --no-space-check CIS grid.txt new.txt", "", "File too large", false},
      {"\"$QUARN\" CIS grid.txt - | head -c 8", "1 \n1 2 \n", "", false},
      {"\"$QUARN\" CIS grid.txt /dev/full", "", "No space left on device", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    const RunResult run = run_shell("cd '" + dir.path() + "' && ulimit -f 1024 && " + c.command);
    EXPECT_EQ(run.out.substr(0, c.out_start.size()), c.out_start);
    if (!c.err_part.empty()) {
      EXPECT_NE(run.err.find(c.err_part), std::string::npos) << run.err;
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line";
    }
    EXPECT_EQ(run.err.find("the patterns need") != std::string::npos, c.refused) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("new.txt")));
    EXPECT_EQ(read_file(dir.file("old.txt")), "old\n");
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 2u) << "no temporary file is left";
  }
}

}  // namespace
