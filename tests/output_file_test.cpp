// OUTPUT_FILE through the real binary: another name for standard output, symbolic links, signals
// that stop a run, write-protected files, and what a failed run says of the file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

const std::string kCycle = "1 3\n1 2\n2 4\n3 4\n";
const std::string kCycleLines =
    "1 \n1 3 \n1 3 4 \n1 2 \n1 2 3 \n1 2 3 4 \n1 2 4 \n2 \n2 4 \n2 4 3 \n3 \n3 4 \n4 \n";
const std::string kCycleCount = "Patterns: 13\n";

std::string quoted(const std::string& word) {
  return "'" + word + "'";
}

bool is_link(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

struct stat stat_of(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info;
}

// The temporary files (".quarn-XXXXXX") in a folder.
std::vector<std::string> temporaries_in(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(".quarn-")) found.push_back(entry.path().string());
  }
  return found;
}

std::string complete_graph(int nodes) {
  std::string text;
  for (int u = 1; u <= nodes; ++u) {
    for (int v = u + 1; v <= nodes; ++v) text += std::to_string(u) + " " + std::to_string(v) + "\n";
  }
  return text;
}

// ---- 1. Another name for standard output --------------------------------------------------------

// Opened a second time, the file standard output writes would get an offset of its own, and the count
// line would land over the first pattern lines. Any name for it is written as "-" is.
TEST(StandardOutputByName, IsWrittenExactlyAsStandardOutput) {
  TempDir dir;
  const std::string graph = dir.file("g.txt");
  write_file(graph, kCycle);
  // What /dev/stdout is. As root, a fault here would replace the system's own /dev/stdout (it did
  // before), so the test uses a link in its own folder, and /dev/stdout itself only as another user.
  const std::string link = dir.file("stdout");
  ASSERT_EQ(::symlink("/proc/self/fd/1", link.c_str()), 0);
  std::vector<std::string> names = {"/proc/self/fd/1", "/dev/fd/1", link};
  if (::geteuid() != 0) names.push_back("/dev/stdout");
  const std::string res = dir.file("res.txt");
  for (const std::string& name : names) {
    for (const std::string redirect : {">", ">>"}) {
      SCOPED_TRACE(name + " " + redirect);
      write_file(res, "before\n");
      const RunResult run =
          run_shell("$QUARN CIS " + quoted(graph) + " " + quoted(name) + " " + redirect + " " + quoted(res));
      EXPECT_EQ(run.err, "");
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(read_file(res), (redirect == ">>" ? "before\n" : "") + kCycleLines + kCycleCount);
    }
    SCOPED_TRACE(name + " into a pipe");
    const RunResult piped = run_shell("$QUARN CIS " + quoted(graph) + " " + quoted(name) + " | cat");
    EXPECT_EQ(piped.out, kCycleLines + kCycleCount);
    EXPECT_EQ(piped.status, 0);
  }
  EXPECT_TRUE(is_link(link));
  EXPECT_TRUE(temporaries_in(dir.path()).empty());

  // The same for standard error: the lines go where it goes, the count line to standard output.
  const RunResult to_error = run_shell("$QUARN CIS " + quoted(graph) + " /proc/self/fd/2 2>>" + quoted(res));
  EXPECT_EQ(to_error.out, kCycleCount);
  EXPECT_EQ(to_error.status, 0);
  EXPECT_EQ(read_file(res), "before\n" + kCycleLines + kCycleCount + kCycleLines);
}

// ---- 2. Symbolic links ------------------------------------------------------------------------

// A link is never removed: the file it leads to is replaced, in its own folder, whatever folder quarn
// runs in; a dangling link leads to the file to create.
TEST(SymbolicLinkOutput, TheFileItLeadsToIsReplacedAndTheLinkStays) {
  TempDir dir;
  const std::string graph = dir.file("g.txt");
  write_file(graph, kCycle);
  ASSERT_EQ(::mkdir(dir.file("data").c_str(), 0755), 0);
  const std::string result = dir.file("data/result.txt");
  struct Link {
    std::string name;
    std::string leads_to;
  };
  const Link links[] = {
      {"relative", "data/result.txt"},          // relative to the link's folder, not to quarn's
      {"absolute", result},                     //
      {"chain", dir.file("relative")},          // a link to a link
      {"dangling", "data/new.txt"},             // to a file that does not exist yet
      {"dangling-chain", dir.file("dangling")}  //
  };
  for (const Link& l : links) ASSERT_EQ(::symlink(l.leads_to.c_str(), dir.file(l.name).c_str()), 0);
  for (const Link& l : links) {
    SCOPED_TRACE(l.name);
    write_file(result, "old\n");
    std::filesystem::remove(dir.file("data/new.txt"));
    const RunResult run = run_shell("cd / && $QUARN CIS " + quoted(graph) + " " + quoted(dir.file(l.name)));
    EXPECT_EQ(run.out, kCycleCount);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(is_link(dir.file(l.name)));
    EXPECT_EQ(std::filesystem::read_symlink(dir.file(l.name)).string(), l.leads_to);
    const bool creates = l.name.starts_with("dangling");
    EXPECT_EQ(read_file(creates ? dir.file("data/new.txt") : result), kCycleLines);
    if (creates) {
      EXPECT_EQ(read_file(result), "old\n");
    }
    EXPECT_TRUE(temporaries_in(dir.path()).empty());
    EXPECT_TRUE(temporaries_in(dir.file("data")).empty());
  }
}

// ---- 3. Runs stopped by a signal ----------------------------------------------------------------

// Starts quarn with these arguments, standard output and error into files in capture, SIGINT and
// SIGTERM at their default action, SIGHUP ignored (as under nohup) or not, and a file-size limit, so
// that a run the test fails to stop cannot fill the disk.
pid_t start_quarn(const std::vector<std::string>& args, const TempDir& capture, bool ignore_hangup,
                  rlim_t file_limit) {
  std::vector<std::string> words{quarn_binary()};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const std::string out = capture.file("stdout");
  const std::string err = capture.file("stderr");
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out_fd < 0 || err_fd < 0 || ::dup2(out_fd, 1) < 0 || ::dup2(err_fd, 2) < 0) ::_exit(126);
    const rlimit limit{file_limit, file_limit};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGHUP, ignore_hangup ? SIG_IGN : SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// Waits until the run has a temporary file in folder with at least min_bytes in it; false if the
// run ended first.
bool wait_for_temporary(pid_t pid, const std::string& folder, std::uintmax_t min_bytes) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (std::chrono::steady_clock::now() < give_up) {
    for (const std::string& temporary : temporaries_in(folder)) {
      std::error_code ignored;
      const auto size = std::filesystem::file_size(temporary, ignored);
      if (!ignored && size >= min_bytes) return true;
    }
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

// Stops the run where it is, sends it the signal, and lets it go on to receive it; returns the
// run's wait status.
int signal_and_wait(pid_t pid, int signal) {
  ::kill(pid, SIGSTOP);
  ::kill(pid, signal);
  ::kill(pid, SIGCONT);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

// Before, the old file was deleted at the start and a signal left a partial file ending in a whole
// line, which looked finished. Now the old file is untouched, the temporary file is removed, and the
// run ends by the signal it got, as a shell and a caller expect.
TEST(SignalledRun, LeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  const std::string graph = dir.file("k24.txt");
  write_file(graph, complete_graph(24));  // 16,777,215 patterns, about 545 MB of lines
  const std::string old = "old result\n1 2 3 \n";
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    for (const bool existing : {true, false}) {
      SCOPED_TRACE(std::string(strsignal(signal)) + (existing ? ", an existing file" : ", a new file"));
      const std::string output = dir.file("out.txt");
      std::filesystem::remove(output);
      if (existing) write_file(output, old);
      TempDir capture;
      const pid_t pid = start_quarn({"CIS", graph, output}, capture, false, 64 << 20);
      ASSERT_GT(pid, 0);
      // The first 1 MiB block is written: the run is well under way.
      const bool started = wait_for_temporary(pid, dir.path(), 1 << 20);
      if (!started) ::kill(pid, SIGKILL);
      ASSERT_TRUE(started) << read_file(capture.file("stderr"));
      const int status = signal_and_wait(pid, signal);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "wait status " << status;
      EXPECT_EQ(read_file(capture.file("stdout")), "");
      EXPECT_EQ(read_file(capture.file("stderr")), "");
      EXPECT_EQ(exists(output), existing);
      if (existing) {
        EXPECT_EQ(read_file(output), old);
      }
      EXPECT_TRUE(temporaries_in(dir.path()).empty());
    }
  }
}

// A signal the run was started with ignored (nohup, or SIGINT in a background job) stays ignored.
TEST(SignalledRun, AnIgnoredHangupDoesNotStopTheRun) {
  TempDir dir;
  const std::string graph = dir.file("k22.txt");
  write_file(graph, complete_graph(22));  // 4,194,303 patterns, about 130 MB of lines
  const std::string output = dir.file("out.txt");
  write_file(output, "old\n");
  TempDir capture;
  const pid_t pid = start_quarn({"CIS", graph, output}, capture, true, rlim_t(1) << 30);
  ASSERT_GT(pid, 0);
  const bool started = wait_for_temporary(pid, dir.path(), 0);
  if (!started) ::kill(pid, SIGKILL);
  ASSERT_TRUE(started) << "the run ended before the test saw its temporary file";
  const int status = signal_and_wait(pid, SIGHUP);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
  EXPECT_EQ(read_file(capture.file("stdout")), "Patterns: 4194303\n");
  const std::string lines = read_file(output);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 4194303);
  EXPECT_TRUE(temporaries_in(dir.path()).empty());
}

// ---- 4. Write-protected files -------------------------------------------------------------------

// Runs a shell command line (where "$QUARN" names quarn) as the user nobody, dropping root's
// privileges with setpriv or runuser; nothing when this process is not root or neither is there.
std::optional<RunResult> run_as_nobody(const std::string& command) {
  if (::geteuid() != 0) return std::nullopt;
  const char* drop = nullptr;
  if (::access("/usr/bin/setpriv", X_OK) == 0) {
    drop = "setpriv --reuid=65534 --regid=65534 --clear-groups";
  } else if (::access("/usr/sbin/runuser", X_OK) == 0) {
    drop = "runuser -u nobody --";
  } else {
    return std::nullopt;
  }
  std::string escaped;  // command inside single quotes
  for (const char c : command) escaped += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return run_shell(std::string("export QUARN; ") + drop + " sh -c '" + escaped + "'");
}

// As the shell's ">" refuses to write a file its user may not write, quarn refuses to replace it, in
// one line naming the file, and leaves it as it was. A file that quarn could write but not replace (in
// a folder the user may not write, or another user's file in a sticky folder such as /tmp) is refused
// at the start, not after the run. The test makes the files as root and runs quarn as nobody.
TEST(WriteProtectedOutput, IsRefusedForAUserWhoMayNotWriteIt) {
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);  // let nobody reach the files
  const std::string graph = dir.file("g.txt");
  write_file(graph, kCycle);
  for (const std::string folder : {"open", "closed", "sticky"}) {
    ASSERT_EQ(::mkdir(dir.file(folder).c_str(), 0755), 0);
  }
  ASSERT_EQ(::chmod(dir.file("open").c_str(), 0777), 0);
  ASSERT_EQ(::chmod(dir.file("sticky").c_str(), 01777), 0);
  struct Case {
    std::string file;
    mode_t mode;
    std::string err;  // "" for a run that replaces the file
  };
  const Case cases[] = {
      {dir.file("open/protected.txt"), 0444, ": cannot write: Permission denied"},
      {dir.file("closed/writable.txt"), 0666,
       ": cannot create a temporary file in " + dir.file("closed") + ": Permission denied"},
      {dir.file("sticky/writable.txt"), 0666,
       ": cannot replace a file of another user in " + dir.file("sticky") +
           ", where only its owner may replace it"},
      {dir.file("open/writable.txt"), 0666, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string old = "old\n";
    write_file(c.file, old);
    ASSERT_EQ(::chmod(c.file.c_str(), c.mode), 0);
    const std::optional<RunResult> run = run_as_nobody("$QUARN CIS " + quoted(graph) + " " + quoted(c.file));
    if (!run) GTEST_SKIP() << "runs as another user need root and setpriv or runuser";
    if (c.err.empty()) {
      EXPECT_EQ(run->err, "");
      EXPECT_EQ(run->status, 0);
      EXPECT_EQ(read_file(c.file), kCycleLines);
      EXPECT_EQ(stat_of(c.file).st_mode & 07777, c.mode);
    } else {
      EXPECT_EQ(run->out, "");
      EXPECT_EQ(run->err, "quarn: " + c.file + c.err + "\n");
      EXPECT_EQ(run->status, 1);
      EXPECT_EQ(read_file(c.file), old);
    }
    EXPECT_TRUE(temporaries_in(std::filesystem::path(c.file).parent_path()).empty());
  }
  // The shell refuses the protected file to nobody too.
  EXPECT_NE(run_as_nobody(": > " + quoted(dir.file("open/protected.txt")))->status, 0);
}

// Root's ">" writes a write-protected file, and so does quarn: the file is replaced and keeps its
// permissions, and its owner when that is another user.
TEST(WriteProtectedOutput, IsReplacedForRootAsTheShellWritesIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "runs as root only";
  TempDir dir;
  const std::string graph = dir.file("g.txt");
  write_file(graph, kCycle);
  const std::string file = dir.file("protected.txt");
  write_file(file, "old\n");
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
  EXPECT_EQ(run_shell(": > " + quoted(dir.file("protected.txt"))).status, 0);  // what the shell does
  write_file(file, "old\n");
  const RunResult run = run_quarn({"CIS", graph, file});
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(read_file(file), kCycleLines);
  EXPECT_EQ(stat_of(file).st_mode & 07777, 0444u);
  EXPECT_EQ(stat_of(file).st_uid, 65534u);
  EXPECT_EQ(stat_of(file).st_gid, 65534u);
}

// ---- 5. What a failed run says of the file ------------------------------------------------------

// Every error after OUTPUT_FILE was opened says what became of it. Out of memory: an MCS search whose
// chain of patterns needs more memory than a limit lets it have, once both files are read.
TEST(FailedRun, OutOfMemorySaysTheFileWasLeftAsItWas) {
#ifdef QUARN_SANITIZED
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
  TempDir dir;
  std::mt19937 random(7);
  const int nodes = 20000;
  std::string edges;
  for (int v = 2; v <= nodes; ++v) {
    edges +=
        std::to_string(std::uniform_int_distribution<int>(1, v - 1)(random)) + " " + std::to_string(v) + "\n";
  }
  for (int k = 0; k < nodes; ++k) {
    const int u = std::uniform_int_distribution<int>(1, nodes)(random);
    const int v = std::uniform_int_distribution<int>(1, nodes)(random);
    if (u != v) edges += std::to_string(u) + " " + std::to_string(v) + "\n";
  }
  write_file(dir.file("g.txt"), edges);
  std::string row;
  for (int a = 0; a < 64; ++a) row += "1 ";
  std::string rows;
  for (int k = 0; k < nodes; ++k) rows += row + "\n";
  write_file(dir.file("a.txt"), rows);
  for (const bool existing : {true, false}) {
    SCOPED_TRACE(existing ? "an existing file" : "a new file");
    const std::string output = dir.file("out.txt");
    std::filesystem::remove(output);
    if (existing) write_file(output, "old\n");
    const RunResult run = run_shell("ulimit -v 400000 && $QUARN MCS " + quoted(dir.file("g.txt")) + " " +
                                    quoted(dir.file("a.txt")) + " 64 1 " + quoted(output));
    if (run.status == 0) {
      GTEST_SKIP() << "the search now fits in 400 MB: this test needs another way to run out of memory";
    }
    EXPECT_EQ(run.err,
              "quarn: out of memory" +
                  (existing ? "; " + output + " was left as it was" : "; no output file was created") + "\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(exists(output), existing);
    if (existing) {
      EXPECT_EQ(read_file(output), "old\n");
    }
    EXPECT_TRUE(temporaries_in(dir.path()).empty());
  }
}

}  // namespace
