// The real binary: usage messages, exit statuses, errors, and where the output goes.
#include <gtest/gtest.h>

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
