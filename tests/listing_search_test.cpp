// The listing search against the plain reference, byte for byte: lines, their order and the count,
// on random graphs of every density and size class the search treats apart, with size bounds, and
// split into parts as jobs would split it.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "ListingSearch.h"
#include "reference_cis.h"

namespace {

AdjacencyList graph_of(const EdgeVector& edges) {
  std::vector<Edge> list;
  std::int32_t max_node = -1;
  for (const auto& [u, v] : edges) {
    list.push_back({u, v});
    max_node = std::max({max_node, u, v});
  }
  return build_simple_graph(list, max_node);
}

Enumeration list(const AdjacencyList& graph, SizeBounds bounds = {}) {
  Enumeration result;
  ListingSearch search(graph, bounds);
  result.count =
      search.list_all([&](std::span<const char> block) { result.lines.append(block.data(), block.size()); });
  return result;
}

Enumeration list(const EdgeVector& edges, SizeBounds bounds = {}) {
  return list(graph_of(edges), bounds);
}

std::int64_t size_of_line(const std::string& line) {
  return std::count(line.begin(), line.end(), ' ');
}

// The reference's lines whose patterns are within the bounds, in the same order.
Enumeration within(const Enumeration& all, SizeBounds bounds) {
  Enumeration kept;
  for (const std::string& line : split_lines(all.lines)) {
    const std::int64_t size = size_of_line(line);
    if (size < bounds.min || size > bounds.max) continue;
    kept.lines += line + "\n";
    ++kept.count;
  }
  return kept;
}

// Nodes renumbered: node u becomes numbers[u].
EdgeVector renumbered(const EdgeVector& edges, const std::vector<int>& numbers) {
  EdgeVector result;
  for (const auto& [u, v] : edges) result.emplace_back(numbers[std::size_t(u)], numbers[std::size_t(v)]);
  return result;
}

// Several random graphs side by side, numbered one after another, edge lines shuffled together:
// many nodes, yet few patterns.
EdgeVector random_union(std::mt19937& random, int parts, int max_nodes, double max_density) {
  EdgeVector all;
  int offset = 0;
  for (int p = 0; p < parts; ++p) {
    const EdgeVector part = random_simple_graph(random, max_nodes, max_density);
    int largest = 0;
    for (const auto& [u, v] : part) {
      // Node 0 of a later part is a node like any other.
      all.emplace_back(u + offset, v + offset);
      largest = std::max({largest, u, v});
    }
    offset += largest + 1;
  }
  std::shuffle(all.begin(), all.end(), random);
  return all;
}

EdgeVector path_graph(int n) {
  EdgeVector edges;
  for (int i = 1; i < n; ++i) edges.emplace_back(i, i + 1);
  return edges;
}

EdgeVector star_graph(int leaves, int centre) {
  EdgeVector edges;
  for (int leaf = 1; leaf <= leaves + 1; ++leaf) {
    if (leaf != centre) edges.emplace_back(centre, leaf);
  }
  return edges;
}

TEST(ListingSearch, WorkedExamples) {
  struct Case {
    EdgeVector edges;
    std::string lines;
  };
  const Case cases[] = {
      {{{1, 3}, {1, 2}, {2, 4}, {3, 4}},
       "1 \n1 3 \n1 3 4 \n1 2 \n1 2 3 \n1 2 3 4 \n1 2 4 \n2 \n2 4 \n2 4 3 \n3 \n3 4 \n4 \n"},
      {{{2, 5}}, "1 \n2 \n2 5 \n3 \n4 \n5 \n"},
      {{{1, 2}, {2, 3}}, "1 \n1 2 \n1 2 3 \n2 \n2 3 \n3 \n"},
      {{{3, 1}, {1, 2}}, "1 \n1 3 \n1 2 \n1 2 3 \n2 \n3 \n"},
      {{{0, 1}}, "1 \n"},
      {{{0, 0}}, ""},
      {{}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(edge_text(c.edges));
    const Enumeration got = list(c.edges);
    EXPECT_EQ(got.lines, c.lines);
    EXPECT_EQ(got.count, split_lines(c.lines).size());
  }
}

TEST(ListingSearch, SameBytesAsThePlainSearchOnRandomGraphs) {
  // Up to 64 nodes the seen sets are one word, up to 128 two, past that a byte per node.
  struct Family {
    const char* name;
    int trials;
    int parts;
    int max_nodes;
    double max_density;
  };
  const Family families[] = {
      {"small, any density", 400, 1, 12, 1.0},   {"sparse, up to 26 nodes", 60, 1, 26, 0.15},
      {"dense, up to 16 nodes", 30, 1, 16, 1.0}, {"61 to 64 nodes", 30, 5, 13, 0.5},
      {"65 to 128 nodes", 60, 8, 14, 0.6},       {"more than 128 nodes", 60, 14, 14, 0.6},
  };
  std::mt19937 random(4242);
  for (const Family& family : families) {
    SCOPED_TRACE(family.name);
    for (int trial = 0; trial < family.trials; ++trial) {
      const EdgeVector edges = family.parts == 1
                                   ? random_simple_graph(random, family.max_nodes, family.max_density)
                                   : random_union(random, family.parts, family.max_nodes, family.max_density);
      SCOPED_TRACE(edge_text(edges));
      const Enumeration expected = PlainMiner(edges).run();
      const Enumeration got = list(edges);
      ASSERT_EQ(got.lines, expected.lines);
      ASSERT_EQ(got.count, expected.count);
    }
  }
}

TEST(ListingSearch, RepeatedEdgesAndSelfLoopsInTheFile) {
  std::mt19937 random(5);
  for (int trial = 0; trial < 200; ++trial) {
    const EdgeVector edges =
        trial % 2 == 0 ? random_simple_graph(random, 10) : random_union(random, 10, 14, 0.5);
    SCOPED_TRACE(edge_text(edges));
    EdgeVector noisy;
    for (const auto& edge : edges) {
      noisy.push_back(edge);
      if (random() % 3 == 0) noisy.emplace_back(edge.second, edge.first);
      if (random() % 5 == 0) noisy.emplace_back(edge.first, edge.first);
    }
    for (std::size_t i = 0; i < edges.size(); i += 2) noisy.push_back(edges[i]);
    ASSERT_EQ(list(noisy).lines, PlainMiner(edges).run().lines);
  }
}

TEST(ListingSearch, HighNodeNumbersChangeTheTextWidth) {
  std::mt19937 random(31);
  for (int trial = 0; trial < 12; ++trial) {
    const EdgeVector small = random_simple_graph(random, 11, 0.7);
    // Most nodes keep their numbers; a few move to the millions, one of them to the largest.
    std::vector<int> numbers(12);
    std::iota(numbers.begin(), numbers.end(), 0);
    numbers[std::size_t(random() % 12)] = 1'000'000 + int(random() % 1000);
    numbers[std::size_t(random() % 12)] = 2'500'000;
    if (numbers[0] != 0 && trial % 2 == 0) numbers[0] = 0;
    const EdgeVector edges = renumbered(small, numbers);
    SCOPED_TRACE(edge_text(edges));
    const Enumeration expected = PlainMiner(edges).run();
    const Enumeration got = list(edges);
    ASSERT_EQ(got.lines, expected.lines);
    ASSERT_EQ(got.count, expected.count);
  }
}

TEST(ListingSearch, DeepPathsAndLongCandidateLists) {
  std::mt19937 random(8);
  std::vector<int> shuffled(201);
  std::iota(shuffled.begin(), shuffled.end(), 0);
  std::shuffle(shuffled.begin() + 1, shuffled.end(), random);
  struct Case {
    std::string name;
    EdgeVector edges;
  };
  const Case cases[] = {
      {"path of 200 nodes", path_graph(200)},
      {"path of 200 nodes, numbered at random", renumbered(path_graph(200), shuffled)},
      {"path of 60 nodes", path_graph(60)},
      {"path of 100 nodes", path_graph(100)},
      {"star of 15 leaves", star_graph(15, 1)},
      {"star of 14 leaves, centre 7", star_graph(14, 7)},
      {"star of 14 leaves, centre last", star_graph(14, 15)},
      {"star of 12 leaves among 200 nodes", renumbered(star_graph(12, 5), shuffled)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Enumeration expected = PlainMiner(c.edges).run();
    const Enumeration got = list(c.edges);
    ASSERT_EQ(got.lines, expected.lines);
    ASSERT_EQ(got.count, expected.count);
  }
}

TEST(ListingSearch, SizeBoundsKeepTheLinesWithinThemInOrder) {
  const SizeBounds bounds[] = {{1, 1}, {1, 2},   {2, 3}, {3, 3}, {4, SizeBounds{}.max},
                               {2, 5}, {6, 100}, {5, 4}, {0, 2}};
  std::mt19937 random(99);
  for (int trial = 0; trial < 120; ++trial) {
    const EdgeVector edges = trial % 3 == 0   ? random_simple_graph(random, 12)
                             : trial % 3 == 1 ? random_union(random, 6, 14, 0.6)
                                              : random_union(random, 12, 14, 0.6);
    SCOPED_TRACE(edge_text(edges));
    const Enumeration all = PlainMiner(edges).run();
    for (const SizeBounds& b : bounds) {
      SCOPED_TRACE("sizes " + std::to_string(b.min) + " to " + std::to_string(b.max));
      const Enumeration expected = within(all, b);
      const Enumeration got = list(edges, b);
      ASSERT_EQ(got.lines, expected.lines);
      ASSERT_EQ(got.count, expected.count);
      const AdjacencyList graph = graph_of(edges);
      ListingSearch counting(graph, b);
      ASSERT_EQ(counting.list_all({}), expected.count);
    }
  }
}

TEST(ListingSearch, CountsWithoutASink) {
  std::mt19937 random(17);
  for (int trial = 0; trial < 100; ++trial) {
    const EdgeVector edges =
        trial % 2 == 0 ? random_simple_graph(random, 14) : random_union(random, 10, 14, 0.5);
    SCOPED_TRACE(edge_text(edges));
    const AdjacencyList graph = graph_of(edges);
    ListingSearch search(graph);
    ASSERT_EQ(search.list_all({}), PlainMiner(edges).run().count);
  }
}

// A job lists the children [first, last) of one pattern; the parts of a pattern in order are its
// listing, and the part of one child is the listing of the pattern one level down.
TEST(ListingSearch, PartsOfAPatternGiveItsListing) {
  std::mt19937 random(123);
  for (int trial = 0; trial < 60; ++trial) {
    const EdgeVector edges =
        trial % 2 == 0 ? random_simple_graph(random, 11) : random_union(random, 9, 14, 0.5);
    SCOPED_TRACE(edge_text(edges));
    const AdjacencyList graph = graph_of(edges);
    const SizeBounds bounds = trial % 3 == 0 ? SizeBounds{2, 5} : SizeBounds{};
    ListingSearch search(graph, bounds);
    std::string whole;
    const std::uint64_t count =
        search.list_all([&](std::span<const char> b) { whole.append(b.data(), b.size()); });
    std::string joined;
    std::uint64_t joined_count = 0;
    auto part = [&](const ListingSearch::Part& p) {
      std::string text;
      const std::uint64_t n =
          search.list_part(p, [&](std::span<const char> b) { text.append(b.data(), b.size()); });
      EXPECT_EQ(n, split_lines(text).size());
      return std::pair(text, n);
    };
    for (std::int32_t root = 1; root < graph.node_slots(); ++root) {
      // The root's listing cut after a random child, and the second piece cut again one level down.
      std::vector<std::uint32_t> path;
      const std::uint32_t children = search.child_count(root, path);
      const std::uint32_t cut = children == 0 ? 0 : std::uint32_t(random() % (children + 1));
      const auto [head, head_count] = part({root, path, 0, cut, true});
      joined += head;
      joined_count += head_count;
      for (std::uint32_t c = cut; c < children; ++c) {
        const auto [one, one_count] = part({root, path, c, c + 1, false});
        const std::vector<std::uint32_t> down{c};
        const std::uint32_t grandchildren = search.child_count(root, down);
        const std::uint32_t split = grandchildren == 0 ? 0 : std::uint32_t(random() % (grandchildren + 1));
        const auto [first, first_count] = part({root, down, 0, split, true});
        const auto [rest, rest_count] = part({root, down, split, grandchildren + 3, false});
        ASSERT_EQ(first + rest, one);
        ASSERT_EQ(first_count + rest_count, one_count);
        joined += one;
        joined_count += one_count;
      }
    }
    ASSERT_EQ(joined, whole);
    ASSERT_EQ(joined_count, count);
    // Paths that leave the search list nothing.
    EXPECT_EQ(part({1, {std::uint32_t(graph.node_slots())}, 0, 1, true}).second, 0u);
    EXPECT_EQ(search.child_count(1, std::vector<std::uint32_t>{std::uint32_t(graph.node_slots())}), 0u);
  }
}

}  // namespace
