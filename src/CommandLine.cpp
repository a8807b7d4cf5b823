#include "CommandLine.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "AttributedMiner.h"
#include "Miner.h"
#include "Options.h"
#include "Output.h"
#include "helpers.h"

#ifndef QUARN_VERSION
#define QUARN_VERSION "unknown"
#endif
#ifndef QUARN_DOC_DIR
#define QUARN_DOC_DIR "/usr/local/share/doc/quarn"
#endif

namespace {

constexpr const char* kGeneralUsage =
    "Wrong input.\nCorrect Format is: ./quarn OPTION\n"
    "\tOPTION could be: CIS, for Connected Induced Subgraphs, or MCS, for Maximal Cohesive Subgraphs";
constexpr const char* kCisUsage =
    "Wrong input.\nCorrect Format is: ./quarn CIS GRAPH_INPUT_FILE [OUTPUT_FILE]";
constexpr const char* kMcsUsage =
    "Wrong input.\nCorrect Format is: ./quarn MCS GRAPH_INPUT_FILE ATTRIBUTES_INPUT_FILE MIN_SUP "
    "MIN_GRAPH_SIZE [OUTPUT_FILE]";

void write_out(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

int report(const std::string& message) {
  std::fprintf(stderr, "quarn: %s\n", message.c_str());
  return 1;
}

std::string help_text() {
  std::string text =
      "quarn " QUARN_VERSION
      ": exhaustive mining of subgraph patterns\n"
      "\n"
      "Usage:\n"
      "  quarn CIS GRAPH_INPUT_FILE [OUTPUT_FILE]\n"
      "      every connected induced subgraph of the graph\n"
      "  quarn MCS GRAPH_INPUT_FILE ATTRIBUTES_INPUT_FILE MIN_SUP MIN_GRAPH_SIZE [OUTPUT_FILE]\n"
      "      the maximal connected node sets whose members share at least MIN_SUP attributes,\n"
      "      of at least MIN_GRAPH_SIZE nodes\n"
      "\n"
      "Without OUTPUT_FILE the patterns are only counted; with \"-\" they go to standard output;\n"
      "otherwise to that file. The line \"Patterns: N\" on standard output ends every run.\n"
      "An input file \"-\" is standard input; gzip and zstd files are read as they are.\n"
      "\n"
      "Options (anywhere on the line; \"--\" ends them):\n";
  for (const OptionSpec& option : known_options()) {
    std::string name = "  --";
    name += option.name;
    if (!option.value_placeholder.empty()) {
      name += ' ';
      name += option.value_placeholder;
    }
    name.resize(std::max<std::size_t>(name.size() + 2, 22), ' ');
    text += name + std::string(option.description) + "\n";
  }
  text +=
      "\n"
      "File formats, the order of the output, and every option: README.md in the source tree,\n"
      "installed in " QUARN_DOC_DIR ".\n";
  return text;
}

// The size bounds select among the patterns of CIS; MCS has MIN_GRAPH_SIZE for its least size.
void refuse_size_bounds(const RunOptions& options) {
  if (!options.min_size && !options.max_size) return;
  const std::string named = options.min_size && options.max_size ? "--min-size and --max-size apply"
                            : options.min_size                   ? "--min-size applies"
                                                                 : "--max-size applies";
  throw QuarnError(named + " to CIS only; MCS takes the least size of a pattern as MIN_GRAPH_SIZE");
}

// Runs the mode that the positional arguments name.
int run_mode(const std::vector<std::string>& args, RunOptions options) {
  if (args.empty()) terminate(kGeneralUsage);
  const std::string& mode = args[0];
  if (mode == "CIS") {
    if (args.size() != 2 && args.size() != 3) terminate(kCisUsage);
    if (args.size() == 3) options.output_name = args[2];
    Miner miner(args[1], options);
    miner.process();
    return 0;
  }
  if (mode == "MCS") {
    if (args.size() != 5 && args.size() != 6) terminate(kMcsUsage);
    refuse_size_bounds(options);
    // The numbers are checked before any file is read.
    const McsThresholds thresholds{parse_int_argument("MIN_SUP", args[3]),
                                   parse_int_argument("MIN_GRAPH_SIZE", args[4])};
    if (args.size() == 6) options.output_name = args[5];
    if (args[1] == "-" && args[2] == "-") {
      throw QuarnError(
          "GRAPH_INPUT_FILE and ATTRIBUTES_INPUT_FILE are both \"-\"; standard input can hold only one of "
          "them");
    }
    AttributedMiner miner(args[1], args[2], thresholds, options);
    miner.process();
    return 0;
  }
  terminate(kGeneralUsage);
}

}  // namespace

int run(int argc, char** argv) {
  try {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const ParsedCommandLine line = parse_command_line(args, known_options());
    if (line.help) {
      write_out(help_text());
      return 0;
    }
    if (line.version) {
      write_out("quarn " QUARN_VERSION "\n");
      return 0;
    }
    return run_mode(line.arguments, line.options);
  } catch (const UsageError& usage) {
    write_out(std::string(usage.what()) + "\n");
    return 1;
  } catch (const QuarnError& error) {
    return report(error.what() + take_unfinished_output_note());
  } catch (const std::bad_alloc&) {
    return report("out of memory" + take_unfinished_output_note());
  }
}
