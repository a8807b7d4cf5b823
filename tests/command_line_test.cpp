// The real binary: usage messages, exit statuses, errors, and where the output goes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <numeric>
#include <random>

#include "test_support.h"

namespace {

const std::string kGeneralUsage =
    "Wrong input.\nCorrect Format is: ./quarn OPTION\n"
    "\tOPTION could be: CIS, for Connected Induced Subgraphs, or MCS, for Maximal Cohesive Subgraphs\n";
const std::string kCisUsage = "Wrong input.\nCorrect Format is: ./quarn CIS GRAPH_INPUT_FILE [OUTPUT_FILE]\n";
const std::string kMcsUsage =
    "Wrong input.\nCorrect Format is: ./quarn MCS GRAPH_INPUT_FILE ATTRIBUTES_INPUT_FILE MIN_SUP "
    "MIN_GRAPH_SIZE [OUTPUT_FILE]\n";

TEST(Usage, WrongUsageGetsTheModesMessageAndStatusOne) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{}, kGeneralUsage},
      {{"cis", "g.txt"}, kGeneralUsage},
      {{"Cis", "g.txt"}, kGeneralUsage},
      {{"mcs", "g", "a", "1", "1"}, kGeneralUsage},
      {{"XYZ"}, kGeneralUsage},
      {{"XYZ", "a", "b", "c", "d", "e", "f", "g"}, kGeneralUsage},
      {{"CIS"}, kCisUsage},
      {{"CIS", "g", "o", "x"}, kCisUsage},
      {{"MCS"}, kMcsUsage},
      {{"MCS", "g", "a", "1"}, kMcsUsage},
      {{"MCS", "g", "a", "1", "2", "o", "x"}, kMcsUsage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const RunResult run = run_quarn(c.args);
    EXPECT_EQ(run.out, c.message);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 1);
  }
}

// Options come out before the arguments are counted: with "--", a usage error stays the mode's.
TEST(Usage, OptionsLeaveEveryUsageCaseAsItWas) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"--"}, kGeneralUsage},
      {{"--", "cis", "g.txt"}, kGeneralUsage},
      {{"CIS", "--"}, kCisUsage},
      {{"CIS", "g", "o", "--", "x"}, kCisUsage},
      {{"MCS", "--", "g", "a", "1"}, kMcsUsage},
      {{"--", "--help"}, kGeneralUsage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const RunResult run = run_quarn(c.args);
    EXPECT_EQ(run.out, c.message);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 1);
  }
}

TEST(Usage, HelpAndVersionGoToStandardOutputWithStatusZero) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"CIS", "--help"}, {"MCS", "g", "--help", "a"}, {"cis", "x", "y", "z", "--help"}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    const RunResult run = run_quarn(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("quarn CIS GRAPH_INPUT_FILE [OUTPUT_FILE]\n"), std::string::npos);
    EXPECT_NE(run.out.find(
                  "quarn MCS GRAPH_INPUT_FILE ATTRIBUTES_INPUT_FILE MIN_SUP MIN_GRAPH_SIZE [OUTPUT_FILE]\n"),
              std::string::npos);
    EXPECT_NE(run.out.find("  --version "), std::string::npos);
    EXPECT_NE(run.out.find("README.md"), std::string::npos);
  }
  const RunResult version = run_quarn({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.err, "");
  EXPECT_EQ(version.out.rfind("quarn ", 0), 0U);
  EXPECT_EQ(version.out.find('\n'), version.out.size() - 1);
}

TEST(Usage, ABadOptionIsOneLineOnStandardErrorAndTouchesNothing) {
  TempDir dir;
  write_file(dir.file("g.txt"), "1 2\n");
  write_file(dir.file("out.txt"), "keep me\n");
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"CIS", dir.file("g.txt"), dir.file("out.txt"), "--frobnicate"},
       "quarn: unknown option \"--frobnicate\"; quarn --help lists the options\n"},
      {{"--frobnicate=2", "CIS", dir.file("g.txt"), dir.file("out.txt")},
       "quarn: unknown option \"--frobnicate\"; quarn --help lists the options\n"},
      {{"CIS", "--version=2", dir.file("g.txt"), dir.file("out.txt")},
       "quarn: --version takes no value, got \"--version=2\"\n"},
      {{"XYZ", "--bad"}, "quarn: unknown option \"--bad\"; quarn --help lists the options\n"},
      {{"CIS", dir.file("g.txt"), dir.file("out.txt"), "--max-size", "x"},
       "quarn: --max-size expects a whole number from 1 to 2147483647, got \"x\"\n"},
      {{"CIS", dir.file("g.txt"), dir.file("out.txt"), "--min-size=3", "--max-size=2"},
       "quarn: --min-size 3 is greater than --max-size 2: no pattern can have both\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const RunResult run = run_quarn(c.args);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.error);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(read_file(dir.file("out.txt")), "keep me\n");
  }
}

// A file whose name begins with two dashes is an argument after "--".
TEST(Usage, ArgumentsThatLookLikeOptionsFollowTheDoubleDash) {
  TempDir dir;
  write_file(dir.file("--g.txt"), "1 2\n");
  const RunResult run = run_shell("cd '" + dir.path() + "' && \"$QUARN\" CIS -- --g.txt -");
  EXPECT_EQ(run.out, "1 \n1 2 \n2 \nPatterns: 3\n");
  EXPECT_EQ(run.status, 0);
}

}  // namespace

namespace {

const std::string kCycle = "1 3\n1 2\n2 4\n3 4\n";
const std::string kCycleLines =
    "1 \n1 3 \n1 3 4 \n1 2 \n1 2 3 \n1 2 3 4 \n1 2 4 \n2 \n2 4 \n2 4 3 \n3 \n3 4 \n4 \n";

struct stat_result {
  bool exists;
  mode_t type;
};

stat_result stat_of(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return {false, 0};
  return {true, info.st_mode & S_IFMT};
}

TEST(CisOutput, ThreeDestinations) {
  TempDir dir;
  write_file(dir.file("g.txt"), kCycle);

  RunResult run = run_quarn({"CIS", dir.file("g.txt")});
  EXPECT_EQ(run.out, "Patterns: 13\n");
  EXPECT_EQ(run.status, 0);

  run = run_quarn({"CIS", dir.file("g.txt"), "-"});
  EXPECT_EQ(run.out, kCycleLines + "Patterns: 13\n");
  EXPECT_EQ(run.status, 0);

  write_file(dir.file("out.txt"), std::string(5000, 'x'));
  run = run_quarn({"CIS", dir.file("g.txt"), dir.file("out.txt")});
  EXPECT_EQ(run.out, "Patterns: 13\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(read_file(dir.file("out.txt")), kCycleLines);
  EXPECT_EQ(read_file(dir.file("g.txt")), kCycle);
}

// The lines by size come before the count line wherever the patterns go, after the patterns on
// standard output; with bounds, only the sizes within them are listed and counted.
TEST(CisOutput, SizesAndBoundsInEveryDestination) {
  TempDir dir;
  write_file(dir.file("g.txt"), kCycle);
  struct Case {
    std::vector<std::string> options;
    std::string lines;
    std::string summary;
  };
  const Case cases[] = {
      {{"--by-size"}, kCycleLines, "Size 1: 4\nSize 2: 4\nSize 3: 4\nSize 4: 1\nPatterns: 13\n"},
      {{"--min-size", "2", "--max-size=3", "--by-size"},
       "1 3 \n1 3 4 \n1 2 \n1 2 3 \n1 2 4 \n2 4 \n2 4 3 \n3 4 \n",
       "Size 2: 4\nSize 3: 4\nPatterns: 8\n"},
      {{"--max-size", "1"}, "1 \n2 \n3 \n4 \n", "Patterns: 4\n"},
      {{"--min-size", "4"}, "1 2 3 4 \n", "Patterns: 1\n"},
      {{"--min-size", "5", "--by-size"}, "", "Patterns: 0\n"},
      {{"--max-size", "90", "--by-size"},
       kCycleLines,
       "Size 1: 4\nSize 2: 4\nSize 3: 4\nSize 4: 1\nPatterns: 13\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.options));
    std::vector<std::string> args = {"CIS", dir.file("g.txt")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    RunResult run = run_quarn(args);
    EXPECT_EQ(run.out, c.summary);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);

    args.push_back("-");
    run = run_quarn(args);
    EXPECT_EQ(run.out, c.lines + c.summary);
    EXPECT_EQ(run.status, 0);

    args.back() = dir.file("out.txt");
    run = run_quarn(args);
    EXPECT_EQ(run.out, c.summary);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(read_file(dir.file("out.txt")), c.lines);
  }
}

TEST(CisOutput, SizesOfZacharysKarateClub) {
  // Sizes 3 to 9 as an independent counter gives them; sizes 1 and 2 are the nodes and the edges.
  const std::string karate = std::string(QUARN_SOURCE_DIR) + "/examples/karate.txt";
  const RunResult run = run_quarn({"CIS", karate, "--by-size", "--max-size", "9"});
  EXPECT_EQ(run.out,
            "Size 1: 34\nSize 2: 78\nSize 3: 438\nSize 4: 2363\nSize 5: 11740\nSize 6: 54185\n"
            "Size 7: 230202\nSize 8: 880772\nSize 9: 2981271\nPatterns: 4161083\n");
  const RunResult all = run_quarn({"CIS", karate, "--by-size"});
  EXPECT_EQ(all.out.substr(all.out.size() - 44), "Size 33: 33\nSize 34: 1\nPatterns: 3923410433\n");
}

TEST(CisOutput, RefusesToOverwriteTheGraphFile) {
  TempDir dir;
  const std::string graph = dir.file("g.txt");
  write_file(graph, kCycle);
  ASSERT_EQ(::symlink(graph.c_str(), dir.file("link.txt").c_str()), 0);
  ASSERT_EQ(::link(graph.c_str(), dir.file("hard.txt").c_str()), 0);
  for (const std::string& output :
       {graph, dir.path() + "/./g.txt",
        dir.path() + "/../" + dir.path().substr(dir.path().rfind('/') + 1) + "/g.txt", dir.file("link.txt"),
        dir.file("hard.txt")}) {
    SCOPED_TRACE(output);
    const RunResult run = run_quarn({"CIS", graph, output});
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "quarn: " + output + ": is the same file as the input " + graph +
                           "; writing patterns to it would destroy it\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(read_file(graph), kCycle);
  }
}

TEST(CisOutput, FailedRunsLeaveTheOutputFileAlone) {
  TempDir dir;
  const std::string output = dir.file("out.txt");
  struct Case {
    std::string graph_text;
    std::string error;
  };
  const Case cases[] = {
      {"1 2\n2 x\n", ":2: expected two node numbers, found \"2 x\""},
      {"1 2\n-3 1\n", ":2: node numbers cannot be negative, found \"-3 1\""},
      {"1 2\n1 99999999999\n",
       ":2: node number \"99999999999\" is out of range: node numbers go from 0 to 2147483647"},
      {"1 2\n3", ":2: expected two node numbers, found \"3\""},  // the file ends within a line
      {std::string("1 2\n2 3\0\0\0\n", 11),
       ":2: found a NUL byte, which a text file does not hold, in \"2 3\\x00\\x00\\x00\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.graph_text);
    write_file(output, "keep me\n");
    write_file(dir.file("g.txt"), c.graph_text);
    const RunResult run = run_quarn({"CIS", dir.file("g.txt"), output});
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "quarn: " + dir.file("g.txt") + c.error + "\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(read_file(output), "keep me\n");
  }
  const RunResult missing = run_quarn({"CIS", dir.file("none.txt"), output});
  EXPECT_EQ(missing.err, "quarn: " + dir.file("none.txt") + ": cannot open: No such file or directory\n");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(read_file(output), "keep me\n");
  const RunResult directory = run_quarn({"CIS", dir.path(), output});
  EXPECT_EQ(directory.err, "quarn: " + dir.path() + ": is a directory, expected a text file\n");
  EXPECT_EQ(directory.status, 1);
}

TEST(CisOutput, ErrorsWhereThePatternsCannotGo) {
  TempDir dir;
  write_file(dir.file("g.txt"), kCycle);
  write_file(dir.file("plain"), "");
  struct Case {
    std::string output;
    std::string error;
  };
  const Case cases[] = {
      {dir.path(), ": is a directory; OUTPUT_FILE must name a file"},
      {dir.file("missing/out.txt"), ": cannot create: No such file or directory"},
      {dir.file("plain/out.txt"), ": cannot create: Not a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    const RunResult run = run_quarn({"CIS", dir.file("g.txt"), c.output});
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "quarn: " + c.output + c.error + "\n");
    EXPECT_EQ(run.status, 1);
  }
}

TEST(CisOutput, SpecialFilesAreWrittenNeverDeleted) {
  TempDir dir;
  write_file(dir.file("g.txt"), kCycle);
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const RunResult run = run_shell("cat '" + fifo + "' > '" + dir.file("got") + "' & $QUARN CIS '" +
                                  dir.file("g.txt") + "' '" + fifo + "'; status=$?; wait; exit $status");
  EXPECT_EQ(run.out, "Patterns: 13\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(read_file(dir.file("got")), kCycleLines);
  EXPECT_EQ(stat_of(fifo).type, S_IFIFO);

  const std::string null_copy = dir.file("null");
  if (::mknod(null_copy.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
    GTEST_SKIP() << "cannot make device nodes here";
  const RunResult to_null = run_quarn({"CIS", dir.file("g.txt"), null_copy});
  EXPECT_EQ(to_null.out, "Patterns: 13\n");
  EXPECT_EQ(to_null.status, 0);
  EXPECT_EQ(stat_of(null_copy).type, S_IFCHR);
}

TEST(CisOutput, AFullDeviceIsAnError) {
  TempDir dir;
  write_file(dir.file("g.txt"), kCycle);
  const std::string full = dir.file("full");
  if (::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0)
    GTEST_SKIP() << "cannot make device nodes here";
  for (const std::string& command : {"$QUARN CIS '" + dir.file("g.txt") + "' '" + full + "'",
                                     "$QUARN CIS '" + dir.file("g.txt") + "' - > '" + full + "'"}) {
    SCOPED_TRACE(command);
    const RunResult run = run_shell(command);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("cannot write: No space left on device"), std::string::npos) << run.err;
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(stat_of(full).type, S_IFCHR);
  }
}

TEST(CisOutput, ClosedStandardOutputIsAnError) {
  TempDir dir;
  write_file(dir.file("g.txt"), kCycle);
  const RunResult run = run_shell("$QUARN CIS '" + dir.file("g.txt") + "' '" + dir.file("out.txt") + "' >&-");
  EXPECT_EQ(run.err, "quarn: standard output: cannot write: Bad file descriptor\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(read_file(dir.file("out.txt")), kCycleLines);  // the count line never lands in the file
}

// Both modes with an output of many lines: a CIS graph and an MCS pair of files.
struct ManyLines {
  std::string name;
  std::vector<std::string> args;  // before OUTPUT_FILE
};

std::vector<ManyLines> many_lines(const TempDir& dir) {
  std::string complete;  // K_15: 32,767 patterns, about 600 KB of lines
  for (int u = 1; u <= 15; ++u) {
    for (int v = u + 1; v <= 15; ++v) complete += std::to_string(u) + " " + std::to_string(v) + "\n";
  }
  write_file(dir.file("k15.txt"), complete);
  std::string ones;  // 60,000 nodes without edges: one pattern each, about 400 KB of lines
  for (int k = 0; k < 60000; ++k) ones += "1\n";
  write_file(dir.file("ones.txt"), ones);
  write_file(dir.file("empty.txt"), "");
  return {{"CIS", {"CIS", dir.file("k15.txt")}},
          {"MCS", {"MCS", dir.file("empty.txt"), dir.file("ones.txt"), "1", "0"}}};
}

std::string shell_words(const std::vector<std::string>& args) {
  std::string words;
  for (const std::string& arg : args) words += " '" + arg + "'";
  return words;
}

// The lines go to a temporary file, renamed over OUTPUT_FILE only when complete: a write that fails
// leaves the old file as it was (or no file at all) and no temporary file.
TEST(Output, AWriteErrorLeavesTheOldFileAsItWas) {
  TempDir dir;
  ASSERT_EQ(::symlink(dir.file("target.txt").c_str(), dir.file("dangling.txt").c_str()), 0);
  struct Case {
    std::string output;
    std::string note;
  };
  const Case cases[] = {{dir.file("out.txt"), "; " + dir.file("out.txt") + " was left as it was"},
                        {dir.file("dangling.txt"), "; no output file was created"}};
  for (const ManyLines& run_case : many_lines(dir)) {
    for (const Case& c : cases) {
      SCOPED_TRACE(run_case.name + " " + c.output);
      write_file(dir.file("out.txt"), "old");
      // A file-size limit of 512 bytes makes a write fail as a full disk would, with EFBIG.
      const RunResult run =
          run_shell("ulimit -f 1 && $QUARN" + shell_words(run_case.args) + " '" + c.output + "'");
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err, "quarn: " + c.output + ": cannot write: File too large" + c.note + "\n");
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(read_file(dir.file("out.txt")), "old");
      EXPECT_FALSE(stat_of(dir.file("target.txt")).exists);
      EXPECT_EQ(stat_of(dir.file("dangling.txt")).type, S_IFLNK);
      EXPECT_EQ(run_shell("ls -A '" + dir.path() + "' | grep -c '^\\.quarn-'").out, "0\n");
    }
  }
}

TEST(Output, APipeClosedEarlyEndsTheRunAtOnce) {
  TempDir dir;
  const std::string limit = ::access("/usr/bin/timeout", X_OK) == 0 ? "timeout 60 " : "";
  for (const ManyLines& run_case : many_lines(dir)) {
    // As the shell leaves it, a write to the closed pipe ends quarn by SIGPIPE; with SIGPIPE ignored
    // the write fails, and quarn says so in one line.
    struct Case {
      std::string signal_setting;
      int status;
      std::string err;
    };
    const Case cases[] = {{"", 128 + SIGPIPE, ""},
                          {"trap '' PIPE; ", 1, "quarn: standard output: cannot write: Broken pipe\n"}};
    for (const Case& c : cases) {
      SCOPED_TRACE(run_case.name + " " + c.signal_setting);
      const RunResult run =
          run_shell(c.signal_setting + "{ " + limit + "$QUARN" + shell_words(run_case.args) + " - 2>'" +
                    dir.file("err") + "'; echo $? >'" + dir.file("status") + "'; } | head -n 1");
      EXPECT_EQ(run.out, "1 \n");
      EXPECT_EQ(read_file(dir.file("status")), std::to_string(c.status) + "\n");
      EXPECT_EQ(read_file(dir.file("err")), c.err);
    }
  }
}

TEST(Input, AFifoClosedWithoutDataReadsAsAnEmptyFile) {
  TempDir dir;
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  write_file(dir.file("a.txt"), "1\n1\n");
  write_file(dir.file("g.txt"), "1 2\n");
  write_file(dir.file("empty.txt"), "");
  struct Case {
    std::vector<std::string> args;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {{"CIS", fifo, "-"}, "Patterns: 0\n", ""},
      {{"MCS", fifo, dir.file("a.txt"), "1", "1", "-"}, "1 \n2 \nPatterns: 2\n", ""},
      {{"MCS", dir.file("empty.txt"), fifo, "1", "1", "-"}, "Patterns: 0\n", ""},
      {{"MCS", dir.file("g.txt"), fifo, "1", "1", "-"},
       "",
       "quarn: " + dir.file("g.txt") +
           ":1: node number 2 is above 0, the number of lines of the attribute file " + fifo + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const RunResult run =
        run_shell(": >'" + fifo + "' & $QUARN" + shell_words(c.args) + "; status=$?; wait; exit $status");
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, c.err.empty() ? 0 : 1);
  }
}

TEST(CisLimits, DeepPatternsDoNotNeedALargeStack) {
  TempDir dir;
#ifdef QUARN_SANITIZED
  const int nodes = 3000;  // sanitizers need their own stack and run much slower
  const std::string limit = "";
#else
  const int nodes = 30000;
  const std::string limit = "ulimit -s 256 && ";
#endif
  std::string text;
  for (int i = 1; i < nodes; ++i) text += std::to_string(i) + " " + std::to_string(i + 1) + "\n";
  write_file(dir.file("path.txt"), text);
  const RunResult run = run_shell(limit + "$QUARN CIS '" + dir.file("path.txt") + "'");
  EXPECT_EQ(run.out, "Patterns: " + std::to_string(std::int64_t(nodes) * (nodes + 1) / 2) + "\n");
  EXPECT_EQ(run.status, 0);
}

TEST(CisLimits, NodeNumbersTooLargeForMemoryAreRefused) {
  TempDir dir;
  write_file(dir.file("g.txt"), "1 2\n\n1 2147483647\n");
  const RunResult run = run_quarn({"CIS", dir.file("g.txt")});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("quarn: " + dir.file("g.txt") + ":3: node number 2147483647 is too large", 0), 0u)
      << run.err;
  EXPECT_EQ(run.status, 1);
}

// Runs under an address-space limit (ulimit -v, in KiB) only outside the sanitizers, which reserve
// terabytes of address space for themselves.
#ifdef QUARN_SANITIZED
#define SKIP_UNDER_SANITIZERS() GTEST_SKIP() << "the sanitizers cannot run under an address-space limit"
#else
#define SKIP_UNDER_SANITIZERS() static_cast<void>(0)
#endif

// A seeded random graph of 30 nodes, each pair joined with probability 0.3, numbered from first:
// its dynamic program needs several MiB of states, its counting search a fraction of a second.
std::string dense_graph(int first) {
  std::mt19937 random(7);
  std::string text;
  for (int u = 0; u < 30; ++u) {
    for (int v = u + 1; v < 30; ++v) {
      if (std::uniform_int_distribution<int>(1, 10)(random) <= 3)
        text += std::to_string(first + u) + " " + std::to_string(first + v) + "\n";
    }
  }
  return text;
}

const std::string kGaveUpNote = "quarn: note: the count's dynamic program outgrew its memory (";

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Endless input of short lines: the edge list stops growing with a message before memory runs out,
// not when the system kills the process.
TEST(CisLimits, EndlessInputIsRefusedBeforeTheEdgesOutgrowMemory) {
  SKIP_UNDER_SANITIZERS();
  const RunResult run = run_shell("ulimit -v 300000 && yes '1 2' | $QUARN CIS - /dev/null");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("quarn: standard input:", 0), 0u) << run.err;
  EXPECT_NE(run.err.find(": the graph would need more than "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(" edges so far, and "), std::string::npos) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_EQ(run.status, 1);
}

// Under an address-space limit the dynamic program gives up within its budget and the search counts
// the component: the same count as without the limit, and one note for the whole run, which --quiet
// silences.
TEST(CisLimits, CountingFallsBackToTheSearchWithinAnAddressSpaceLimit) {
  SKIP_UNDER_SANITIZERS();
  TempDir dir;
  write_file(dir.file("one.txt"), dense_graph(1));
  write_file(dir.file("two.txt"), dense_graph(1) + dense_graph(31));
  struct Case {
    std::string graph;
    std::string limit;
    std::string option;
    std::size_t notes;
  };
  const Case cases[] = {
      {"one.txt", "ulimit -v 40000 && ", "", 1},
      {"one.txt", "ulimit -v 40000 && ", " --quiet", 0},
      {"two.txt", "ulimit -v 40000 && ", "", 1},  // two components give up, one note
  };
  const RunResult plain = run_quarn({"CIS", dir.file("one.txt")});
  ASSERT_EQ(plain.status, 0);
  EXPECT_EQ(plain.err, "");
  ASSERT_EQ(plain.out.rfind("Patterns: ", 0), 0u);
  const std::string count = plain.out.substr(10, plain.out.size() - 11);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit + c.graph + c.option);
    const RunResult run = run_shell(c.limit + "$QUARN CIS '" + dir.file(c.graph) + "'" + c.option);
    const std::string expected = c.graph == "one.txt" ? count : std::to_string(2 * std::stoull(count));
    EXPECT_EQ(run.out, "Patterns: " + expected + "\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(occurrences(run.err, kGaveUpNote), c.notes) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), std::ptrdiff_t(c.notes)) << run.err;
    if (c.notes != 0) {
      EXPECT_NE(run.err.find("which can take very long"), std::string::npos) << run.err;
    }
  }
}

// The tables of a node number the address-space limit cannot hold are refused with the message,
// counting or listing, rather than ending the run with a failed allocation.
TEST(CisLimits, NodeNumbersTooLargeForAnAddressSpaceLimitAreRefused) {
  SKIP_UNDER_SANITIZERS();
  TempDir dir;
  write_file(dir.file("g.txt"), "1 2\n1 5000000\n");
  for (const std::string& output : std::vector<std::string>{"", " '" + dir.file("out.txt") + "'"}) {
    SCOPED_TRACE(output);
    const RunResult run = run_shell("ulimit -v 100000 && $QUARN CIS '" + dir.file("g.txt") + "'" + output);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("quarn: " + dir.file("g.txt") +
                                ":2: node number 5000000 is too large: the tables "
                                "for the nodes 0 to 5000000 would need ",
                            0),
              0u)
        << run.err;
    EXPECT_NE(run.err.find(" MiB is available\n"), std::string::npos) << run.err;
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.txt")));
  }
  // Without the limit the same graph runs.
  EXPECT_EQ(run_quarn({"CIS", dir.file("g.txt")}).status, 0);
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// MCS mode

namespace {

const std::string kMcsGraph = std::string(QUARN_SOURCE_DIR) + "/examples/mcs-graph.txt";
const std::string kMcsAttributes = std::string(QUARN_SOURCE_DIR) + "/examples/mcs-attributes.txt";

TEST(Mcs, WorkedExampleWithEachSupportAndSize) {
  struct Case {
    std::string min_sup;
    std::string min_graph_size;
    std::string lines;
  };
  const std::string sup1 = "1 2 3 4 \n1 2 4 5 \n";
  const std::string sup2 = "1 2 4 \n2 3 4 \n";
  const std::string sup3 = "2 4 \n";
  const Case cases[] = {
      {"1", "-1", ""},          {"1", "0", sup1},      {"1", "1", sup1}, {"1", "2", sup1}, {"1", "3", sup1},
      {"1", "4", sup1},         {"1", "5", ""},        {"2", "-1", ""},  {"2", "0", sup2}, {"2", "1", sup2},
      {"2", "2", sup2},         {"2", "3", sup2},      {"2", "4", ""},   {"3", "-1", ""},  {"3", "0", sup3},
      {"3", "1", sup3},         {"3", "2", sup3},      {"3", "3", ""},   {"3", "4", ""},   {"4", "0", ""},
      {"2", "-2147483648", ""}, {" +2", "2abc", sup2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("MIN_SUP " + c.min_sup + ", MIN_GRAPH_SIZE " + c.min_graph_size);
    const std::size_t count = std::size_t(std::count(c.lines.begin(), c.lines.end(), '\n'));
    const std::string count_line = "Patterns: " + std::to_string(count) + "\n";
    const RunResult console = run_quarn({"MCS", kMcsGraph, kMcsAttributes, c.min_sup, c.min_graph_size, "-"});
    EXPECT_EQ(console.out, c.lines + count_line);
    EXPECT_EQ(console.err, "");
    EXPECT_EQ(console.status, 0);
    const RunResult counted = run_quarn({"MCS", kMcsGraph, kMcsAttributes, c.min_sup, c.min_graph_size});
    EXPECT_EQ(counted.out, count_line);
    EXPECT_EQ(counted.status, 0);
    TempDir dir;
    const RunResult filed =
        run_quarn({"MCS", kMcsGraph, kMcsAttributes, c.min_sup, c.min_graph_size, dir.file("out.txt")});
    EXPECT_EQ(filed.out, count_line);
    EXPECT_EQ(read_file(dir.file("out.txt")), c.lines);
  }
}

TEST(Mcs, SizesButNoSizeBounds) {
  TempDir dir;
  const RunResult console = run_quarn({"MCS", kMcsGraph, kMcsAttributes, "1", "1", "-", "--by-size"});
  EXPECT_EQ(console.out, "1 2 3 4 \n1 2 4 5 \nSize 4: 2\nPatterns: 2\n");
  EXPECT_EQ(console.status, 0);
  const RunResult counted = run_quarn({"--by-size", "MCS", kMcsGraph, kMcsAttributes, "3", "1"});
  EXPECT_EQ(counted.out, "Size 2: 1\nPatterns: 1\n");
  const RunResult none = run_quarn({"--by-size", "MCS", kMcsGraph, kMcsAttributes, "4", "1"});
  EXPECT_EQ(none.out, "Patterns: 0\n");

  write_file(dir.file("out.txt"), "old");
  struct Case {
    std::vector<std::string> options;
    std::string err;
  };
  const Case cases[] = {
      {{"--min-size", "2"},
       "quarn: --min-size applies to CIS only; MCS takes the least size of a pattern as MIN_GRAPH_SIZE\n"},
      {{"--max-size=3"},
       "quarn: --max-size applies to CIS only; MCS takes the least size of a pattern as MIN_GRAPH_SIZE\n"},
      {{"--max-size=3", "--min-size=1", "--by-size"},
       "quarn: --min-size and --max-size apply to CIS only; MCS takes the least size of a pattern as "
       "MIN_GRAPH_SIZE\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.options));
    std::vector<std::string> args = {"MCS", kMcsGraph, kMcsAttributes, "1", "1", dir.file("out.txt")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const RunResult run = run_quarn(args);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(read_file(dir.file("out.txt")), "old");
  }
}

TEST(Mcs, BadArgumentsAndInputsAreOneLineOnStandardError) {
  TempDir dir;
  const std::string g = dir.file("g.txt");
  const std::string a = dir.file("a.txt");
  write_file(g, "1 2\n2 3\n");
  write_file(a, "1 1\n1 1\n1 0\n");
  write_file(dir.file("colours.txt"), "colour size\n1 1\n1 1\n1 0\n");
  write_file(dir.file("short.txt"), "1 1\n1 # one\n1 0\n");
  write_file(dir.file("commas.txt"), "1 1\n1,1\n1 0\n");
  write_file(dir.file("two.txt"), "1 1\n1 2\n1 0\n");
  write_file(dir.file("far.txt"), "1 2\n\n2 4\n");
  write_file(dir.file("bad-edge.txt"), "1 2\n2 x\n");
  write_file(dir.file("cut.txt"), "1 1\n1 1\n1");  // the file ends within a row
  write_file(dir.file("nul.txt"), std::string("1 1\n1 \0 1\n1 0\n", 14));
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"MCS", g, a, "abc", "1"}, "quarn: MIN_SUP must be an integer, got \"abc\"\n"},
      {{"MCS", g, a, "", "1"}, "quarn: MIN_SUP must be an integer, got \"\"\n"},
      {{"MCS", g, a, "1", "x3"}, "quarn: MIN_GRAPH_SIZE must be an integer, got \"x3\"\n"},
      {{"MCS", g, a, "2147483648", "1"},
       "quarn: MIN_SUP must be an integer from -2147483648 to 2147483647, got \"2147483648\"\n"},
      {{"MCS", g, a, "1", "-2147483649"},
       "quarn: MIN_GRAPH_SIZE must be an integer from -2147483648 to 2147483647, got \"-2147483649\"\n"},
      {{"MCS", g, dir.file("missing.txt"), "1", "1"},
       "quarn: " + dir.file("missing.txt") + ": cannot open: No such file or directory\n"},
      {{"MCS", dir.file("missing.txt"), a, "1", "1"},
       "quarn: " + dir.file("missing.txt") + ": cannot open: No such file or directory\n"},
      {{"MCS", g, dir.file("colours.txt"), "1", "1"},
       "quarn: " + dir.file("colours.txt") + ":1: expected attribute values 0 or 1, found \"colour size\"\n"},
      {{"MCS", g, dir.file("short.txt"), "1", "1"},
       "quarn: " + dir.file("short.txt") +
           ":2: expected 2 attribute values, as on line 1, found 1 in \"1 # one\"\n"},
      {{"MCS", g, dir.file("commas.txt"), "1", "1"},
       "quarn: " + dir.file("commas.txt") + ":2: attribute values must be 0 or 1, found \"1,1\"\n"},
      {{"MCS", g, dir.file("two.txt"), "1", "1"},
       "quarn: " + dir.file("two.txt") + ":2: attribute values must be 0 or 1, found \"2\"\n"},
      {{"MCS", dir.file("far.txt"), a, "1", "1"},
       "quarn: " + dir.file("far.txt") +
           ":3: node number 4 is above 3, the number of lines of the attribute file " + a + "\n"},
      {{"MCS", g, dir.file("cut.txt"), "1", "1"},
       "quarn: " + dir.file("cut.txt") + ":3: expected 2 attribute values, as on line 1, found 1 in \"1\"\n"},
      {{"MCS", g, dir.file("nul.txt"), "1", "1"},
       "quarn: " + dir.file("nul.txt") +
           ":2: found a NUL byte, which a text file does not hold, in \"1 \\x00 1\"\n"},
      {{"MCS", dir.file("bad-edge.txt"), a, "1", "1"},
       "quarn: " + dir.file("bad-edge.txt") + ":2: expected two node numbers, found \"2 x\"\n"},
      {{"MCS", g, a, "1", "1", dir.path()},
       "quarn: " + dir.path() + ": is a directory; OUTPUT_FILE must name a file\n"},
      {{"MCS", g, a, "1", "1", g},
       "quarn: " + g + ": is the same file as the input " + g +
           "; writing patterns to it would destroy it\n"},
      {{"MCS", g, a, "1", "1", dir.path() + "/./a.txt"},
       "quarn: " + dir.path() + "/./a.txt: is the same file as the input " + a +
           "; writing patterns to it would destroy it\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    write_file(dir.file("out.txt"), "old");
    std::vector<std::string> args = c.args;
    if (args.size() == 5) args.push_back(dir.file("out.txt"));
    const RunResult run = run_quarn(args);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(read_file(dir.file("out.txt")), "old");  // nothing touched before the inputs were checked
  }
  EXPECT_EQ(read_file(g), "1 2\n2 3\n");
  EXPECT_EQ(read_file(a), "1 1\n1 1\n1 0\n");
}

TEST(Mcs, DropsEdgesOfNodeZeroSelfLoopsAndRepeatsAndReadsBlankRowsAsZeros) {
  TempDir dir;
  const std::string a = dir.file("a.txt");
  write_file(a, "1 1 0\n1 1 1\n0 1 1\n1 1 1\n1 0 0\n");
  struct Case {
    std::string edges;
    std::string min_sup;
    std::string out;
  };
  const Case cases[] = {
      {"1 2\n2 3\n3 4\n1 4\n4 5\n2 4\n", "2", "1 2 4 \n2 3 4 \nPatterns: 2\n"},
      {"2 1\n1 2\n2 3\n3 3\n4 3\n1 4\n4 4\n4 5\n2 4\n0 2\n4 0\n4 2\n", "2", "1 2 4 \n2 3 4 \nPatterns: 2\n"},
      {"0 1\n0 2\n0 3\n0 4\n0 5\n", "0", "1 \n2 \n3 \n4 \n5 \nPatterns: 5\n"},
      {"0 1\n0 2\n0 3\n0 4\n0 5\n", "-3", "1 \n2 \n3 \n4 \n5 \nPatterns: 5\n"},
      {"", "3", "2 \n4 \nPatterns: 2\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.edges + " MIN_SUP " + c.min_sup);
    write_file(dir.file("g.txt"), c.edges);
    const RunResult run = run_quarn({"MCS", dir.file("g.txt"), a, c.min_sup, "1", "-"});
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.status, 0);
  }
  // Blank rows with MIN_SUP 0: every node qualifies, so the connected components come out.
  write_file(dir.file("blank.txt"), "1 0 1\n\n0 1 0\n\n");
  write_file(dir.file("g.txt"), "1 2\n2 3\n");
  const RunResult run = run_quarn({"MCS", dir.file("g.txt"), dir.file("blank.txt"), "0", "0", "-"});
  EXPECT_EQ(run.out, "1 2 3 \n4 \nPatterns: 2\n");
  const RunResult none = run_quarn({"MCS", dir.file("g.txt"), dir.file("blank.txt"), "1", "0", "-"});
  EXPECT_EQ(none.out, "1 \n3 \nPatterns: 2\n");
}

// Rows of 10,000 attributes: a path 1 - 2 - 3 whose rows hold ones in columns 0 to 5999, 0 to 9999
// and 4000 to 9999. Nodes 1 and 3 share 2000 attributes; the last column sits in a part-filled word.
TEST(Mcs, RowsOfTenThousandAttributes) {
  TempDir dir;
  std::string rows;
  for (const auto& [first, last] : {std::pair{0, 5999}, std::pair{0, 9999}, std::pair{4000, 9999}}) {
    for (int j = 0; j < 10000; ++j) rows += j >= first && j <= last ? "1 " : "0 ";
    rows += "\n";
  }
  write_file(dir.file("a.txt"), rows);
  write_file(dir.file("g.txt"), "1 2\n3 2\n");
  struct Case {
    std::string min_sup;
    std::string out;
  };
  const Case cases[] = {
      {"2000", "1 2 3 \nPatterns: 1\n"},     {"2001", "1 2 \n2 3 \nPatterns: 2\n"},
      {"6000", "1 2 \n2 3 \nPatterns: 2\n"}, {"6001", "2 \nPatterns: 1\n"},
      {"10000", "2 \nPatterns: 1\n"},        {"10001", "Patterns: 0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("MIN_SUP " + c.min_sup);
    const RunResult run = run_quarn({"MCS", dir.file("g.txt"), dir.file("a.txt"), c.min_sup, "1", "-"});
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
  }
}

// A seeded sparse random graph of n nodes and 2n edge lines, every node with the one attribute: each
// connected component is one pattern, reported from its smallest node, and the search from the
// smallest node of the largest component goes thousands of nodes deep with a wide frontier. lines
// are the components found by union-find, as the output must list them.
struct OneAttributeGraph {
  std::string edges;
  std::string rows;
  std::string lines;
};

OneAttributeGraph one_attribute_sparse_graph(int n) {
  std::mt19937 random(11);
  std::uniform_int_distribution<int> node(1, n);
  std::vector<int> parent(std::size_t(n) + 1);
  std::iota(parent.begin(), parent.end(), 0);
  auto find = [&](int u) {
    while (parent[std::size_t(u)] != u)
      u = parent[std::size_t(u)] = parent[std::size_t(parent[std::size_t(u)])];
    return u;
  };
  OneAttributeGraph g;
  for (int i = 0; i < 2 * n; ++i) {
    const int u = node(random);
    const int v = node(random);
    g.edges += std::to_string(u) + " " + std::to_string(v) + "\n";
    parent[std::size_t(find(u))] = find(v);
  }
  std::vector<std::vector<int>> members(std::size_t(n) + 1);
  std::vector<int> order;  // components by their smallest node
  for (int u = 1; u <= n; ++u) {
    auto& component = members[std::size_t(find(u))];
    if (component.empty()) order.push_back(find(u));
    component.push_back(u);
    g.rows += "1\n";
  }
  for (const int c : order) {
    for (const int u : members[std::size_t(c)]) g.lines += std::to_string(u) + " ";
    g.lines += "\n";
  }
  return g;
}

// The chain of patterns shares its neighbour groups, so a search thousands of nodes deep over a wide
// frontier runs in a few MiB: within an address-space limit far below what a copy of the groups per
// depth took (gigabytes on this graph).
TEST(McsLimits, ADeepSearchRunsInMemoryLinearInTheGraph) {
  TempDir dir;
  const OneAttributeGraph g = one_attribute_sparse_graph(20000);
  write_file(dir.file("g.txt"), g.edges);
  write_file(dir.file("a.txt"), g.rows);
#ifdef QUARN_SANITIZED
  const std::string limit = "";  // the sanitizers cannot run under an address-space limit
#else
  const std::string limit = "ulimit -v 100000 && ";
#endif
  const RunResult run = run_shell(limit + "$QUARN MCS '" + dir.file("g.txt") + "' '" + dir.file("a.txt") +
                                  "' 1 1 '" + dir.file("out.txt") + "'");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "Patterns: " + std::to_string(std::count(g.lines.begin(), g.lines.end(), '\n')) + "\n");
  EXPECT_TRUE(read_file(dir.file("out.txt")) == g.lines);  // not printed: 100 KiB
}

// The check before the output is opened counts the search's own memory besides the graph's blocks:
// under a limit that the blocks of a path of 200,000 nodes fit in but not its search, the run is
// refused with the message and leaves the output file alone; under a larger one it runs.
TEST(McsLimits, SearchTablesBeyondAnAddressSpaceLimitAreRefused) {
  SKIP_UNDER_SANITIZERS();
  TempDir dir;
  constexpr int kNodes = 200000;
  std::string edges;
  std::string rows;
  std::string line;
  for (int u = 1; u <= kNodes; ++u) {
    if (u < kNodes) edges += std::to_string(u) + " " + std::to_string(u + 1) + "\n";
    rows += "1\n";
    line += std::to_string(u) + " ";
  }
  write_file(dir.file("g.txt"), edges);
  write_file(dir.file("a.txt"), rows);
  const std::string command = "$QUARN MCS '" + dir.file("g.txt") + "' '" + dir.file("a.txt") + "' 1 1 '" +
                              dir.file("out.txt") + "' --threads 1";
  write_file(dir.file("out.txt"), "old");
  const RunResult refused = run_shell("ulimit -v 30000 && " + command);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err.rfind("quarn: " + dir.file("g.txt") + ": the search tables for this graph and " +
                                  dir.file("a.txt") + " would need ",
                              0),
            0u)
      << refused.err;
  EXPECT_NE(refused.err.find(" is available\n"), std::string::npos) << refused.err;
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(read_file(dir.file("out.txt")), "old");
  const RunResult run = run_shell("ulimit -v 60000 && " + command);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "Patterns: 1\n");
  EXPECT_TRUE(read_file(dir.file("out.txt")) == line + "\n");
}

}  // namespace
