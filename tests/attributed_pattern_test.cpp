// AttributedPattern: single-node patterns, extensions and retractions, covered and same_profile, on
// the worked example, on the rules of an extension, and in lockstep with the plain reference pattern.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "AttributedMiner.h"
#include "AttributedPattern.h"
#include "reference_mcs.h"

namespace {

using Nodes = std::vector<std::int32_t>;

// A graph, its table and the pattern a search would stand on after a chain of added nodes.
struct Chain {
  AttributeTable table;
  AdjacencyList graph;
  SearchGraph search;
  AttributedPattern pattern;

  Chain(const std::vector<std::vector<int>>& rows, const std::vector<Edge>& edges, int min_sup,
        RowLayout layout = RowLayout::copied)
      : table(attribute_table(rows)),
        graph(build_cohesive_graph(table, edges, min_sup)),
        search{graph, table, min_sup, layout},
        pattern(search) {}

  // The pattern of the chain, rebuilt from no pattern at all, or null (and a test failure) when a
  // node is no candidate of the pattern before it.
  const AttributedPattern* grow(const Nodes& nodes) {
    while (pattern.depth() > 0) pattern.retract();
    pattern.start(nodes[0]);
    for (std::size_t d = 1; d < nodes.size(); ++d) {
      const std::size_t index = pattern.index_of(nodes[d]);
      if (index == pattern.candidate_count()) {
        ADD_FAILURE() << nodes[d] << " is no candidate";
        return nullptr;
      }
      pattern.extend(index);
    }
    return &pattern;
  }
};

Nodes sorted(Nodes nodes) {
  std::sort(nodes.begin(), nodes.end());
  return nodes;
}
Nodes excluded(const AttributedPattern& p) {
  Nodes nodes;
  for (std::size_t i = 0; i < p.excluded_count(); ++i) nodes.push_back(p.excluded(i));
  return nodes;
}
Nodes candidates(const AttributedPattern& p, std::size_t begin, std::size_t end) {
  Nodes nodes;
  for (std::size_t i = begin; i < end; ++i) nodes.push_back(p.candidate(i));
  return nodes;
}
Nodes first_group(const AttributedPattern& p) {
  return candidates(p, 0, p.earlier_count());
}
Nodes second_group(const AttributedPattern& p) {
  return candidates(p, p.earlier_count(), p.candidate_count());
}

struct PatternCase {
  Nodes chain;  // the root, then the added nodes in order
  Nodes neighbors0;
  Nodes neighbors1;
  Nodes neighbors2;
  std::uint32_t profile;
  Nodes covered;       // the candidates for which covered is true
  Nodes same_profile;  // the candidates for which same_profile is true
};

void check(Chain& chain, const PatternCase& c) {
  SCOPED_TRACE(testing::PrintToString(c.chain));
  const AttributedPattern* grown = chain.grow(c.chain);
  ASSERT_NE(grown, nullptr);
  const AttributedPattern& p = *grown;
  EXPECT_EQ(p.depth(), c.chain.size());
  EXPECT_EQ(p.root(), c.chain[0]);
  EXPECT_EQ(p.node(), c.chain.back());
  for (std::size_t d = 0; d < c.chain.size(); ++d) EXPECT_EQ(p.node_at(d), c.chain[d]);
  EXPECT_EQ(sorted(excluded(p)), c.neighbors0);
  EXPECT_EQ(first_group(p), c.neighbors1);
  EXPECT_EQ(second_group(p), c.neighbors2);
  ASSERT_EQ(p.profile().size(), 1u);
  EXPECT_EQ(p.profile()[0], c.profile);
  EXPECT_EQ(p.is_maximal(), c.neighbors0.empty() && c.neighbors1.empty() && c.neighbors2.empty());
  Nodes covered;
  Nodes same;
  for (std::size_t i = 0; i < p.candidate_count(); ++i) {
    if (p.covered(i)) covered.push_back(p.candidate(i));
    if (p.same_profile(i)) same.push_back(p.candidate(i));
  }
  EXPECT_EQ(covered, c.covered);
  EXPECT_EQ(same, c.same_profile);
}

// Attributes 0, 1, 2 are bits 2, 1, 0 of the profile word.
TEST(AttributedPattern, WorkedExampleSearchTree) {
  Chain chain({{1, 1, 0}, {1, 1, 1}, {0, 1, 1}, {1, 1, 1}, {1, 0, 0}},
              {{1, 2}, {2, 3}, {3, 4}, {1, 4}, {4, 5}, {2, 4}}, 2);
  const PatternCase cases[] = {
      {{1}, {}, {2, 4}, {}, 0b110, {4}, {2, 4}}, {{1, 2}, {}, {4}, {}, 0b110, {}, {4}},
      {{1, 2, 4}, {}, {}, {}, 0b110, {}, {}},    {{2}, {1}, {3, 4}, {}, 0b111, {}, {4}},
      {{2, 3}, {}, {4}, {}, 0b011, {}, {4}},     {{2, 3, 4}, {}, {}, {}, 0b011, {}, {}},
      {{2, 4}, {1, 3}, {}, {}, 0b111, {}, {}},   {{3}, {2}, {4}, {}, 0b011, {4}, {4}},
      {{4}, {1, 2, 3}, {}, {}, 0b111, {}, {}},
  };
  for (const PatternCase& c : cases) check(chain, c);
}

TEST(AttributedPattern, LevelOneSplitsTheNeighboursAtTheNode) {
  std::vector<std::vector<int>> rows(10, {1, 1});
  Chain chain(rows, {{5, 2}, {5, 9}, {5, 7}, {3, 4}}, 1);
  check(chain, {{5}, {2}, {7, 9}, {}, 0b11, {7, 9}, {7, 9}});
  check(chain, {{1}, {}, {}, {}, 0b11, {}, {}});
  check(chain, {{3}, {}, {4}, {}, 0b11, {}, {4}});
}

// Root 2 with neighbours 4 and 6; 4 brings 1 (below the root), 3 and 8; 8 brings 10. Node 6 shares
// only attributes 2 and 3 with the others, nodes 1 and 8 only attributes 0 and 1.
TEST(AttributedPattern, ExtensionsMoveNeighboursBetweenGroups) {
  std::vector<std::vector<int>> rows(10, {1, 1, 1, 1});
  rows[0] = {1, 1, 0, 0};  // node 1
  rows[5] = {0, 0, 1, 1};  // node 6
  rows[7] = {1, 1, 0, 0};  // node 8
  Chain chain(rows, {{2, 4}, {2, 6}, {4, 8}, {4, 3}, {4, 1}, {8, 10}, {8, 1}, {3, 4}, {6, 9}}, 2);
  const PatternCase cases[] = {
      // The smallest earlier candidate moves nothing into neighbors0; of its new neighbours 1 is below
      // the root, 3 and 8 are later candidates. 8 is covered through 1.
      {{2, 4}, {1}, {6}, {3, 8}, 0b1111, {8}, {3}},
      // An earlier candidate excludes the earlier ones before it; 9, new, is a later candidate.
      {{2, 6}, {4}, {}, {9}, 0b0011, {9}, {9}},
      // The later group passes on what keeps its support (3, not 8), merged with the new 9; 1 loses
      // its support and is in no group.
      {{2, 4, 6}, {}, {}, {3, 9}, 0b0011, {9}, {3, 9}},
      // A later candidate excludes all earlier ones (6 loses its support) and the later ones before
      // it; only its new neighbour 10 is a later candidate, since 1 and 4 are known already.
      {{2, 4, 8}, {1, 3}, {}, {10}, 0b1100, {10}, {10}},
      // The later candidates after the added one become earlier candidates.
      {{2, 4, 3}, {1, 6}, {8}, {}, 0b1111, {8}, {}},
  };
  for (const PatternCase& c : cases) check(chain, c);
}

// Everything a pattern shows, in the order it shows it.
struct Snapshot {
  std::size_t depth;
  Nodes chain;
  Nodes excluded;
  Nodes candidates;
  std::size_t earlier;
  std::vector<std::uint32_t> profile;
  std::vector<bool> covered;
  std::vector<bool> same_profile;
  bool operator==(const Snapshot&) const = default;
};

void PrintTo(const Snapshot& s, std::ostream* out) {
  *out << "chain " << testing::PrintToString(s.chain) << ", excluded " << testing::PrintToString(s.excluded)
       << ", candidates " << testing::PrintToString(s.candidates) << " (" << s.earlier << " earlier)";
}

Snapshot snapshot(const AttributedPattern& p) {
  Snapshot s{p.depth(),
             {},
             excluded(p),
             candidates(p, 0, p.candidate_count()),
             p.earlier_count(),
             {p.profile().begin(), p.profile().end()},
             {},
             {}};
  for (std::size_t d = 0; d < p.depth(); ++d) s.chain.push_back(p.node_at(d));
  for (std::size_t i = 0; i < p.candidate_count(); ++i) {
    s.covered.push_back(p.covered(i));
    s.same_profile.push_back(p.same_profile(i));
  }
  return s;
}

// Walks the whole search tree of random graphs with one pattern that extends and retracts in place,
// beside the reference pattern, and compares every pattern and every answer of covered and
// same_profile with it. A retraction must give back the parent exactly as it was, member order
// included, and a pattern reached through the walk must equal the same chain rebuilt from nothing.
TEST(AttributedPattern, AgreesWithTheReferencePatternOnRandomGraphs) {
  std::mt19937 random(99);
  auto uniform = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  for (int trial = 0; trial < 200; ++trial) {
    const int n = uniform(1, 25);
    const int attributes = uniform(1, 70);
    const int min_sup = uniform(0, 4);
    std::vector<std::vector<int>> rows(std::size_t(n), std::vector<int>(std::size_t(attributes), 0));
    const int percent = uniform(40, 95);
    for (auto& row : rows) {
      for (int& value : row) value = uniform(1, 100) <= percent ? 1 : 0;
    }
    std::vector<Edge> edges;
    for (int i = uniform(0, 3 * n); i > 0; --i) edges.push_back(Edge{uniform(1, n), uniform(1, n)});
    const RowLayout layout = trial % 2 == 0 ? RowLayout::copied : RowLayout::table;
    SCOPED_TRACE("trial " + std::to_string(trial) +
                 (layout == RowLayout::table ? ", rows read from the table" : ""));
    Chain chain(rows, edges, min_sup, layout);
    Chain rebuilt(rows, edges, min_sup, layout);
    ReferenceLevel1 level1(std::size_t(n) + 1);
    for (std::int32_t k = 1; k <= n; ++k) {
      if (chain.table.ones(k) >= min_sup)
        level1[std::size_t(k)] = std::make_unique<ReferencePattern>(k, chain.table, chain.graph);
    }
    int compared = 0;
    AttributedPattern& p = chain.pattern;
    for (std::int32_t root = 1; root <= n && compared < 400; ++root) {
      if (!level1[std::size_t(root)]) continue;
      // Depth first: the reference patterns of the chain, and the candidate index each tries next.
      std::vector<std::unique_ptr<ReferencePattern>> refs;
      std::vector<std::size_t> next{0};
      std::vector<Snapshot> before;
      p.start(root);
      while (p.depth() > 0) {
        const ReferencePattern& ref = refs.empty() ? *level1[std::size_t(root)] : *refs.back();
        if (next.back() == 0) {
          ++compared;
          ASSERT_EQ(sorted(excluded(p)), Nodes(ref.neighbors0.begin(), ref.neighbors0.end()));
          ASSERT_EQ(first_group(p), Nodes(ref.neighbors1.begin(), ref.neighbors1.end()));
          ASSERT_EQ(second_group(p), Nodes(ref.neighbors2.begin(), ref.neighbors2.end()));
          ASSERT_TRUE(std::equal(p.profile().begin(), p.profile().end(), ref.profile.words().begin()));
          ASSERT_EQ(p.is_maximal(), ref.is_maximal());
          for (std::size_t i = 0; i < p.candidate_count(); ++i) {
            const std::int32_t x = p.candidate(i);
            ASSERT_EQ(p.covered(i), ref.covered(x, level1)) << "candidate " << x;
            ASSERT_EQ(p.same_profile(i), ref.same_profile(x, level1)) << "candidate " << x;
          }
          const Snapshot here = snapshot(p);
          ASSERT_EQ(snapshot(*rebuilt.grow(here.chain)), here);
        }
        if (next.back() < p.candidate_count() && compared < 400) {
          const std::size_t i = next.back()++;
          before.push_back(snapshot(p));
          refs.push_back(
              std::make_unique<ReferencePattern>(ref, p.candidate(i), chain.graph, level1, min_sup));
          p.extend(i);
          next.push_back(0);
        } else {
          p.retract();
          next.pop_back();
          if (refs.empty()) continue;
          refs.pop_back();
          ASSERT_EQ(snapshot(p), before.back());
          before.pop_back();
        }
      }
    }
  }
}

// A chain that loses attributes on the way drops members and must give each back, in its place, when
// it retracts. Node 1 is the root, with candidates 2 to 6; adding 2 keeps attributes 0 and 1 only,
// which costs 3, 4 and 5 their support (each shares at most one of them), and brings 7 as a later
// candidate; adding 7 then passes over 6, which becomes excluded.
TEST(AttributedPattern, RetractingGivesBackWhatAProfileChangeDropped) {
  std::vector<std::vector<int>> rows(8, {1, 1, 1, 1});
  rows[1] = {1, 1, 0, 0};  // node 2
  rows[2] = {0, 0, 1, 1};  // node 3
  rows[3] = {1, 0, 1, 0};  // node 4
  rows[4] = {0, 1, 0, 1};  // node 5
  Chain chain(rows, {{1, 3}, {1, 2}, {1, 6}, {1, 4}, {1, 5}, {2, 7}, {6, 7}}, 2);
  AttributedPattern& p = chain.pattern;
  p.start(1);
  const Snapshot root = snapshot(p);
  EXPECT_EQ(root.candidates, (Nodes{2, 3, 4, 5, 6}));
  p.extend(p.index_of(2));
  EXPECT_EQ(excluded(p), Nodes{});
  EXPECT_EQ(candidates(p, 0, p.candidate_count()), (Nodes{6, 7}));
  EXPECT_EQ(p.earlier_count(), 1u);
  p.extend(p.index_of(7));
  EXPECT_EQ(excluded(p), Nodes{6});
  EXPECT_FALSE(p.is_maximal());
  p.retract();
  p.retract();
  EXPECT_EQ(snapshot(p), root);
  p.extend(p.index_of(6));  // keeps the whole profile: nothing dropped
  EXPECT_EQ(excluded(p), (Nodes{2, 3, 4, 5}));
  EXPECT_EQ(candidates(p, 0, p.candidate_count()), (Nodes{7}));
  p.retract();
  EXPECT_EQ(snapshot(p), root);
  p.retract();
  EXPECT_EQ(p.depth(), 0u);
}

// What a search's pattern can take grows with the nodes of the graph, not with the depth of the
// search times the neighbourhood: each node more on a path costs the same few bytes.
TEST(AttributedPattern, BytesNeededGrowLinearlyWithTheGraph) {
  auto bytes_for_path = [](int n) {
    const AttributeTable table =
        attribute_table(std::vector<std::vector<int>>(std::size_t(n), std::vector<int>(40, 1)));
    std::vector<Edge> edges;
    for (int u = 1; u < n; ++u) edges.push_back(Edge{u, u + 1});
    return AttributedPattern::bytes_needed(build_cohesive_graph(table, edges, 1), table, RowLayout::copied);
  };
  // Steps of 1,024 nodes, so that the marks, bits in 64-bit words, grow evenly too.
  const std::uint64_t step = bytes_for_path(2048) - bytes_for_path(1024);
  EXPECT_EQ(bytes_for_path(3072) - bytes_for_path(2048), step);
  EXPECT_EQ(bytes_for_path(11264) - bytes_for_path(1024), 10 * step);
  EXPECT_LT(step, 1024u * 200);  // a couple of hundred bytes a node at 40 attributes
}

}  // namespace
