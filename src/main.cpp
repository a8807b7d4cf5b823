#include <csignal>

#include "CommandLine.h"

int main(int argc, char** argv) {
  // Past a file-size limit (ulimit -f) a write then fails with EFBIG, which is reported and cleaned up
  // like a full disk, instead of the signal killing the process with half a file written.
  std::signal(SIGXFSZ, SIG_IGN);
  return run(argc, argv);
}
