#include "SearchShapes.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace {

// CIS work: a visit, a line's fixed cost and its bytes, and going down into a pattern.
constexpr std::uint64_t kListingVisit = 16;
constexpr std::uint64_t kListingLine = 24;
constexpr std::uint64_t kListingEnter = 32;
constexpr std::uint64_t kListingPerCandidate = 2;
// The most nodes of the forest behind a child's kind: the guess stops growing there.
constexpr std::size_t kForestNodes = 256;

// MCS work: a visit (the extension that made the pattern), a candidate tested against one other
// neighbour, and a reported line by its nodes.
constexpr std::uint64_t kAttributedVisit = 64;
constexpr std::uint64_t kAttributedTest = 1;
constexpr std::uint64_t kAttributedLine = 32;
constexpr std::uint64_t kAttributedPerNode = 8;

}  // namespace

ListingShape::ListingShape(const AdjacencyList& graph, SizeBounds bounds)
    : graph_(graph), search_(graph, bounds), bounds_(bounds) {
  std::uint64_t bytes = 0;
  for (std::int32_t u = 1; u < graph.node_slots(); ++u) {
    char digits[16];
    bytes += std::uint64_t(std::to_chars(digits, digits + sizeof digits, u).ptr - digits) + 1;
  }
  if (graph.node_slots() > 1) label_bytes_ = bytes / std::uint64_t(graph.node_slots() - 1);
}

std::uint64_t ListingShape::pattern_work(std::uint64_t size, std::uint64_t line_bytes,
                                         std::uint64_t children) const {
  std::uint64_t work = kListingVisit;
  if (size >= std::uint64_t(bounds_.least)) work += kListingLine + line_bytes;
  if (children > 0) work += kListingEnter + kListingPerCandidate * children;
  return work;
}

std::uint64_t ListingShape::root_guess(std::int32_t root) {
  std::uint32_t above = 0;
  for (const std::int32_t w : graph_.of(root)) above += w > root ? 1 : 0;
  return std::uint64_t{1} << std::min<std::uint32_t>(above, 62);
}

void ListingShape::see_pattern(std::span<const std::int32_t> pattern) {
  if (seen_at_.empty()) {
    const auto slots = std::size_t(graph_.node_slots());
    seen_at_.assign(slots, 0);
    level_.assign(slots, 0);
    in_pattern_.assign(slots, 0);
    reached_at_.assign(slots, 0);
    subtrees_.assign(slots, 0);
  }
  ++pattern_stamp_;
  const std::int32_t root = pattern[0];
  seen_at_[std::size_t(root)] = pattern_stamp_;
  level_[std::size_t(root)] = 0;
  frontier_.clear();
  for (const std::int32_t u : pattern) {
    in_pattern_[std::size_t(u)] = 1;
    for (const std::int32_t w : graph_.of(u)) {
      if (seen_at_[std::size_t(w)] == pattern_stamp_) continue;
      seen_at_[std::size_t(w)] = pattern_stamp_;
      level_[std::size_t(w)] = level_[std::size_t(u)] + 1;
      in_pattern_[std::size_t(w)] = 0;
      if (w > root) frontier_.push_back(w);
    }
  }
}

std::uint64_t ListingShape::child_guess(std::span<const std::int32_t> pattern, std::int32_t node) {
  const std::int32_t root = pattern[0];
  const std::uint64_t level = level_[std::size_t(node)];
  auto seen = [&](std::int32_t u) { return seen_at_[std::size_t(u)] == pattern_stamp_; };
  // The child's candidates: the pattern's of larger key than the node's, and the node's new
  // neighbours; then the unseen nodes they reach, breadth first, as deep as a pattern may still grow.
  ++child_stamp_;
  forest_.clear();
  parent_.clear();
  depth_.clear();
  auto reach = [&](std::int32_t u, std::int32_t parent, std::uint32_t depth) {
    reached_at_[std::size_t(u)] = child_stamp_;
    forest_.push_back(u);
    parent_.push_back(parent);
    depth_.push_back(depth);
  };
  for (const std::int32_t w : frontier_) {
    if (in_pattern_[std::size_t(w)] != 0 || w == node) continue;
    const std::uint64_t w_level = level_[std::size_t(w)];
    if (w_level > level || (w_level == level && w > node)) reach(w, -1, 0);
  }
  for (const std::int32_t w : graph_.of(node)) {
    if (!seen(w) && w > root && reached_at_[std::size_t(w)] != child_stamp_) reach(w, -1, 0);
  }
  const std::size_t candidates = forest_.size();
  // The levels of the forest that patterns within the most size can reach.
  const std::uint64_t most = std::uint64_t(bounds_.most);
  const std::uint64_t room = most - std::min(most, pattern.size() + 2);
  for (std::size_t i = 0; i < forest_.size() && forest_.size() < kForestNodes; ++i) {
    if (depth_[i] >= room) continue;
    for (const std::int32_t w : graph_.of(forest_[i])) {
      if (seen(w) || w <= root || w == node || reached_at_[std::size_t(w)] == child_stamp_) continue;
      reach(w, std::int32_t(i), depth_[i] + 1);
    }
  }
  // Subtrees through each node of the forest, leaves first.
  for (std::size_t i = 0; i < forest_.size(); ++i) subtrees_[std::size_t(forest_[i])] = 1;
  for (std::size_t i = forest_.size(); i-- > candidates;) {
    const std::size_t parent = std::size_t(forest_[std::size_t(parent_[i])]);
    subtrees_[parent] = times_work(subtrees_[parent], add_work(1, subtrees_[std::size_t(forest_[i])]));
  }
  std::uint64_t guess = 1;
  for (std::size_t i = 0; i < candidates; ++i) {
    guess = times_work(guess, add_work(1, subtrees_[std::size_t(forest_[i])]));
  }
  return guess;
}

void ListingShape::expand(std::int32_t root, std::span<const std::uint32_t> path, Expansion& expansion) {
  walk_.clear();
  std::vector<std::uint64_t>& guesses = expansion.guesses;
  search_.walk_down(
      root, path,
      [&](const ListingSearch::WalkView& view) {
        see_pattern(view.pattern);
        for (const std::int32_t node : view.children) guesses.push_back(child_guess(view.pattern, node));
        return ListingSearch::kStopWalk;
      },
      walk_);
  steps_ += path.size() + 1;
  if (walk_.empty()) return;
  const ListingSearch::WalkStep pattern = walk_[0];
  const std::uint64_t size = path.size() + 1;
  expansion.own_work = pattern_work(size, pattern.line_bytes, pattern.children);
  if (pattern.children > 0 && guesses.empty()) {
    // Children of the most size: the search lists them without going down.
    expansion.leaves_work =
        times_work(pattern_work(size + 1, pattern.line_bytes + label_bytes_, 0), pattern.children);
    return;
  }
  expansion.slots.resize(guesses.size());
  for (std::uint32_t slot = 0; slot < expansion.slots.size(); ++slot) expansion.slots[slot] = slot;
}

std::uint32_t ListingShape::children_end(std::int32_t root, std::span<const std::uint32_t> path) {
  steps_ += path.size() + 1;
  return search_.child_count(root, path);
}

AttributedShape::AttributedShape(const SearchGraph& graph, std::int32_t min_graph_size)
    : graph_(graph), pattern_(graph), min_graph_size_(min_graph_size) {}

void AttributedShape::enter(std::int32_t root, std::span<const std::uint32_t> path) {
  pattern_.start(root);
  for (const std::uint32_t index : path) pattern_.extend(index);
  steps_ += path.size() + 1;
}

void AttributedShape::leave() {
  while (pattern_.depth() > 0) pattern_.retract();
}

void AttributedShape::tried_candidates(std::vector<std::uint32_t>& slots) const {
  for (std::size_t i = 0; i < pattern_.candidate_count(); ++i) {
    if (pattern_.covered(i)) continue;
    slots.push_back(std::uint32_t(i));
    if (pattern_.same_profile(i)) break;  // the search tries no candidate after it
  }
}

std::uint64_t AttributedShape::pattern_work() const {
  const std::uint64_t candidates = pattern_.candidate_count();
  std::uint64_t work =
      kAttributedVisit + kAttributedTest * candidates * (pattern_.excluded_count() + candidates / 2);
  if (pattern_.is_maximal() && pattern_.depth() >= std::size_t(min_graph_size_))
    work += kAttributedLine + kAttributedPerNode * pattern_.depth();
  return work;
}

std::uint64_t AttributedShape::root_guess(std::int32_t root) {
  return std::uint64_t{graph_.degree(graph_.block_of(root))} + 1;
}

void AttributedShape::expand(std::int32_t root, std::span<const std::uint32_t> path, Expansion& expansion) {
  enter(root, path);
  expansion.own_work = pattern_work();
  tried_candidates(expansion.slots);
  const std::size_t candidates = pattern_.candidate_count();
  for (const std::uint32_t slot : expansion.slots) expansion.guesses.push_back(candidates - slot);
  leave();
}

std::uint32_t AttributedShape::children_end(std::int32_t root, std::span<const std::uint32_t> path) {
  enter(root, path);
  tried_.clear();
  tried_candidates(tried_);
  leave();
  return tried_.empty() ? 0 : tried_.back() + 1;
}
