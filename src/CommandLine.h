// The command line: quarn OPTION ..., with OPTION CIS or MCS, and long options anywhere.
#pragma once

// Checks the arguments, runs the chosen miner, and returns the exit status: 0 after a complete run
// (or --help, --version), 1 after wrong usage (the mode's usage message on standard output) or an
// error (one line on standard error). Every failure of a run ends here.
int run(int argc, char** argv);
