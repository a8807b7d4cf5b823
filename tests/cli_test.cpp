// The real binary: usage messages, exit statuses, errors, and where the output goes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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

TEST(CisOutput, RefusesToOverwriteTheGraphFile) {
  TempDir dir;
  const std::string graph = dir.file("g.txt");
  write_file(graph, kCycle);
  ASSERT_EQ(::symlink(graph.c_str(), dir.file("link.txt").c_str()), 0);
  ASSERT_EQ(::link(graph.c_str(), dir.file("hard.txt").c_str()), 0);
  for (const std::string& output : {graph, dir.path() + "/./g.txt", dir.path() + "/../" +
                                    dir.path().substr(dir.path().rfind('/') + 1) + "/g.txt",
                                    dir.file("link.txt"), dir.file("hard.txt")}) {
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
  if (::mknod(null_copy.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) GTEST_SKIP() << "cannot make device nodes here";
  const RunResult to_null = run_quarn({"CIS", dir.file("g.txt"), null_copy});
  EXPECT_EQ(to_null.out, "Patterns: 13\n");
  EXPECT_EQ(to_null.status, 0);
  EXPECT_EQ(stat_of(null_copy).type, S_IFCHR);
}

TEST(CisOutput, AFullDeviceIsAnError) {
  TempDir dir;
  write_file(dir.file("g.txt"), kCycle);
  const std::string full = dir.file("full");
  if (::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) GTEST_SKIP() << "cannot make device nodes here";
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
  const RunResult run =
      run_shell("$QUARN CIS '" + dir.file("g.txt") + "' '" + dir.file("out.txt") + "' >&-");
  EXPECT_EQ(run.err, "quarn: standard output: cannot write: Bad file descriptor\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(read_file(dir.file("out.txt")), kCycleLines);  // the count line never lands in the file
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

}  // namespace
