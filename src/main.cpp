#include <csignal>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "CommandLine.h"

int main(int argc, char** argv) {
  // Past a file-size limit (ulimit -f) a write then fails with EFBIG, which is reported and cleaned up
  // like a full disk, instead of the signal killing the process with half a file written.
  std::signal(SIGXFSZ, SIG_IGN);
#ifdef __GLIBC__
  // The threads of a run allocate almost nothing while they search; with one malloc arena glibc does
  // not reserve 64 MiB of address space for each thread, which an address-space limit (ulimit -v)
  // would count against the run.
  mallopt(M_ARENA_MAX, 1);
#endif
  return run(argc, argv);
}
