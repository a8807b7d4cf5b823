// The long options: where they may stand, how they take values, and what is refused.
#include "Options.h"

#include <gtest/gtest.h>

#include <optional>

#include "helpers.h"
#include "test_support.h"

namespace {

using Args = std::vector<std::string>;

// A table like quarn's, with an option that takes a value and one that does not.
struct Parsed {
  Args arguments;
  std::vector<std::string> counts;  // the values --count was given, in order
  int flags = 0;
  bool help = false;
};

Parsed parse(const Args& args) {
  Parsed parsed;
  const OptionSpec options[] = {
      {"help", "", "help", nullptr},
      {"count", "N", "a number",
       [&parsed](RunOptions&, std::string_view value) {
         if (value.empty() || value.find_first_not_of("0123456789") != std::string_view::npos) {
           throw QuarnError("--count expects a whole number, got " + quoted_excerpt(value));
         }
         parsed.counts.emplace_back(value);
       }},
      {"flag", "", "a switch", [&parsed](RunOptions&, std::string_view) { ++parsed.flags; }},
  };
  const ParsedCommandLine line = parse_command_line(args, options);
  parsed.arguments = line.arguments;
  parsed.help = line.help;
  return parsed;
}

TEST(Options, AreTakenOutWhereverTheyStand) {
  struct Case {
    Args args;
    Args arguments;
    std::vector<std::string> counts;
    int flags;
  };
  const Case cases[] = {
      {{"CIS", "g.txt", "-"}, {"CIS", "g.txt", "-"}, {}, 0},
      {{"--count", "3", "CIS", "g.txt"}, {"CIS", "g.txt"}, {"3"}, 0},
      {{"CIS", "--count=4", "g.txt"}, {"CIS", "g.txt"}, {"4"}, 0},
      {{"CIS", "g.txt", "--flag", "out", "--flag"}, {"CIS", "g.txt", "out"}, {}, 2},
      {{"CIS", "g.txt", "--count", "5", "--count=6"}, {"CIS", "g.txt"}, {"5", "6"}, 0},
      // A lone dash and single-dash words are arguments; "--" ends the options.
      {{"-", "-x", "--", "--flag", "--count=1", "--"}, {"-", "-x", "--flag", "--count=1", "--"}, {}, 0},
      {{"--flag", "--", "--flag"}, {"--flag"}, {}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const Parsed parsed = parse(c.args);
    EXPECT_EQ(parsed.arguments, c.arguments);
    EXPECT_EQ(parsed.counts, c.counts);
    EXPECT_EQ(parsed.flags, c.flags);
  }
  EXPECT_TRUE(parse({"CIS", "--help", "g.txt"}).help);
  EXPECT_FALSE(parse({"CIS", "--", "--help"}).help);
}

TEST(Options, RefusesWhatTheyCannotTake) {
  struct Case {
    Args args;
    std::string error;
  };
  const Case cases[] = {
      {{"CIS", "--nope"}, "unknown option \"--nope\"; quarn --help lists the options"},
      {{"--nope=3", "CIS"}, "unknown option \"--nope\"; quarn --help lists the options"},
      {{"--Count", "3"}, "unknown option \"--Count\"; quarn --help lists the options"},
      {{"CIS", "g.txt", "--count"}, "--count expects a value: --count N"},
      {{"--count", "x"}, "--count expects a whole number, got \"x\""},
      {{"--count="}, "--count expects a whole number, got \"\""},
      {{"--flag=yes"}, "--flag takes no value, got \"--flag=yes\""},
      {{"--help=1"}, "--help takes no value, got \"--help=1\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(error_of([&] { parse(c.args); }), c.error);
  }
}

TEST(Options, KnownOptionsHaveDistinctNamesAndDescriptions) {
  std::vector<std::string_view> names;
  for (const OptionSpec& option : known_options()) {
    EXPECT_FALSE(option.description.empty()) << option.name;
    EXPECT_TRUE(option.value_placeholder.empty() || option.apply) << option.name;
    EXPECT_EQ(std::count(names.begin(), names.end(), option.name), 0) << option.name;
    names.push_back(option.name);
  }
  EXPECT_NE(std::count(names.begin(), names.end(), "help"), 0);
  EXPECT_NE(std::count(names.begin(), names.end(), "version"), 0);
}

ParsedCommandLine parse_known(const Args& args) {
  return parse_command_line(args, known_options());
}

TEST(Options, SizeBoundsAndSizes) {
  struct Case {
    Args args;
    std::optional<std::int32_t> least;
    std::optional<std::int32_t> most;
    bool by_size;
  };
  const Case cases[] = {
      {{"CIS", "g.txt"}, std::nullopt, std::nullopt, false},
      {{"CIS", "g.txt", "--min-size", "3", "--max-size=8", "--by-size"}, 3, 8, true},
      {{"--max-size", "1", "CIS", "g.txt"}, std::nullopt, 1, false},
      {{"CIS", "--min-size=4", "--max-size", "4", "g.txt"}, 4, 4, false},  // one size alone
      {{"--by-size", "MCS"}, std::nullopt, std::nullopt, true},
      {{"--max-size", "007"}, std::nullopt, 7, false},
      {{"--max-size", "2147483647", "--min-size", "2147483647"}, 2147483647, 2147483647, false},
      {{"--max-size", "2", "--max-size", "9", "--min-size", "5"}, 5, 9, false},  // the last value counts
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const RunOptions options = parse_known(c.args).options;
    EXPECT_EQ(options.min_size, c.least);
    EXPECT_EQ(options.max_size, c.most);
    EXPECT_EQ(options.by_size, c.by_size);
  }
}

TEST(Options, RefusesSizesThatAreNotPatternSizes) {
  struct Case {
    Args args;
    std::string error;
  };
  const Case cases[] = {
      {{"--max-size", "x"}, "--max-size expects a whole number from 1 to 2147483647, got \"x\""},
      {{"--max-size", "0"}, "--max-size expects a whole number from 1 to 2147483647, got \"0\""},
      {{"--min-size=-2"}, "--min-size expects a whole number from 1 to 2147483647, got \"-2\""},
      {{"--min-size", "+3"}, "--min-size expects a whole number from 1 to 2147483647, got \"+3\""},
      {{"--min-size", "3abc"}, "--min-size expects a whole number from 1 to 2147483647, got \"3abc\""},
      {{"--min-size", " 3"}, "--min-size expects a whole number from 1 to 2147483647, got \" 3\""},
      {{"--max-size="}, "--max-size expects a whole number from 1 to 2147483647, got \"\""},
      {{"--max-size", "2147483648"},
       "--max-size expects a whole number from 1 to 2147483647, got \"2147483648\""},
      {{"CIS", "g.txt", "--max-size"}, "--max-size expects a value: --max-size N"},
      {{"--by-size=yes"}, "--by-size takes no value, got \"--by-size=yes\""},
      {{"--min-size", "5", "--max-size", "3"},
       "--min-size 5 is greater than --max-size 3: no pattern can have both"},
      {{"--max-size", "3", "CIS", "--min-size", "5"},
       "--min-size 5 is greater than --max-size 3: no pattern can have both"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(error_of([&] { parse_known(c.args); }), c.error);
  }
}

}  // namespace
