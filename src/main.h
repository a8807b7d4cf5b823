// The command line: quarn OPTION ..., with OPTION CIS or MCS.
#pragma once

// Checks the arguments, runs the chosen miner, and returns the exit status: 0 after a complete run,
// 1 after an error reported on standard error. Wrong usage exits with status 1 through terminate.
int run(int argc, char** argv);
