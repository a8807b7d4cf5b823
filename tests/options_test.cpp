// The long options: where they may stand, how they take values, and what is refused.
#include "Options.h"

#include <gtest/gtest.h>

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

}  // namespace
