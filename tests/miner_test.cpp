// CIS enumeration: worked examples.
#include "Miner.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

TEST(Cis, WorkedExampleComesOutByteForByte) {
  TempDir dir;
  write_file(dir.file("g.txt"), "1 3\n1 2\n2 4\n3 4\n");
  const RunResult run = run_quarn({"CIS", dir.file("g.txt"), "-"});
  EXPECT_EQ(run.out,
            "1 \n1 3 \n1 3 4 \n1 2 \n1 2 3 \n1 2 3 4 \n1 2 4 \n2 \n2 4 \n2 4 3 \n3 \n3 4 \n4 \nPatterns: 13\n");
  EXPECT_EQ(run.status, 0);
}

}  // namespace
