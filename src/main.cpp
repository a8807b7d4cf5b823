#include "main.h"

#include <csignal>
#include <cstdio>
#include <new>
#include <string_view>

#include "AttributedMiner.h"
#include "Miner.h"
#include "helpers.h"

namespace {

constexpr const char* kGeneralUsage =
    "Wrong input.\nCorrect Format is: ./quarn OPTION\n"
    "\tOPTION could be: CIS, for Connected Induced Subgraphs, or MCS, for Maximal Cohesive Subgraphs";
constexpr const char* kCisUsage = "Wrong input.\nCorrect Format is: ./quarn CIS GRAPH_INPUT_FILE [OUTPUT_FILE]";
constexpr const char* kMcsUsage =
    "Wrong input.\nCorrect Format is: ./quarn MCS GRAPH_INPUT_FILE ATTRIBUTES_INPUT_FILE MIN_SUP "
    "MIN_GRAPH_SIZE [OUTPUT_FILE]";

int report(const char* message) {
  std::fprintf(stderr, "quarn: %s\n", message);
  return 1;
}

}  // namespace

int run(int argc, char** argv) {
  if (argc < 2) terminate(kGeneralUsage);
  const std::string_view option = argv[1];
  try {
    if (option == "CIS") {
      if (argc != 3 && argc != 4) terminate(kCisUsage);
      Miner miner(argc, argv);
      miner.process();
      return 0;
    }
    if (option == "MCS") {
      if (argc != 6 && argc != 7) terminate(kMcsUsage);
      AttributedMiner miner(argc, argv);
      miner.process();
      return 0;
    }
  } catch (const QuarnError& error) {
    return report(error.what());
  } catch (const std::bad_alloc&) {
    return report("out of memory");
  }
  terminate(kGeneralUsage);
}

#ifndef QUARN_NO_MAIN  // the fuzz targets call run() from a main of their own
int main(int argc, char** argv) {
  // Past a file-size limit (ulimit -f) a write then fails with EFBIG, which is reported and cleaned up
  // like a full disk, instead of the signal killing the process with half a file written.
  std::signal(SIGXFSZ, SIG_IGN);
  return run(argc, argv);
}
#endif
