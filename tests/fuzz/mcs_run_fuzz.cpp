// Fuzzes a whole MCS run. The input is "EDGES|ATTRIBUTES|MIN_SUP|MIN_GRAPH_SIZE", split at '|'
// (missing parts are empty). A refused input must give one error line and leave an existing output
// file alone. An accepted one of at most kLargestNode nodes is mined in all three output modes; the
// count must match the lines written, and the lines must be those of the plain reference search.
#include <string>

#include "fuzz_support.h"
#include "helpers.h"
#include "reference_mcs.h"

namespace {

// Keeps the searches, the reference's above all, to milliseconds.
constexpr std::int32_t kLargestNode = 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string graph = scratch_file("graph.txt");
  static const std::string attributes = scratch_file("attributes.txt");
  static const std::string out = scratch_file("patterns.txt");
  std::vector<std::string> parts = split(std::string_view(reinterpret_cast<const char*>(data), size), '|');
  parts.resize(std::max<std::size_t>(parts.size(), 4));
  write_bytes(graph, parts[0]);
  write_bytes(attributes, parts[1]);
  // The numbers reach quarn as C strings: they end at a NUL byte.
  const std::string min_sup = parts[2].c_str();
  const std::string min_size = parts[3].c_str();
  // "--" first: a number such as "--" or "--quiet" is an argument here, not an option.
  const std::vector<std::string> args = {"--", "MCS", graph, attributes, min_sup, min_size};

  AttributeTable table;
  try {
    table = read_attr(attributes);
  } catch (const QuarnError&) {  // the run below must refuse it too
  }
  if (table.rows > kLargestNode) return 0;

  const Captured counted = run_quarn(args);
  if (counted.status != 0) {
    check_error_run(counted);
    write_bytes(out, "old\n");
    std::vector<std::string> to_file = args;
    to_file.push_back(out);
    check_error_run(run_quarn(to_file));
    FUZZ_CHECK(read_bytes(out) == "old\n", "a failed run changed the output file");
    return 0;
  }
  const std::vector<Edge> edges = read_edges(graph).edges;
  std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
  for (const Edge& e : edges) pairs.emplace_back(e.first, e.second);
  const std::string notes = expected_notes(graph, pairs, false);
  FUZZ_CHECK(counted.err == notes && counted.out.starts_with("Patterns: ") && count_lines(counted.out) == 1,
             counted.out + counted.err + "expected notes:\n" + notes);

  std::vector<std::string> to_file = args;
  to_file.push_back(out);
  const Captured written = run_quarn(to_file);
  FUZZ_CHECK(written.status == 0 && written.err == notes && written.out == counted.out,
             written.out + written.err);
  const std::string lines = read_bytes(out);
  FUZZ_CHECK(counted.out == "Patterns: " + std::to_string(count_lines(lines)) + "\n",
             "pattern lines do not add up to " + counted.out);
  const std::string expected = reference_mcs_lines(table, edges, parse_int_argument("MIN_SUP", min_sup),
                                                   parse_int_argument("MIN_GRAPH_SIZE", min_size));
  FUZZ_CHECK(lines == expected, "lines differ from the reference:\n" + lines + "expected:\n" + expected);

  to_file.back() = "-";
  const Captured printed = run_quarn(to_file);
  FUZZ_CHECK(printed.status == 0 && printed.out == lines + counted.out,
             "standard output differs from the file");
  return 0;
}
