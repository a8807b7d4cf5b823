// Fuzzes a whole CIS run: the input is the edge list. A refused file must give one error line and
// leave an existing output file alone. An accepted graph of at most kLargestNode nodes is mined in
// all three output modes: the count must match the lines written, and the lines must be exactly the
// connected node sets, found here by trying every subset of the nodes. Both roads of the count (the
// search and the frontier program) must agree with it. Graphs of up to kLargestCountedNode nodes
// are counted both ways too, and listed when their count is small.
#include <bit>
#include <set>
#include <sstream>
#include <string>

#include "Miner.h"
#include "fuzz_support.h"
#include "helpers.h"

namespace {

// Up to 2^14 patterns: a run takes a few milliseconds.
constexpr std::int32_t kLargestNode = 14;
// Frontiers narrow enough for the dynamic program on any graph; more patterns are not listed.
constexpr std::int32_t kLargestCountedNode = 24;
constexpr std::uint64_t kMostListed = 1 << 14;

using NodeSet = std::uint32_t;  // bit k: node k

bool connected(NodeSet set, const std::vector<NodeSet>& adjacent) {
  NodeSet reached = set & -set;
  for (NodeSet grown = reached;; reached = grown) {
    for (NodeSet rest = reached; rest != 0; rest &= rest - 1) grown |= adjacent[std::countr_zero(rest)] & set;
    if (grown == reached) return reached == set;
  }
}

std::uint64_t count_connected_sets(std::int32_t max_node, const std::vector<NodeSet>& adjacent) {
  std::uint64_t count = 0;
  if (max_node < 1) return 0;
  for (NodeSet set = 2; set < (NodeSet(2) << max_node); set += 2) count += connected(set, adjacent);
  return count;
}

// Checks every pattern line: nodes 1..max_node, root (the smallest) first, each node set once and
// connected. Returns the number of lines.
std::uint64_t check_lines(const std::string& text, std::int32_t max_node,
                          const std::vector<NodeSet>& adjacent) {
  std::set<NodeSet> found;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    FUZZ_CHECK(!line.empty() && line.back() == ' ', "line \"" + line + "\"");
    std::istringstream numbers(line);
    NodeSet set = 0;
    std::int32_t root = -1;
    for (std::int32_t node; numbers >> node;) {
      FUZZ_CHECK(node >= 1 && node <= max_node && (set >> node & 1) == 0, "line \"" + line + "\"");
      if (root < 0) root = node;
      FUZZ_CHECK(node >= root, "root not first in \"" + line + "\"");
      set |= NodeSet(1) << node;
    }
    FUZZ_CHECK(set != 0 && connected(set, adjacent), "line \"" + line + "\"");
    FUZZ_CHECK(found.insert(set).second, "repeated line \"" + line + "\"");
  }
  return found.size();
}

std::string count_by(const std::string& graph, Miner::CountRoad road) {
  RunOptions quiet;
  quiet.quiet = true;
  return Miner(graph, quiet).count(road);
}

// Runs quarn writing the patterns to out and to standard output; returns the lines of out.
std::string listed(const std::string& graph, const std::string& out, const std::string& count_line,
                   const std::string& notes) {
  const Captured written = run_quarn({"CIS", graph, out});
  FUZZ_CHECK(written.status == 0 && written.err == notes, written.err + "expected notes:\n" + notes);
  FUZZ_CHECK(written.out == count_line, "writing: " + written.out + ", expected " + count_line);
  const std::string lines = read_bytes(out);
  const Captured printed = run_quarn({"CIS", graph, "-"});
  FUZZ_CHECK(printed.status == 0 && printed.out == lines + count_line,
             "standard output differs from the file");
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string graph = scratch_file("graph.txt");
  static const std::string out = scratch_file("patterns.txt");
  write_bytes(graph, std::string_view(reinterpret_cast<const char*>(data), size));

  EdgeList list;
  try {
    list = read_edges(graph);
  } catch (const QuarnError&) {
    check_error_run(run_quarn({"CIS", graph}));
    write_bytes(out, "old\n");
    check_error_run(run_quarn({"CIS", graph, out}));
    FUZZ_CHECK(read_bytes(out) == "old\n", "a failed run changed the output file");
    return 0;
  }
  if (list.max_node > kLargestCountedNode) return 0;

  std::vector<NodeSet> adjacent(std::size_t(std::max(list.max_node, 0)) + 1, 0);
  for (const Edge& e : list.edges) {
    if (e.first == 0 || e.second == 0 || e.first == e.second) continue;  // node 0 joins nothing
    adjacent[std::size_t(e.first)] |= NodeSet(1) << e.second;
    adjacent[std::size_t(e.second)] |= NodeSet(1) << e.first;
  }
  const std::string count = count_by(graph, Miner::CountRoad::frontier);
  const std::string count_line = "Patterns: " + count + "\n";
  std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
  for (const Edge& e : list.edges) pairs.emplace_back(e.first, e.second);
  const std::string notes = expected_notes(graph, pairs, true);
  const Captured counted = run_quarn({"CIS", graph});
  FUZZ_CHECK(counted.status == 0 && counted.err == notes, counted.err + "expected notes:\n" + notes);
  const Captured quiet = run_quarn({"CIS", "--quiet", graph});
  FUZZ_CHECK(quiet.status == 0 && quiet.err.empty() && quiet.out == counted.out, "--quiet: " + quiet.err);
  FUZZ_CHECK(counted.out == count_line, "count only: " + counted.out + ", the frontier program " + count);

  if (list.max_node <= kLargestNode) {
    const std::string subsets = std::to_string(count_connected_sets(list.max_node, adjacent));
    FUZZ_CHECK(count == subsets, "counted " + count + ", connected sets " + subsets);
    const std::string searched = count_by(graph, Miner::CountRoad::search);
    FUZZ_CHECK(searched == subsets, "the counting search " + searched + ", connected sets " + subsets);
  } else if (count.size() > 5 || std::stoull(count) > kMostListed) {
    return 0;
  }
  const std::string lines = listed(graph, out, count_line, notes);
  FUZZ_CHECK(std::to_string(check_lines(lines, list.max_node, adjacent)) == count,
             "pattern lines do not add up to " + count);
  return 0;
}
