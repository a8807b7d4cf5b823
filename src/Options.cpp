#include "Options.h"

#include <algorithm>
#include <charconv>

#include "helpers.h"

namespace {

[[noreturn]] void option_error(std::string_view what) {
  throw QuarnError(std::string(what));
}

const OptionSpec* find_option(std::span<const OptionSpec> options, std::string_view name) {
  const auto found = std::find_if(options.begin(), options.end(),
                                  [name](const OptionSpec& spec) { return spec.name == name; });
  return found == options.end() ? nullptr : &*found;
}

// A count of threads: a whole number from 1 to kMostThreads.
unsigned parse_thread_count(std::string_view value) {
  constexpr unsigned kMostThreads = 4096;
  unsigned threads = 0;
  const char* end = value.data() + value.size();
  const auto [stop, error] = std::from_chars(value.data(), end, threads);
  if (value.empty() || error != std::errc{} || stop != end || threads < 1 || threads > kMostThreads) {
    option_error("--threads expects a whole number from 1 to " + std::to_string(kMostThreads) + ", got " +
                 quoted_excerpt(value));
  }
  return threads;
}

// A pattern size: a whole number from 1 to the largest 32-bit integer, digits only.
std::int32_t parse_size(std::string_view option, std::string_view value) {
  std::int32_t size = 0;
  const char* end = value.data() + value.size();
  const bool digits = !value.empty() && value.find_first_not_of("0123456789") == std::string_view::npos;
  if (!digits || std::from_chars(value.data(), end, size).ec != std::errc() || size < 1) {
    option_error("--" + std::string(option) + " expects a whole number from 1 to 2147483647, got " +
                 quoted_excerpt(value));
  }
  return size;
}

// A part: "I/N", two whole numbers in digits, 1 <= I <= N <= kMostParts.
PartChoice parse_part(std::string_view value) {
  const std::size_t slash = value.find('/');
  auto number = [](std::string_view digits, std::uint32_t& out) {
    const char* end = digits.data() + digits.size();
    return !digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos &&
           std::from_chars(digits.data(), end, out).ec == std::errc() && out >= 1 &&
           out <= PartChoice::kMostParts;
  };
  PartChoice part;
  if (slash == std::string_view::npos || !number(value.substr(0, slash), part.index) ||
      !number(value.substr(slash + 1), part.count) || part.index > part.count) {
    option_error("--part expects I/N, the I-th of N parts, with 1 <= I <= N <= " +
                 std::to_string(PartChoice::kMostParts) + ", got " + quoted_excerpt(value));
  }
  return part;
}

}  // namespace

std::span<const OptionSpec> known_options() {
  static const OptionSpec options[] = {
      {"help", "", "show this help and exit", nullptr},
      {"version", "", "show the version and exit", nullptr},
      {"threads", "N", "run on N threads (default: every CPU this process may use)",
       [](RunOptions& run, std::string_view value) { run.threads = parse_thread_count(value); }},
      {"quiet", "", "write no notes on standard error",
       [](RunOptions& run, std::string_view) { run.quiet = true; }},
      {"min-size", "N", "CIS: only the patterns of at least N nodes",
       [](RunOptions& run, std::string_view value) { run.min_size = parse_size("min-size", value); }},
      {"max-size", "N", "CIS: only the patterns of at most N nodes; the search goes no deeper",
       [](RunOptions& run, std::string_view value) { run.max_size = parse_size("max-size", value); }},
      {"by-size", "", "a line \"Size K: COUNT\" for each size of pattern, before the count line",
       [](RunOptions& run, std::string_view) { run.by_size = true; }},
      {"part", "I/N", "only the I-th of N parts of the run, to join in order (see README.md)",
       [](RunOptions& run, std::string_view value) { run.part = parse_part(value); }},
      {"progress", "", "show a progress line on standard error even when it is not a terminal",
       [](RunOptions& run, std::string_view) { run.progress = ProgressChoice::on; }},
      {"no-progress", "", "show no progress line, even on a terminal",
       [](RunOptions& run, std::string_view) { run.progress = ProgressChoice::off; }},
      {"no-space-check", "", "CIS: write OUTPUT_FILE even where its file system seems too full to hold it",
       [](RunOptions& run, std::string_view) { run.space_check = false; }},
  };
  return options;
}

ParsedCommandLine parse_command_line(std::span<const std::string> args, std::span<const OptionSpec> options) {
  ParsedCommandLine result;
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_ended || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      result.arguments.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string_view name =
        std::string_view(arg).substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const OptionSpec* spec = find_option(options, name);
    if (spec == nullptr) {
      option_error("unknown option " + quoted_excerpt(arg.substr(0, equals)) +
                   "; quarn --help lists the options");
    }
    if (spec->value_placeholder.empty()) {
      if (equals != std::string::npos)
        option_error("--" + std::string(name) + " takes no value, got " + quoted_excerpt(arg));
      if (name == "help") result.help = true;
      if (name == "version") result.version = true;
      if (spec->apply) spec->apply(result.options, {});
      continue;
    }
    std::string_view value;
    if (equals != std::string::npos) {
      value = std::string_view(arg).substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      option_error("--" + std::string(name) + " expects a value: --" + std::string(name) + " " +
                   std::string(spec->value_placeholder));
    }
    spec->apply(result.options, value);
  }
  const RunOptions& run = result.options;
  if (run.min_size && run.max_size && *run.min_size > *run.max_size) {
    option_error("--min-size " + std::to_string(*run.min_size) + " is greater than --max-size " +
                 std::to_string(*run.max_size) + ": no pattern can have both");
  }
  return result;
}
