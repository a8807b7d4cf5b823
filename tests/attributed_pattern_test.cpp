// AttributedPattern: single-node patterns, extensions, covered and same_profile, on the worked
// example, on the rules of an extension, and in lockstep with the plain reference pattern.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "AttributedMiner.h"
#include "AttributedPattern.h"
#include "reference_mcs.h"

namespace {

using Nodes = std::vector<std::int32_t>;

// A graph, its table and a chain of patterns built along a list of added nodes.
struct Chain {
  AttributeTable table;
  AdjacencyList graph;
  SearchGraph search;
  NodeMarks seen;
  std::vector<AttributedPattern> patterns;

  Chain(const std::vector<std::vector<int>>& rows, const std::vector<Edge>& edges, int min_sup,
        RowLayout layout = RowLayout::copied)
      : table(attribute_table(rows)),
        graph(build_cohesive_graph(table, edges, min_sup)),
        search{graph, table, min_sup, layout},
        seen(std::size_t(table.rows) + 1) {}

  // The pattern of the chain, or null (and a test failure) when a node is no candidate of the
  // pattern before it.
  const AttributedPattern* grow(const Nodes& nodes) {
    for (const AttributedPattern& p : patterns) p.release(seen);
    patterns.assign(nodes.size(), AttributedPattern{});
    patterns[0].start(nodes[0], search, seen);
    for (std::size_t d = 1; d < nodes.size(); ++d) {
      const std::size_t index = patterns[d - 1].index_of(nodes[d]);
      if (index == patterns[d - 1].candidates.size()) {
        ADD_FAILURE() << nodes[d] << " is no candidate";
        patterns.resize(d);
        return nullptr;
      }
      patterns[d].extend(patterns[d - 1], index, search, seen);
    }
    return &patterns.back();
  }
};

Nodes sorted(Nodes nodes) {
  std::sort(nodes.begin(), nodes.end());
  return nodes;
}
Nodes first_group(const AttributedPattern& p) {
  return {p.candidates.begin(), p.candidates.begin() + std::ptrdiff_t(p.second_begin)};
}
Nodes second_group(const AttributedPattern& p) {
  return {p.candidates.begin() + std::ptrdiff_t(p.second_begin), p.candidates.end()};
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
  EXPECT_EQ(p.level, std::int32_t(c.chain.size()));
  EXPECT_EQ(p.root, c.chain[0]);
  EXPECT_EQ(p.node, c.chain.back());
  EXPECT_EQ(sorted(p.excluded), c.neighbors0);
  EXPECT_EQ(first_group(p), c.neighbors1);
  EXPECT_EQ(second_group(p), c.neighbors2);
  ASSERT_EQ(p.profile.words().size(), 1u);
  EXPECT_EQ(p.profile.words()[0], c.profile);
  EXPECT_EQ(p.is_maximal(), c.neighbors0.empty() && c.neighbors1.empty() && c.neighbors2.empty());
  Nodes covered;
  Nodes same;
  for (std::size_t i = 0; i < p.candidates.size(); ++i) {
    if (p.covered(i, chain.search)) covered.push_back(p.candidates[i]);
    if (p.same_profile(i, chain.search)) same.push_back(p.candidates[i]);
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

// Walks the whole search tree of random graphs with the reference pattern and the tuned one side by
// side, and compares every pattern and every answer of covered and same_profile.
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
    ReferenceLevel1 level1(std::size_t(n) + 1);
    for (std::int32_t k = 1; k <= n; ++k) {
      if (chain.table.ones(k) >= min_sup)
        level1[std::size_t(k)] = std::make_unique<ReferencePattern>(k, chain.table, chain.graph);
    }
    // Depth first over the reference tree, keeping the chain of added nodes.
    std::vector<std::pair<const ReferencePattern*, Nodes>> stack;
    std::vector<std::unique_ptr<ReferencePattern>> owned;
    for (std::int32_t k = 1; k <= n; ++k) {
      if (level1[std::size_t(k)]) stack.emplace_back(level1[std::size_t(k)].get(), Nodes{k});
    }
    int compared = 0;
    while (!stack.empty() && compared < 400) {
      const auto [ref, nodes] = stack.back();
      stack.pop_back();
      const AttributedPattern* grown = chain.grow(nodes);
      ASSERT_NE(grown, nullptr);
      const AttributedPattern& p = *grown;
      ++compared;
      ASSERT_EQ(sorted(p.excluded), Nodes(ref->neighbors0.begin(), ref->neighbors0.end()));
      ASSERT_EQ(first_group(p), Nodes(ref->neighbors1.begin(), ref->neighbors1.end()));
      ASSERT_EQ(second_group(p), Nodes(ref->neighbors2.begin(), ref->neighbors2.end()));
      ASSERT_TRUE(p.profile.equals(ref->profile));
      for (std::size_t i = 0; i < p.candidates.size(); ++i) {
        const std::int32_t x = p.candidates[i];
        ASSERT_EQ(p.covered(i, chain.search), ref->covered(x, level1)) << "candidate " << x;
        ASSERT_EQ(p.same_profile(i, chain.search), ref->same_profile(x, level1)) << "candidate " << x;
        owned.push_back(std::make_unique<ReferencePattern>(*ref, x, chain.graph, level1, min_sup));
        Nodes longer = nodes;
        longer.push_back(x);
        stack.emplace_back(owned.back().get(), longer);
      }
    }
  }
}

}  // namespace
