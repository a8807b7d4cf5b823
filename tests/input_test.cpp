// The real binary's inputs: standard input, pipes and FIFOs, compressed files, long lines, line ends,
// NUL bytes, numbers run into other characters, excerpts in messages, and the notes on node numbers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "test_support.h"

namespace {

const std::string kCycle = "1 3\n1 2\n2 4\n3 4\n";
const std::string kCycleLines =
    "1 \n1 3 \n1 3 4 \n1 2 \n1 2 3 \n1 2 3 4 \n1 2 4 \n2 \n2 4 \n2 4 3 \n3 \n3 4 \n4 \n";
const std::string kMcsGraph = "1 2\n2 3\n3 4\n1 4\n4 5\n2 4\n";
const std::string kMcsAttributes = "1 1 0\n1 1 1\n0 1 1\n1 1 1\n1 0 0\n";
const std::string kMcsLines = "1 2 4 \n2 3 4 \n";

std::string quote(const std::string& path) {
  return "'" + path + "'";
}

std::string replaced(std::string text, char from, const std::string& to) {
  std::string out;
  for (const char c : text) {
    if (c == from) {
      out += to;
    } else {
      out += c;
    }
  }
  return out;
}

// Runs command with the FIFO at fifo fed from the file source by a background writer.
RunResult run_with_fifo(const std::string& fifo, const std::string& source, const std::string& command) {
  ::unlink(fifo.c_str());
  if (::mkfifo(fifo.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
  return run_shell("cat " + quote(source) + " > " + quote(fifo) + " & " + command +
                   "; status=$?; wait; exit $status");
}

// The same text through every way in: the file, standard input from a pipe ("-" and /dev/stdin),
// standard input from a redirection, and a FIFO.
std::vector<std::pair<std::string, RunResult>> every_way_in(const TempDir& dir, const std::string& file,
                                                            const std::string& after = " -") {
  std::vector<std::pair<std::string, RunResult>> runs;
  runs.emplace_back("file", run_shell("$QUARN CIS " + quote(file) + after));
  runs.emplace_back("pipe", run_shell("cat " + quote(file) + " | $QUARN CIS -" + after));
  runs.emplace_back("/dev/stdin", run_shell("cat " + quote(file) + " | $QUARN CIS /dev/stdin" + after));
  runs.emplace_back("redirection", run_shell("$QUARN CIS -" + after + " < " + quote(file)));
  runs.emplace_back("fifo",
                    run_with_fifo(dir.file("fifo"), file, "$QUARN CIS " + quote(dir.file("fifo")) + after));
  return runs;
}

// ---------------------------------------------------------------------------------------------------
// Line ends and long lines

TEST(Input, LongLinesReadAlikeFromFilesPipesAndFifos) {
  TempDir dir;
  const std::string long_tail(20'000'000, 'x');
  write_file(dir.file("g.txt"), "1 2 " + long_tail + "\r2 3\r\n# " + std::string(5'000'000, ' ') + "\n3 4\n");
  for (const auto& [way, run] : every_way_in(dir, dir.file("g.txt"), "")) {
    SCOPED_TRACE(way);
    EXPECT_EQ(run.out, "Patterns: 10\n");  // the path 1 - 2 - 3 - 4
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
  }
}

TEST(Input, CarriageReturnOnlyFilesReadAsLineFeedFiles) {
  TempDir dir;
  for (const std::string& end : {std::string("\r"), std::string("\r\n")}) {
    SCOPED_TRACE(testing::PrintToString(end));
    write_file(dir.file("g.txt"), replaced(kCycle, '\n', end));
    for (const auto& [way, run] : every_way_in(dir, dir.file("g.txt"))) {
      SCOPED_TRACE(way);
      EXPECT_EQ(run.out, kCycleLines + "Patterns: 13\n");
      EXPECT_EQ(run.status, 0);
    }
    write_file(dir.file("mg.txt"), replaced(kMcsGraph, '\n', end));
    write_file(dir.file("ma.txt"), replaced(kMcsAttributes, '\n', end));
    const RunResult run = run_shell("cat " + quote(dir.file("ma.txt")) + " | $QUARN MCS " +
                                    quote(dir.file("mg.txt")) + " - 2 2 -");
    EXPECT_EQ(run.out, kMcsLines + "Patterns: 2\n");
    EXPECT_EQ(run.status, 0);
  }
}

// A NUL byte ends the run when it is read: /dev/zero, which never ends a line, gives the message at
// once. The address-space limit turns the old unbounded growth into a failure of its own.
TEST(Input, ANulByteEndsTheRunAsSoonAsItIsRead) {
  std::string zeros;
  for (int i = 0; i < 60; ++i) zeros += "\\x00";
#ifdef QUARN_SANITIZED
  const std::string limit = "";  // the sanitizers reserve more address space than any limit allows
#else
  const std::string limit = "ulimit -v 1000000; ";
#endif
  TempDir dir;
  write_file(dir.file("g.txt"), "1 2\n");
  struct Case {
    std::string command;
    std::string err;
  };
  const Case cases[] = {
      {"$QUARN CIS /dev/zero",
       "quarn: /dev/zero:1: found a NUL byte, which a text file does not hold, in \"" + zeros + "\"...\n"},
      {"$QUARN MCS " + quote(dir.file("g.txt")) + " /dev/zero 1 1",
       "quarn: /dev/zero:1: found a NUL byte, which a text file does not hold, in \"" + zeros + "\"...\n"},
      {"{ printf '1 2\\n3 4'; cat /dev/zero; } | $QUARN CIS -",
       "quarn: standard input:2: found a NUL byte, which a text file does not hold, in \"3 4" +
           zeros.substr(0, 57 * 4) + "\"...\n"},
      {"printf '1 2\\n# \\0\\n' | $QUARN CIS - -",
       "quarn: standard input:2: found a NUL byte, which a text file does not hold, in \"# \\x00\"\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    const RunResult run = run_shell(limit + c.command);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, 1);
  }
}

// A line without end is refused before it takes the memory: under an address-space limit of about
// 400 MB the line may take a quarter of what is left.
TEST(Input, ALineTooLongForTheMemoryIsAnError) {
#ifdef QUARN_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#endif
  TempDir dir;
  write_file(dir.file("g.txt"), "1 2\n");
  for (const std::string& command :
       {std::string("yes 1 | tr -d '\\n' | $QUARN CIS -"),
        "{ printf '1 1\\n'; yes 1 | tr -d '\\n'; } | $QUARN MCS " + quote(dir.file("g.txt")) + " - 1 1"}) {
    SCOPED_TRACE(command);
    const RunResult run = run_shell("ulimit -v 400000; " + command);
    const std::string line = command.find("MCS") != std::string::npos ? "2" : "1";
    EXPECT_EQ(run.err.rfind("quarn: standard input:" + line + ": the line is longer than ", 0), 0u)
        << run.err;
    EXPECT_NE(
        run.err.find(" MiB: reading more of it would take more than a quarter of the memory available ("),
        std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.status, 1);
  }
}

// ---------------------------------------------------------------------------------------------------
// Numbers

TEST(Input, ANumberEndsAtABlankOrTheLineEnd) {
  TempDir dir;
  write_file(dir.file("g.txt"), "1 2\n2 3\n");
  struct Case {
    std::string edges;       // a CIS run on e.txt when not empty
    std::string attributes;  // otherwise an MCS run on g.txt and these rows in a.txt
    std::string out;
    std::string err;  // after "quarn: "
  };
  const Case cases[] = {
      {"1 2\n1 2.5\n", "", "", "e.txt:2: expected two node numbers, found \"1 2.5\""},
      {"1 2,\n", "", "", "e.txt:1: expected two node numbers, found \"1 2,\""},
      {"1 2;3\n", "", "", "e.txt:1: expected two node numbers, found \"1 2;3\""},
      {"1 2 0.5\n2 3 1.5\n", "", "Patterns: 6\n", ""},
      {"1 2\t# a remark\n2 3 , 4\n", "", "Patterns: 6\n", ""},
      {"", "1 0 1\n1,0,1\n", "", "a.txt:2: attribute values must be 0 or 1, found \"1,0,1\""},
      {"", "1.0 0.0 1.0\n", "", "a.txt:1: attribute values must be 0 or 1, found \"1.0\""},
      {"", "1x 0\n1 0\n", "", "a.txt:1: attribute values must be 0 or 1, found \"1x\""},
      {"", "1 0 1 # note\n0 1 1 # other\n1 1 0\t#\n", "1 2 \n2 3 \nPatterns: 2\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.edges + "|" + c.attributes);
    RunResult run;
    if (!c.edges.empty()) {
      write_file(dir.file("e.txt"), c.edges);
      run = run_shell("cd " + quote(dir.path()) + " && $QUARN CIS e.txt");
    } else {
      write_file(dir.file("a.txt"), c.attributes);
      run = run_shell("cd " + quote(dir.path()) + " && $QUARN MCS g.txt a.txt 1 2 -");
    }
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err.empty() ? "" : "quarn: " + c.err + "\n");
    EXPECT_EQ(run.status, c.err.empty() ? 0 : 1);
  }
}

TEST(Input, ExcerptsEscapeBytesOutsidePrintableAscii) {
  TempDir dir;
  write_file(dir.file("g.txt"), "1 2\n1 caf\xC3\xA9\x1B[31m\n");
  const RunResult run = run_quarn({"CIS", dir.file("g.txt")});
  EXPECT_EQ(run.err, "quarn: " + dir.file("g.txt") +
                         ":2: expected two node numbers, found \"1 caf\\xc3\\xa9\\x1b[31m\"\n");
  EXPECT_EQ(run.status, 1);
}

// ---------------------------------------------------------------------------------------------------
// Standard input

TEST(StandardInput, EitherInputMayBeADash) {
  TempDir dir;
  write_file(dir.file("g.txt"), kCycle);
  write_file(dir.file("mg.txt"), kMcsGraph);
  write_file(dir.file("ma.txt"), kMcsAttributes);
  const std::string g = quote(dir.file("g.txt"));
  const std::string mg = quote(dir.file("mg.txt"));
  const std::string ma = quote(dir.file("ma.txt"));
  struct Case {
    std::string command;
    std::string out;
  };
  const Case cases[] = {
      {"cat " + g + " | $QUARN CIS - -", kCycleLines + "Patterns: 13\n"},
      {"cat " + g + " | $QUARN CIS -", "Patterns: 13\n"},
      {"$QUARN CIS - - < " + g, kCycleLines + "Patterns: 13\n"},
      {"cat " + g + " | $QUARN CIS /dev/stdin -", kCycleLines + "Patterns: 13\n"},
      {"bash -c '\"$0\" CIS <(cat \"$1\") -' \"$QUARN\" " + g, kCycleLines + "Patterns: 13\n"},
      {"cat " + mg + " | $QUARN MCS - " + ma + " 2 2 -", kMcsLines + "Patterns: 2\n"},
      {"cat " + ma + " | $QUARN MCS " + mg + " - 2 2 -", kMcsLines + "Patterns: 2\n"},
      {"bash -c '\"$0\" MCS <(cat \"$1\") <(cat \"$2\") 2 2 -' \"$QUARN\" " + mg + " " + ma,
       kMcsLines + "Patterns: 2\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    const RunResult run = run_shell(c.command);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
  }
}

TEST(StandardInput, MessagesNameItAndBothInputsCannotBeIt) {
  TempDir dir;
  write_file(dir.file("a.txt"), "1\n1\n");
  struct Case {
    std::string command;
    std::string err;
  };
  const Case cases[] = {
      {"printf '1 2\\n2 x\\n' | $QUARN CIS -",
       "quarn: standard input:2: expected two node numbers, found \"2 x\"\n"},
      {"printf '1 5\\n' | $QUARN MCS - " + quote(dir.file("a.txt")) + " 1 1",
       "quarn: standard input:1: node number 5 is above 2, the number of lines of the attribute file " +
           dir.file("a.txt") + "\n"},
      {"printf '1 5\\n' > " + quote(dir.file("g.txt")) + "; printf '1\\n1\\n' | $QUARN MCS " +
           quote(dir.file("g.txt")) + " - 1 1",
       "quarn: " + dir.file("g.txt") +
           ":1: node number 5 is above 2, the number of lines of the attribute file standard input\n"},
      {"$QUARN MCS - - 1 1 < /dev/null",
       "quarn: GRAPH_INPUT_FILE and ATTRIBUTES_INPUT_FILE are both \"-\"; standard input can hold only one "
       "of "
       "them\n"},
      {"$QUARN CIS - < " + quote(dir.path()),
       "quarn: standard input: is a directory, expected a text file\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    const RunResult run = run_shell(c.command);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, 1);
  }
}

// OUTPUT_FILE "./-" is a file named "-", not standard input: with the graph on standard input it is
// written. Standard input redirected from OUTPUT_FILE itself is refused, as any input is.
TEST(StandardInput, TheSameFileCheckKnowsWhatADashIs) {
  TempDir dir;
  write_file(dir.file("g.txt"), kCycle);
  write_file(dir.file("-"), "old\n");
  RunResult run = run_shell("cd " + quote(dir.path()) + " && $QUARN CIS - ./- < g.txt");
  EXPECT_EQ(run.out, "Patterns: 13\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(read_file(dir.file("-")), kCycleLines);

  run = run_shell("cd " + quote(dir.path()) + " && $QUARN CIS - g.txt < g.txt");
  EXPECT_EQ(run.err,
            "quarn: g.txt: is the same file as standard input; writing patterns to it would destroy it\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(read_file(dir.file("g.txt")), kCycle);

  run = run_shell("cd " + quote(dir.path()) + " && cat g.txt | $QUARN CIS - out.txt");
  EXPECT_EQ(run.out, "Patterns: 13\n");
  EXPECT_EQ(read_file(dir.file("out.txt")), kCycleLines);
}

// ---------------------------------------------------------------------------------------------------
// Compressed input

TEST(Compressed, GzipAndZstdFilesReadAsTheTextTheyHold) {
  TempDir dir;
  const std::string first = kCycle.substr(0, 8);  // "1 3\n1 2\n"
  const std::string rest = kCycle.substr(8);
  struct Case {
    std::string name;
    std::string bytes;
  };
  const Case cases[] = {
      {"g.gz", gzip_text(kCycle)},
      {"g.zst", zstd_text(kCycle)},
      {"members.gz", gzip_text(first) + gzip_text(rest)},
      {"frames.zst", zstd_text(first) + zstd_text("") + zstd_text(rest)},
      {"named.txt", gzip_text("\xEF\xBB\xBF" + replaced(kCycle, '\n', "\r\n"))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir.file(c.name), c.bytes);
    for (const auto& [way, run] : every_way_in(dir, dir.file(c.name))) {
      SCOPED_TRACE(way);
      EXPECT_EQ(run.out, kCycleLines + "Patterns: 13\n");
      EXPECT_EQ(run.err, "");
      EXPECT_EQ(run.status, 0);
    }
  }
  write_file(dir.file("mg.zst"), zstd_text(kMcsGraph));
  write_file(dir.file("ma.gz"), gzip_text(kMcsAttributes));
  const RunResult run = run_quarn({"MCS", dir.file("mg.zst"), dir.file("ma.gz"), "2", "2", "-"});
  EXPECT_EQ(run.out, kMcsLines + "Patterns: 2\n");
  EXPECT_EQ(run.status, 0);
}

TEST(Compressed, ErrorsNameTheFileAndTheLineOfTheText) {
  TempDir dir;
  const std::string text = "1 2\n2 3\n3 4\n";
  const std::string gz = gzip_text(text);
  write_file(dir.file("a.txt"), "1\n1\n1\n1\n");
  struct Case {
    std::string name;
    std::string bytes;
    std::string err;  // after "quarn: " and the path
  };
  const Case cases[] = {
      {"bad-line.gz", gzip_text("1 2\n2 3\n\n3 x\n"), ":4: expected two node numbers, found \"3 x\""},
      {"bad-line.zst", zstd_text("1 2\r2 3\r3 4 5.5\r3,4\r"), ":4: expected two node numbers, found \"3,4\""},
      {"cut.gz", gz.substr(0, gz.size() - 4), ": the gzip data ends early: the file is truncated"},
      {"cut.zst", zstd_text(text).substr(0, 9), ": the zstd data ends early: the file is truncated"},
      {"garbage.gz", gz + "junk", ": corrupt gzip data (incorrect header check)"},
      {"g.bz2", "BZh91AY&SY\x01\x02",
       ": is compressed with bzip2, which quarn does not read; decompress it first (bunzip2)"},
      {"g.txt",
       std::string("\xFD"
                   "7zXZ\0\0",
                   8),
       ": is compressed with xz, which quarn does not read; decompress it first (unxz)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir.file(c.name), c.bytes);
    write_file(dir.file("out.txt"), "keep me\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"CIS", dir.file(c.name), dir.file("out.txt")},
          std::vector<std::string>{"MCS", dir.file(c.name), dir.file("a.txt"), "1", "1",
                                   dir.file("out.txt")}}) {
      const RunResult run = run_quarn(args);
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err, "quarn: " + dir.file(c.name) + c.err + "\n");
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(read_file(dir.file("out.txt")), "keep me\n");
    }
  }
  write_file(dir.file("a.gz"), gzip_text("1 0\n1 1\n1\n"));
  const RunResult run = run_quarn({"MCS", dir.file("bad-line.gz"), dir.file("a.gz"), "1", "1"});
  EXPECT_EQ(run.err, "quarn: " + dir.file("a.gz") +
                         ":3: expected 2 attribute values, as on line 1, found 1 in \"1\"\n");
}

// ---------------------------------------------------------------------------------------------------
// Notes on node numbers

std::string zero_note(const std::string& name, int lines) {
  return "quarn: note: " + name + ": " + std::to_string(lines) +
         (lines == 1 ? " edge line names" : " edge lines name") +
         " node 0, which is not a node (nodes are numbered from 1); " +
         (lines == 1 ? "that edge joins nothing" : "those edges join nothing") + "\n";
}

std::string unused_note(const std::string& name, int unused, int largest) {
  return "quarn: note: " + name + ": " + std::to_string(unused) + " of the nodes 1 to " +
         std::to_string(largest) + " appear on no line (" + std::to_string(largest) +
         " is the largest number in the file); each is an isolated node, a pattern of its own\n";
}

TEST(Notes, NodeZeroAndUnusedNumbersAreNotedWithoutChangingTheRun) {
  TempDir dir;
  const std::string g = dir.file("g.txt");
  struct Case {
    std::string edges;
    std::string out;  // with OUTPUT_FILE "-"
    std::string notes;
  };
  const Case cases[] = {
      {"0 1\n1 2\n0 2\n", "1 \n1 2 \n2 \nPatterns: 3\n", zero_note(g, 2)},
      {"1 2\n2 0\n", "1 \n1 2 \n2 \nPatterns: 3\n", zero_note(g, 1)},
      {"0 0\n", "Patterns: 0\n", zero_note(g, 1)},
      {"1 5\n", "1 \n1 5 \n2 \n3 \n4 \n5 \nPatterns: 6\n", unused_note(g, 3, 5)},
      {"1 4\n", "1 \n1 4 \n2 \n3 \n4 \nPatterns: 5\n", ""},  // exactly half unused
      {"3 0\n0 7\n", "1 \n2 \n3 \n4 \n5 \n6 \n7 \nPatterns: 7\n", zero_note(g, 2) + unused_note(g, 5, 7)},
      {kCycle, kCycleLines + "Patterns: 13\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.edges);
    write_file(g, c.edges);
    for (const std::string& output : {std::string("-"), std::string()}) {
      std::vector<std::string> args = {"CIS", g};
      if (!output.empty()) args.push_back(output);
      const RunResult run = run_quarn(args);
      const std::string out = output.empty() ? c.out.substr(c.out.rfind("Patterns")) : c.out;
      EXPECT_EQ(run.out, out);
      EXPECT_EQ(run.err, c.notes);
      EXPECT_EQ(run.status, 0);
      args.insert(args.begin(), "--quiet");
      const RunResult quiet = run_quarn(args);
      EXPECT_EQ(quiet.out, out);
      EXPECT_EQ(quiet.err, "");
      EXPECT_EQ(quiet.status, 0);
    }
  }
}

// Zachary's karate club numbered from 0, as networkx writes it: node 0's 16 edges are lost.
TEST(Notes, AKarateClubNumberedFromZero) {
  TempDir dir;
  const std::string karate = read_file(std::string(QUARN_SOURCE_DIR) + "/examples/karate.txt");
  std::string shifted;
  std::size_t at = 0;
  while (at < karate.size()) {
    const std::size_t end = karate.find('\n', at);
    const std::string line = karate.substr(at, end - at);
    at = end + 1;
    if (line.empty() || line[0] == '#' || line[0] == '%') continue;
    const std::size_t space = line.find(' ');
    shifted += std::to_string(std::stoi(line.substr(0, space)) - 1) + " " +
               std::to_string(std::stoi(line.substr(space + 1)) - 1) + "\n";
  }
  write_file(dir.file("karate0.txt"), shifted);
  const RunResult run = run_quarn({"CIS", dir.file("karate0.txt")});
  EXPECT_EQ(run.out, "Patterns: 29028865\n");
  EXPECT_EQ(run.err, zero_note(dir.file("karate0.txt"), 16));
  EXPECT_EQ(run.status, 0);
}

// In MCS mode the nodes are the attribute rows: edges to node 0 are noted, nodes without edges are not.
TEST(Notes, McsNotesNodeZeroOnly) {
  TempDir dir;
  write_file(dir.file("a.txt"), "1 1\n1 1\n1 1\n1 1\n1 1\n1 1\n");
  write_file(dir.file("g.txt"), "0 1\n1 2\n");
  const RunResult run = run_quarn({"MCS", dir.file("g.txt"), dir.file("a.txt"), "1", "2", "-"});
  EXPECT_EQ(run.out, "1 2 \nPatterns: 1\n");
  EXPECT_EQ(run.err, zero_note(dir.file("g.txt"), 1));
  EXPECT_EQ(run.status, 0);
  const RunResult quiet = run_quarn({"MCS", dir.file("g.txt"), dir.file("a.txt"), "1", "2", "-", "--quiet"});
  EXPECT_EQ(quiet.out, run.out);
  EXPECT_EQ(quiet.err, "");
  write_file(dir.file("g.txt"), "1 2\n");
  EXPECT_EQ(run_quarn({"MCS", dir.file("g.txt"), dir.file("a.txt"), "1", "1"}).err, "");
}

// A run that fails on its input writes its one error line and no note.
TEST(Notes, AFailedRunWritesOnlyItsError) {
  TempDir dir;
  write_file(dir.file("g.txt"), "0 1\n1 9\nx\n");
  const RunResult run = run_quarn({"CIS", dir.file("g.txt")});
  EXPECT_EQ(run.err, "quarn: " + dir.file("g.txt") + ":3: expected two node numbers, found \"x\"\n");
  EXPECT_EQ(run.status, 1);
}

}  // namespace
