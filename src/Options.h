// GNU-style long options: "--name VALUE" or "--name=VALUE", anywhere on the command line, until a
// lone "--" ends them. Everything else, a lone "-" included, is a positional argument. Options are
// taken out before the positional arguments are counted, so a command line without options means
// exactly what it always meant.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Progress.h"

// One of the parts a run is split into: the index-th of count (1 <= index <= count <= kMostParts).
struct PartChoice {
  static constexpr std::uint32_t kMostParts = 10000;
  std::uint32_t index = 1;
  std::uint32_t count = 1;
};

// What a run is asked to do besides its positional arguments.
struct RunOptions {
  std::string output_name;  // OUTPUT_FILE: "" counts only, "-" is standard output
  bool quiet = false;       // no notes on standard error
  unsigned threads = 0;     // 0: one for every CPU this process may run on
  // CIS: patterns of at least min_size and at most max_size nodes only; absent when not given.
  std::optional<std::int32_t> min_size = std::nullopt;
  std::optional<std::int32_t> max_size = std::nullopt;
  bool by_size = false;  // a line "Size K: COUNT" for each size that has patterns, before the count line
  std::optional<PartChoice> part = std::nullopt;        // only this part of the run's patterns
  ProgressChoice progress = ProgressChoice::automatic;  // the progress line on standard error
  bool space_check = true;  // refuse a listing into a regular file whose file system cannot hold it
};

// One long option. A value-taking option has a placeholder for the help text (for example "N");
// apply checks the value and stores it, throwing QuarnError with what is expected when it is not valid.
struct OptionSpec {
  std::string_view name;               // without the leading "--"
  std::string_view value_placeholder;  // empty for an option without a value
  std::string_view description;
  std::function<void(RunOptions& options, std::string_view value)> apply;
};

// The command line with the options taken out.
struct ParsedCommandLine {
  std::vector<std::string> arguments;  // the positional arguments, in order, without the program name
  RunOptions options;
  bool help = false;
  bool version = false;
};

// The options quarn knows, in the order --help lists them.
std::span<const OptionSpec> known_options();

// Takes the options out of args (the arguments after the program name). An unknown option, a
// missing value, a value given to an option without one, a value that apply refuses, and a
// --min-size above the --max-size are QuarnErrors naming the options.
ParsedCommandLine parse_command_line(std::span<const std::string> args, std::span<const OptionSpec> options);
