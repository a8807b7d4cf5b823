// The listing search against the plain reference, byte for byte: lines, their order and the count,
// on random graphs of every density and size class the search treats apart, with size bounds, and
// split into parts as jobs would split it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <random>

#include "ListingSearch.h"
#include "ShortList.h"
#include "reference_cis.h"
#include "test_support.h"

namespace {

// This program's trials are heavy (a plain reference, both list codes, splits): under the sanitizers
// it takes a twelfth of them, to run in well under half a minute.
#ifdef QUARN_SANITIZED
constexpr int kTrialShare = 12;
#else
constexpr int kTrialShare = 1;
#endif
constexpr int listing_trials(int full) {
  return std::max(1, full / kTrialShare);
}

AdjacencyList graph_of(const EdgeVector& edges) {
  std::vector<Edge> list;
  std::int32_t max_node = -1;
  for (const auto& [u, v] : edges) {
    list.push_back({u, v});
    max_node = std::max({max_node, u, v});
  }
  return build_simple_graph(list, max_node);
}

using ListCode = ListingSearch::ListCode;

Enumeration list(const AdjacencyList& graph, SizeBounds bounds = {}, ListCode code = ListCode::fastest) {
  Enumeration result;
  ListingSearch search(graph, bounds, code);
  result.count =
      search.list_all([&](std::span<const char> block) { result.lines.append(block.data(), block.size()); });
  return result;
}

Enumeration list(const EdgeVector& edges, SizeBounds bounds = {}, ListCode code = ListCode::fastest) {
  return list(graph_of(edges), bounds, code);
}

std::int64_t size_of_line(const std::string& line) {
  return std::count(line.begin(), line.end(), ' ');
}

// The reference's lines whose patterns are within the bounds, in the same order.
Enumeration within(const Enumeration& all, SizeBounds bounds) {
  Enumeration kept;
  for (const std::string& line : split_lines(all.lines)) {
    const std::int64_t size = size_of_line(line);
    if (size < bounds.least || size > bounds.most) continue;
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
    for (const ListCode code : {ListCode::fastest, ListCode::general}) {
      const Enumeration got = list(c.edges, {}, code);
      EXPECT_EQ(got.lines, c.lines);
      EXPECT_EQ(got.count, split_lines(c.lines).size());
    }
  }
}

// Every list through the general code, as in builds without short lists, and short lists wherever
// they fit, as in builds with them.
TEST(ListingSearch, SameBytesAsThePlainSearchOnRandomGraphs) {
  // Up to 64 nodes the seen sets are one word, up to 128 two, past that a byte per node. Lists of up
  // to 8 keys of nodes with up to 8 neighbours are short lists, the rest general.
  struct Family {
    const char* name;
    int trials;
    int parts;
    int max_nodes;
    double max_density;
  };
  const Family families[] = {
      {"small, any density", 400, 1, 12, 1.0},    {"sparse, up to 26 nodes", 60, 1, 26, 0.15},
      {"dense, up to 16 nodes", 30, 1, 16, 1.0},  {"61 to 64 nodes", 30, 5, 13, 0.5},
      {"65 to 128 nodes", 60, 8, 14, 0.6},        {"more than 128 nodes", 60, 14, 14, 0.6},
      {"sparse, up to 64 nodes", 30, 4, 16, 0.3}, {"sparse, 65 to 128 nodes", 30, 8, 16, 0.3},
  };
  std::mt19937 random(4242);
  for (const Family& family : families) {
    SCOPED_TRACE(family.name);
    for (int trial = 0; trial < listing_trials(family.trials); ++trial) {
      const EdgeVector edges = family.parts == 1
                                   ? random_simple_graph(random, family.max_nodes, family.max_density)
                                   : random_union(random, family.parts, family.max_nodes, family.max_density);
      SCOPED_TRACE(edge_text(edges));
      const Enumeration expected = PlainMiner(edges).run();
      for (const ListCode code : {ListCode::fastest, ListCode::general}) {
        const Enumeration got = list(edges, {}, code);
        ASSERT_EQ(got.lines, expected.lines);
        ASSERT_EQ(got.count, expected.count);
      }
    }
  }
}

TEST(ListingSearch, RepeatedEdgesAndSelfLoopsInTheFile) {
  std::mt19937 random(5);
  for (int trial = 0; trial < listing_trials(200); ++trial) {
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
  for (int trial = 0; trial < listing_trials(12); ++trial) {
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
      {"path of 64 nodes", path_graph(64)},
      {"path of 100 nodes", path_graph(100)},
      {"path of 127 nodes: the highest level and node of a short key", path_graph(127)},
      {"star of 15 leaves", star_graph(15, 1)},
      {"star of 14 leaves, centre 7", star_graph(14, 7)},
      {"star of 14 leaves, centre last", star_graph(14, 15)},
      {"star of 12 leaves among 200 nodes", renumbered(star_graph(12, 5), shuffled)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Enumeration expected = PlainMiner(c.edges).run();
    for (const ListCode code : {ListCode::fastest, ListCode::general}) {
      const Enumeration got = list(c.edges, {}, code);
      ASSERT_EQ(got.lines, expected.lines);
      ASSERT_EQ(got.count, expected.count);
    }
  }
}

TEST(ListingSearch, SizeBoundsKeepTheLinesWithinThemInOrder) {
  const SizeBounds bounds[] = {{1, 1}, {1, 2},   {2, 3}, {3, 3}, {4, SizeBounds::kNoMost},
                               {2, 5}, {6, 100}, {5, 4}, {0, 2}};
  std::mt19937 random(99);
  for (int trial = 0; trial < listing_trials(120); ++trial) {
    const EdgeVector edges = trial % 3 == 0   ? random_simple_graph(random, 12)
                             : trial % 3 == 1 ? random_union(random, 6, 14, 0.6)
                                              : random_union(random, 12, 14, 0.6);
    SCOPED_TRACE(edge_text(edges));
    const Enumeration all = PlainMiner(edges).run();
    for (const SizeBounds& b : bounds) {
      SCOPED_TRACE("sizes " + std::to_string(b.least) + " to " + std::to_string(b.most));
      const Enumeration expected = within(all, b);
      const Enumeration got = list(edges, b, trial % 2 == 0 ? ListCode::fastest : ListCode::general);
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
  for (int trial = 0; trial < listing_trials(100); ++trial) {
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
  for (int trial = 0; trial < listing_trials(60); ++trial) {
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

// The byte shuffles of the short lists (ShortList.h), as the SIMD instruction applies them, against
// the rules they replay.
using Keys = std::array<std::uint16_t, short_list::kKeys>;

TEST(ShortList, PruneControlsKeepTheKeysAboveTheLastAsTheSearchMovesThem) {
  std::mt19937 random(3);
  for (std::uint32_t size = 0; size <= short_list::kKeys; ++size) {
    for (int trial = 0; trial < 300; ++trial) {
      Keys keys{};
      const std::uint16_t last = 500;
      std::uint32_t kept = 0;
      for (std::uint32_t lane = 0; lane < size; ++lane) {
        keys[lane] = std::uint16_t(random() % 1000 + 1);
        if (keys[lane] > last) kept |= 1u << lane;
      }
      // The search's rule: a key not above the last leaves its slot to the last key.
      Keys expected = keys;
      std::uint32_t left = size;
      for (std::uint32_t i = 0; i < left;) {
        if (expected[i] > last) {
          ++i;
        } else {
          expected[i] = expected[--left];
        }
      }
      for (std::uint32_t lane = left; lane < short_list::kKeys; ++lane) expected[lane] = 0;
      ASSERT_EQ(short_list::shuffle(keys, short_list::kPrune[kept]), expected) << "kept " << kept;
    }
  }
}

TEST(ShortList, RefillPackAndShiftControls) {
  const Keys keys{11, 22, 33, 44, 55, 66, 77, 88};
  for (std::uint32_t size = 1; size <= short_list::kKeys; ++size) {
    for (std::uint32_t slot = 0; slot < size; ++slot) {
      Keys expected{};
      for (std::uint32_t lane = 0; lane + 1 < size; ++lane) expected[lane] = keys[lane];
      if (slot + 1 < size) expected[slot] = keys[size - 1];
      EXPECT_EQ(short_list::shuffle(keys, short_list::kRefill[size * short_list::kKeys + slot]), expected)
          << "size " << size << ", slot " << slot;
    }
  }
  for (std::uint32_t mask = 0; mask < 256; ++mask) {
    Keys expected{};
    std::uint32_t to = 0;
    for (std::uint32_t lane = 0; lane < short_list::kKeys; ++lane) {
      if ((mask >> lane & 1) != 0) expected[to++] = keys[lane];
    }
    EXPECT_EQ(short_list::shuffle(keys, short_list::kPack[mask]), expected) << "mask " << mask;
  }
  for (std::uint32_t shift = 0; shift <= short_list::kKeys; ++shift) {
    Keys expected{};
    for (std::uint32_t lane = shift; lane < short_list::kKeys; ++lane) expected[lane] = keys[lane - shift];
    EXPECT_EQ(short_list::shuffle(keys, short_list::kShift[shift]), expected) << "shift " << shift;
  }
}

// Lists parts as threads would: at random points a part gives away work it has not started, and every
// part given away is listed the same way, after the lines of the part that gave it, the last given
// first. Without keep_bytes, a part gives away the children it has not started of its shallowest
// pattern that has some; with it, everything after a cut as deep as a random keep_bytes makes it.
class RandomSplitter {
 public:
  // A waiting worker takes one offer in accept_one_in; unless always_wanted, one part in four is
  // listed with no worker waiting.
  RandomSplitter(ListingSearch& search, std::mt19937& random, std::uint32_t accept_one_in,
                 bool always_wanted = false, bool keep_bytes = false)
      : search_(search),
        random_(random),
        accept_one_in_(accept_one_in),
        always_wanted_(always_wanted),
        with_keep_bytes_(keep_bytes) {}

  // The lines of part, and after them the lines of the parts it gave away, the last given first,
  // each listed the same way.
  Enumeration list(const ListingSearch::Part& part) {
    Enumeration result;
    std::vector<ListingSearch::Part> pending{part};
    while (!pending.empty()) {
      const ListingSearch::Part next = std::move(pending.back());
      pending.pop_back();
      const std::size_t start = result.lines.size();
      std::vector<ListingSearch::Part> given;
      const std::uint64_t count = list_giving(next, result.lines, given);
      EXPECT_EQ(count, std::uint64_t(std::count(result.lines.begin() + std::ptrdiff_t(start),
                                                result.lines.end(), '\n')));
      result.count += count;
      parts_ += given.size();
      // Checked after the listing: the search cannot answer questions while it runs.
      for (const ListingSearch::Part& g : given) check_given(next, g);
      // The last given ends on top, to be listed first.
      for (ListingSearch::Part& g : given) pending.push_back(std::move(g));
    }
    return result;
  }

  std::size_t parts() const { return parts_; }
  std::size_t deepest_path() const { return deepest_path_; }
  // Parts given away that go on above the pattern their path reaches.
  std::size_t parts_with_ends() const { return parts_with_ends_; }

 private:
  // A part given away starts at a pattern on the giver's way down from its base, and goes on at most
  // up to that base.
  void check_given(const ListingSearch::Part& part, const ListingSearch::Part& offered) {
    deepest_path_ = std::max(deepest_path_, offered.path.size());
    parts_with_ends_ += offered.ends.empty() ? 0 : 1;
    EXPECT_EQ(offered.root, part.root);
    EXPECT_FALSE(offered.own_line);
    if (offered.ends.empty()) {
      EXPECT_LT(offered.first_child, offered.last_child);
    }
    const std::size_t part_base = part.path.size() - part.ends.size();
    ASSERT_GE(offered.path.size() - offered.ends.size(), part_base);
    EXPECT_TRUE(
        std::equal(part.path.begin(), part.path.begin() + std::ptrdiff_t(part_base), offered.path.begin()));
    if (!with_keep_bytes_) {
      EXPECT_TRUE(offered.ends.empty());
    }
    if (offered.path.size() == part.path.size() && part.ends.empty() && offered.ends.empty()) {
      EXPECT_GT(offered.first_child, part.first_child);
      EXPECT_LE(offered.last_child, part.last_child);
    }
    EXPECT_LE(offered.last_child, search_.child_count(offered.root, offered.path));
  }

  // Lists one part, appending its lines to lines and the parts it gives away to given.
  std::uint64_t list_giving(const ListingSearch::Part& part, std::string& lines,
                            std::vector<ListingSearch::Part>& given) {
    wanted_ = always_wanted_ || random_() % 4 != 0 ? 1 : 0;
    constexpr std::uint64_t kKeepBytes[] = {0, 1, 40, 1000, 30000, UINT64_MAX / 2};
    keep_bytes_ = kKeepBytes[random_() % std::size(kKeepBytes)];
    ListingSearch::Splitting splitting{&wanted_,
                                       [&](ListingSearch::Part&& offered) {
                                         // Now and then the waiting worker finds work elsewhere.
                                         if (random_() % 1000 == 0) wanted_ = 0;
                                         if (random_() % accept_one_in_ != 0) return false;
                                         given.push_back(std::move(offered));
                                         return true;
                                       },
                                       with_keep_bytes_ ? &keep_bytes_ : nullptr};
    return search_.list_part(
        part, [&](std::span<const char> block) { lines.append(block.data(), block.size()); }, splitting);
  }

  ListingSearch& search_;
  std::mt19937& random_;
  std::uint32_t accept_one_in_;
  bool always_wanted_;
  bool with_keep_bytes_;
  std::atomic<unsigned> wanted_{0};
  std::atomic<std::uint64_t> keep_bytes_{0};
  std::size_t parts_ = 0;
  std::size_t deepest_path_ = 0;
  std::size_t parts_with_ends_ = 0;
};

// Every root's listing split at random and joined again, against the whole listing; returns the
// number of parts given away.
std::size_t expect_split_listings_join(const AdjacencyList& graph, SizeBounds bounds, std::mt19937& random,
                                       bool always_wanted = false, std::size_t* with_ends = nullptr) {
  ListingSearch search(graph, bounds);
  Enumeration whole;
  whole.count = search.list_all([&](std::span<const char> b) { whole.lines.append(b.data(), b.size()); });
  RandomSplitter splitter(search, random, 1 + std::uint32_t(random() % 30), always_wanted,
                          with_ends != nullptr);
  Enumeration joined;
  for (std::int32_t root = 1; root < graph.node_slots(); ++root) {
    const Enumeration one = splitter.list({root, {}, 0, std::numeric_limits<std::uint32_t>::max(), true});
    joined.lines += one.lines;
    joined.count += one.count;
  }
  EXPECT_EQ(joined.lines, whole.lines);
  EXPECT_EQ(joined.count, whole.count);
  if (with_ends != nullptr) *with_ends += splitter.parts_with_ends();
  return splitter.parts();
}

constexpr int kSplitTrials = listing_trials(300);

TEST(ListingSearch, PartsGivenAwayJoinedInOrderGiveTheWholeListing) {
  std::mt19937 random(2024);
  std::size_t parts = 0;
  for (int trial = 0; trial < kSplitTrials; ++trial) {
    const EdgeVector edges = trial % 3 == 0   ? random_simple_graph(random, 12)
                             : trial % 3 == 1 ? random_simple_graph(random, 22, 0.25)
                                              : random_union(random, 6 + trial % 7, 14, 0.5);
    SCOPED_TRACE(edge_text(edges));
    const SizeBounds bounds = trial % 5 == 0   ? SizeBounds{2, 5}
                              : trial % 5 == 1 ? SizeBounds{4, 7}
                                               : SizeBounds{};
    const AdjacencyList graph = graph_of(edges);
    if (bounds.least == 1 && bounds.most == SizeBounds::kNoMost) {
      ASSERT_EQ(list(graph).lines, PlainMiner(edges).run().lines);
    }
    parts += expect_split_listings_join(graph, bounds, random);
    if (HasFailure()) return;
  }
  EXPECT_GT(parts, std::size_t(kSplitTrials));  // the splitting did happen, many times
}

// Giving away everything after a cut near the pattern in progress: the rest of the part goes on up to
// its base, and a part that goes on so splits again the same way.
TEST(ListingSearch, PartsCutNearWhereTheSearchIsJoinedInOrderGiveTheWholeListing) {
  std::mt19937 random(31337);
  std::size_t parts = 0;
  std::size_t with_ends = 0;
  for (int trial = 0; trial < kSplitTrials / 2; ++trial) {
    const EdgeVector edges = trial % 3 == 0   ? random_simple_graph(random, 13)
                             : trial % 3 == 1 ? random_simple_graph(random, 20, 0.3)
                                              : random_union(random, 5 + trial % 5, 14, 0.5);
    SCOPED_TRACE(edge_text(edges));
    const SizeBounds bounds = trial % 4 == 0 ? SizeBounds{3, 6} : SizeBounds{};
    parts += expect_split_listings_join(graph_of(edges), bounds, random, trial % 2 == 0, &with_ends);
    if (HasFailure()) return;
  }
  EXPECT_GT(parts, std::size_t(kSplitTrials / 2));
  EXPECT_GT(with_ends, parts / 10);  // many parts went on above their own pattern
}

TEST(ListingSearch, PartsGivenAwayOnTheFamilies) {
  std::mt19937 random(77);
  // A path has nothing to give away: each of its patterns has at most one child.
  const std::pair<const char*, std::string> families[] = {
      {"path of 40 nodes", path(40)},
      {"grid 4x4", grid(4, 4)},
      {"complete 11", complete(11)},
      {"complete bipartite 5, 6", complete_bipartite(5, 6)},
      {"star of 12 leaves", star(12)},
      {"random tree of 24 nodes", random_tree(24)},
      {"random tree of 150 nodes, sizes up to 6", random_tree(150)},
  };
  for (const auto& [name, text] : families) {
    SCOPED_TRACE(name);
    const EdgeList edges = edges_of(text);
    const AdjacencyList graph = build_simple_graph(edges.edges, edges.max_node);
    const SizeBounds bounds = graph.node_slots() > 128 ? SizeBounds{1, 6} : SizeBounds{};
    std::size_t parts = 0;
    for (int round = 0; round < listing_trials(4); ++round)
      parts += expect_split_listings_join(graph, bounds, random, true);
    if (std::string(name).starts_with("path")) {
      EXPECT_EQ(parts, 0u);
    } else {
      EXPECT_GT(parts, 0u);
    }
  }
}

// A part of a pattern's children, and parts below the root, split as well.
TEST(ListingSearch, PartsBelowTheRootGiveAwayTheirOwnChildrenOnly) {
  std::mt19937 random(5150);
  std::uint64_t lines = 0;
  std::size_t parts = 0;
  for (int trial = 0; trial < kSplitTrials / 4; ++trial) {
    const EdgeVector edges = random_simple_graph(random, 13, 0.8);
    SCOPED_TRACE(edge_text(edges));
    const AdjacencyList graph = graph_of(edges);
    ListingSearch search(graph);
    // Cut near the pattern in progress, a part given away goes on up to this part's own range.
    RandomSplitter splitter(search, random, 4, true, trial % 2 == 0);
    for (std::int32_t root = 1; root < graph.node_slots(); ++root) {
      // Walk down at random to a pattern, and list a random range of its children, with or without
      // its own line.
      std::vector<std::uint32_t> path;
      while (random() % 3 != 0) {
        const std::uint32_t children = search.child_count(root, path);
        if (children == 0) break;
        path.push_back(std::uint32_t(random() % children));
      }
      const std::uint32_t children = search.child_count(root, path);
      const std::uint32_t first = std::uint32_t(random() % (children + 1));
      const std::uint32_t last = first + std::uint32_t(random() % (children + 2 - first));
      const ListingSearch::Part part{root, path, first, last, random() % 2 == 0};
      Enumeration whole;
      whole.count =
          search.list_part(part, [&](std::span<const char> b) { whole.lines.append(b.data(), b.size()); });
      const Enumeration joined = splitter.list(part);
      ASSERT_EQ(joined.lines, whole.lines);
      ASSERT_EQ(joined.count, whole.count);
      lines += whole.count;
    }
    parts += splitter.parts();
  }
  EXPECT_GT(lines, std::uint64_t(10 * kSplitTrials / 4));
  EXPECT_GT(parts, std::size_t(kSplitTrials / 4));
}

// Rebuilding a part given away replays its path of slots, which can be thousands long: a path of
// 2,000 nodes (numbered at random) ending in a small dense cluster, listed from its first node; and a
// path whose first node lies in the middle, so that every pattern can grow at both ends.
TEST(ListingSearch, PartsGivenAwayDeepInTheSearch) {
  std::mt19937 random(9);
  const int length = 2000;
  std::vector<int> numbers(length + 8);
  std::iota(numbers.begin(), numbers.end(), 0);
  std::shuffle(numbers.begin() + 2, numbers.end(), random);
  EdgeVector edges = path_graph(length);
  for (int leaf = length + 1; leaf <= length + 6; ++leaf) {
    edges.emplace_back(length, leaf);
    if (leaf > length + 1) edges.emplace_back(leaf - 1, leaf);
  }
  const AdjacencyList deep = graph_of(renumbered(edges, numbers));
  EdgeVector both_ways;
  for (int i = 1; i < 120; ++i) both_ways.emplace_back(i == 1 ? 1 : 2 * i - 2, 2 * i);
  for (int i = 1; i < 120; ++i) both_ways.emplace_back(i == 1 ? 1 : 2 * i - 1, 2 * i + 1);
  const AdjacencyList middle = graph_of(both_ways);
  struct Case {
    const char* name;
    const AdjacencyList& graph;
    SizeBounds bounds;
    std::uint32_t accept_one_in;  // at most: the few offers in the cluster must give some parts
  };
  const Case cases[] = {
      {"deep path, all sizes", deep, {}, 4},
      {"deep path, sizes from 1,990", deep, {1990, SizeBounds::kNoMost}, 4},
      {"deep path, sizes 1,995 to 2,003", deep, {1995, 2003}, 4},
      {"path from its middle", middle, {}, 1},
      {"path from its middle, sizes 100 to 140", middle, {100, 140}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ListingSearch search(c.graph, c.bounds);
    const ListingSearch::Part first_root{1, {}, 0, std::numeric_limits<std::uint32_t>::max(), true};
    Enumeration whole;
    whole.count = search.list_part(first_root,
                                   [&](std::span<const char> b) { whole.lines.append(b.data(), b.size()); });
    std::size_t deepest = 0;
    for (int round = 0; round < listing_trials(3); ++round) {
      RandomSplitter splitter(search, random, 1 + std::uint32_t(random() % c.accept_one_in), true);
      const Enumeration joined = splitter.list(first_root);
      ASSERT_EQ(joined.lines, whole.lines);
      ASSERT_EQ(joined.count, whole.count);
      deepest = std::max(deepest, splitter.deepest_path());
    }
    EXPECT_GT(deepest, c.graph.node_slots() > 1000 ? std::size_t(1900) : std::size_t(100));
  }
}

// Full blocks traded away whole give the same lines as the sink; a trade that fails after taking the
// block leaves the search usable.
TEST(ListingSearch, BlocksTradedWholeGiveTheLinesAndAFailedTradeLeavesTheSearchUsable) {
  const EdgeList edges = edges_of(complete(18));
  const AdjacencyList graph = build_simple_graph(edges.edges, edges.max_node);
  const Enumeration whole = list(graph);
  ASSERT_GT(whole.lines.size(), std::size_t(3) << 20);  // several full blocks
  ListingSearch search(graph);
  std::string traded;
  std::size_t trades = 0;
  search.trade_full_blocks([&](LineBuffer& block, std::size_t used) {
    traded.append(block.data(), used);
    ++trades;
    block = LineBuffer(used == 0 ? 1 : 100);  // any size: the search makes room for itself
  });
  const std::uint64_t count =
      search.list_all([&](std::span<const char> b) { traded.append(b.data(), b.size()); });
  EXPECT_GE(trades, 3u);
  EXPECT_EQ(count, whole.count);
  ASSERT_EQ(traded, whole.lines);

  struct Failed {};
  search.trade_full_blocks([](LineBuffer& block, std::size_t) {
    const LineBuffer taken = std::move(block);
    throw Failed{};
  });
  EXPECT_THROW(search.list_part({1, {}, 0, std::numeric_limits<std::uint32_t>::max(), true},
                                [](std::span<const char>) {}),
               Failed);
  search.trade_full_blocks({});
  std::string again;
  search.list_all([&](std::span<const char> b) { again.append(b.data(), b.size()); });
  EXPECT_EQ(again, whole.lines);
}

// A worker stopped by a failure elsewhere: its offer throws. The search stays usable.
TEST(ListingSearch, AnOfferThatThrowsLeavesTheSearchUsable) {
  std::mt19937 random(61);
  for (int trial = 0; trial < listing_trials(40); ++trial) {
    // Past 128 nodes the seen marks live in the search, and must not outlast the failed part.
    const EdgeVector edges = random_union(random, 14, 14, 0.5);
    SCOPED_TRACE(edge_text(edges));
    const AdjacencyList graph = graph_of(edges);
    ListingSearch search(graph);
    const Enumeration whole = list(graph);
    std::atomic<unsigned> wanted{1};
    struct Stopped {};
    int offers_left = 1 + int(random() % 20);
    const ListingSearch::Splitting stopping{&wanted, [&](ListingSearch::Part&&) -> bool {
                                              if (--offers_left == 0) throw Stopped{};
                                              return false;
                                            }};
    for (std::int32_t root = 1; root < graph.node_slots() && offers_left > 0; ++root) {
      try {
        search.list_part(
            {root, {}, 0, std::numeric_limits<std::uint32_t>::max(), true}, [](std::span<const char>) {},
            stopping);
      } catch (const Stopped&) {
      }
    }
    std::string again;
    search.list_all([&](std::span<const char> b) { again.append(b.data(), b.size()); });
    ASSERT_EQ(again, whole.lines);
  }
}

}  // namespace
