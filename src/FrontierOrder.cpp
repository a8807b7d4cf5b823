#include "FrontierOrder.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <queue>
#include <utility>

namespace {

enum class OrderRule {
  breadth_first,              // in order of discovery
  least_growth,               // the node that adds least to the frontier, net of the nodes it retires
  fewest_unprocessed,         // the node with the fewest unprocessed neighbours (a minimum-degree rule)
  least_growth_from_the_end,  // least growth, choosing the last node first, then the one before...
};

// Grows orders of a component from a start node, taking at every step the discovered node that a
// rule prefers. A lazy heap holds the discovered nodes: every change to a node's priority pushes it
// again, and popped entries that are no longer current are skipped.
//
// Growing from the end sees what growing from the start misses: in a graph of a few hubs and many
// nodes joined to all of them, the hubs should come first, so that each of the others leaves the
// frontier as soon as it joins; a forward rule starting at a hub takes the others first, as each
// of them adds no more than a hub would. From the end, the frontier at a cut is the set of the
// earlier nodes with a later neighbour, and taking the others one by one keeps it at the hubs.
class OrderGrower {
 public:
  explicit OrderGrower(const LocalGraph& graph) : graph_(graph) {}

  // Fills order (local nodes) and returns true, or gives up and returns false once the cost
  // reaches give_up_cost or the frontier grows wider than a state can describe.
  bool grow(std::uint32_t start, OrderRule rule, double give_up_cost, FrontierOrder& order) {
    reset();
    rule_ = rule;
    order.nodes.clear();
    order.width = 0;
    order.cost = 0;
    std::int32_t frontier = 0;
    touch(start);
    while (!heap_.empty()) {
      const Entry entry = heap_.top();
      heap_.pop();
      const std::uint32_t u = entry.node;
      if (processed_[u] != 0 || entry != priority(u)) continue;
      frontier += rule == OrderRule::least_growth_from_the_end ? place_before(u) : process(u);
      order.nodes.push_back(std::int32_t(u));
      order.width = std::max(order.width, frontier);
      order.cost += std::ldexp(1.0, frontier);
      if (order.width > kMaxFrontierWidth || order.cost >= give_up_cost) return false;
    }
    if (rule == OrderRule::least_growth_from_the_end) std::reverse(order.nodes.begin(), order.nodes.end());
    return true;
  }

 private:
  struct Entry {
    std::int32_t first, second, third;
    std::uint32_t node;
    auto operator<=>(const Entry&) const = default;
  };

  void reset() {
    const std::size_t n = graph_.size();
    processed_.assign(n, 0);
    closing_.assign(n, 0);
    touched_.assign(n, 0);
    discovered_.assign(n, -1);
    remaining_.resize(n);
    for (std::uint32_t u = 0; u < n; ++u) remaining_[u] = std::int32_t(graph_.degree(u));
    untouched_ = remaining_;
    next_discovery_ = 0;
    heap_ = {};
  }

  Entry priority(std::uint32_t u) const {
    switch (rule_) {
      case OrderRule::breadth_first:
        return {discovered_[u], 0, 0, u};
      case OrderRule::least_growth:
        return {(remaining_[u] > 0 ? 1 : 0) - closing_[u], remaining_[u], discovered_[u], u};
      case OrderRule::fewest_unprocessed:
        return {remaining_[u], discovered_[u], 0, u};
      case OrderRule::least_growth_from_the_end:
        return {untouched_[u] - touched_[u], untouched_[u], discovered_[u], u};
    }
    return {};
  }

  void touch(std::uint32_t u) {
    if (discovered_[u] < 0) discovered_[u] = next_discovery_++;
    heap_.push(priority(u));
  }

  // The one unprocessed neighbour of a node that has one left: that neighbour will retire it.
  void mark_closing_neighbour(std::uint32_t u) {
    for (const std::uint32_t y : graph_.of(u)) {
      if (processed_[y] == 0) {
        ++closing_[y];
        touch(y);
        return;
      }
    }
  }

  // Processes u and returns how much the frontier changes.
  std::int32_t process(std::uint32_t u) {
    processed_[u] = 1;
    std::int32_t change = remaining_[u] > 0 ? 1 : 0;
    for (const std::uint32_t x : graph_.of(u)) {
      const std::int32_t left = --remaining_[x];
      if (processed_[x] == 0) {
        touch(x);
      } else if (left == 0) {
        --change;
      } else if (left == 1) {
        mark_closing_neighbour(x);
      }
    }
    if (remaining_[u] == 1) mark_closing_neighbour(u);
    return change;
  }

  // Growing from the end: puts u before the nodes placed so far and returns how much the frontier
  // (the unplaced nodes with a placed neighbour) changes. Every node within two steps of the
  // placed ones is discovered.
  std::int32_t place_before(std::uint32_t u) {
    processed_[u] = 1;
    const bool was_touched = touched_[u] != 0;
    std::int32_t change = was_touched ? -1 : 0;
    for (const std::uint32_t x : graph_.of(u)) {
      if (!was_touched) --untouched_[x];
      if (processed_[x] != 0) continue;
      if (touched_[x] == 0) {
        touched_[x] = 1;
        ++change;
        for (const std::uint32_t y : graph_.of(x)) {
          --untouched_[y];
          if (processed_[y] == 0) touch(y);
        }
      }
      touch(x);
    }
    return change;
  }

  const LocalGraph& graph_;
  OrderRule rule_ = OrderRule::breadth_first;
  std::vector<std::uint8_t> processed_;
  std::vector<std::int32_t> remaining_;   // unprocessed neighbours
  std::vector<std::int32_t> closing_;     // processed neighbours that this node would retire
  std::vector<std::int32_t> discovered_;  // order of discovery, -1 before
  std::vector<std::uint8_t> touched_;     // from the end: has a placed neighbour
  std::vector<std::int32_t> untouched_;   // from the end: unplaced neighbours without a placed one
  std::int32_t next_discovery_ = 0;
  std::priority_queue<Entry, std::vector<Entry>, std::greater<>> heap_;
};

// The width and cost of an order (local nodes), or false once it passes give_up_cost or the widest
// frontier a state can describe.
bool measure_order(const LocalGraph& graph, double give_up_cost, FrontierOrder& order) {
  const std::size_t n = order.nodes.size();
  std::vector<std::size_t> place(n);
  for (std::size_t i = 0; i < n; ++i) place[std::size_t(order.nodes[i])] = i;
  // A node joins the frontier when it has a later neighbour, and leaves after its last one.
  std::vector<std::size_t> last(n);
  std::vector<std::int32_t> retired_at(n, 0);
  for (std::uint32_t u = 0; u < n; ++u) {
    last[u] = place[u];
    for (const std::uint32_t x : graph.of(u)) last[u] = std::max(last[u], place[x]);
    if (last[u] > place[u]) ++retired_at[last[u]];
  }
  order.width = 0;
  order.cost = 0;
  std::int32_t frontier = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const bool stays = last[std::size_t(order.nodes[i])] > i;
    frontier += (stays ? 1 : 0) - retired_at[i];
    order.width = std::max(order.width, frontier);
    order.cost += std::ldexp(1.0, frontier);
    if (order.width > kMaxFrontierWidth || order.cost >= give_up_cost) return false;
  }
  return true;
}

// A depth-first order from start that enters a node's branches narrowest first. In a depth-first
// order the frontier holds the nodes on the path from the start that still have branches (or, in a
// graph that is not a tree, back edges) to come; a node stays on it while its earlier branches are
// taken, so the widest branch should come last. A branch's rank is what it needs: a leaf 0, and a
// node the larger of its widest branch's rank and its second widest's plus one. On a tree this is
// close to the narrowest order there is, and at most the base-2 logarithm of the size.
void ranked_depth_first(std::uint32_t start, const LocalGraph& graph, std::vector<std::int32_t>& nodes) {
  constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
  const std::size_t n = graph.size();
  std::vector<std::uint32_t> parent(n, kNone);
  std::vector<std::uint32_t> visit;  // preorder of the depth-first tree
  std::vector<std::pair<std::uint32_t, std::size_t>> stack{{start, graph.offsets[start]}};
  parent[start] = start;
  visit.push_back(start);
  while (!stack.empty()) {
    auto& [u, next] = stack.back();
    if (next == graph.offsets[u + 1]) {
      stack.pop_back();
      continue;
    }
    const std::uint32_t x = graph.neighbours[next++];
    if (parent[x] != kNone) continue;
    parent[x] = u;
    visit.push_back(x);
    stack.emplace_back(x, graph.offsets[x]);
  }
  // Ranks bottom up, then each node's children narrowest first.
  std::vector<std::int32_t> widest(n, -1), second(n, -1), rank(n, 0);
  for (std::size_t i = visit.size(); i-- > 1;) {
    const std::uint32_t u = visit[i];
    rank[u] = std::max(widest[u], second[u] + 1);
    const std::uint32_t p = parent[u];
    if (rank[u] > widest[p]) {
      second[p] = widest[p];
      widest[p] = rank[u];
    } else {
      second[p] = std::max(second[p], rank[u]);
    }
  }
  std::vector<std::vector<std::uint32_t>> children(n);
  for (std::size_t i = 1; i < visit.size(); ++i) children[parent[visit[i]]].push_back(visit[i]);
  nodes.clear();
  std::vector<std::uint32_t> pending{start};
  while (!pending.empty()) {
    const std::uint32_t u = pending.back();
    pending.pop_back();
    nodes.push_back(std::int32_t(u));
    std::vector<std::uint32_t>& below = children[u];
    // Pushed widest first, so that the narrowest is taken next.
    std::stable_sort(below.begin(), below.end(),
                     [&rank](std::uint32_t a, std::uint32_t b) { return rank[a] > rank[b]; });
    pending.insert(pending.end(), below.begin(), below.end());
  }
}

// The node found last by a breadth-first search from start: one end of a long shortest path.
std::uint32_t farthest_from(std::uint32_t start, const LocalGraph& graph) {
  std::vector<std::uint8_t> reached(graph.size(), 0);
  std::vector<std::uint32_t> queue{start};
  reached[start] = 1;
  for (std::size_t head = 0; head < queue.size(); ++head) {
    for (const std::uint32_t x : graph.of(queue[head])) {
      if (reached[x] == 0) {
        reached[x] = 1;
        queue.push_back(x);
      }
    }
  }
  return queue.back();
}

}  // namespace

ComponentLoader::ComponentLoader(const AdjacencyList& graph)
    : graph_(graph), local_index_(std::size_t(graph.node_slots()), 0) {}

void ComponentLoader::load(std::span<const std::int32_t> nodes, LocalGraph& local) {
  for (std::size_t i = 0; i < nodes.size(); ++i) local_index_[std::size_t(nodes[i])] = std::uint32_t(i);
  local.offsets.assign(1, 0);
  local.neighbours.clear();
  for (const std::int32_t u : nodes) {
    for (const std::int32_t x : graph_.of(u)) {
      if (x != 0) local.neighbours.push_back(local_index_[std::size_t(x)]);
    }
    local.offsets.push_back(local.neighbours.size());
  }
}

FrontierOrder choose_local_order(const LocalGraph& component) {
  FrontierOrder best;
  best.width = kMaxFrontierWidth + 1;
  best.cost = std::numeric_limits<double>::infinity();
  const std::uint32_t n = component.size();
  if (n == 0) return best;
  // Starts: both ends of a long shortest path, and a node of least degree.
  const std::uint32_t one_end = farthest_from(0, component);
  const std::uint32_t other_end = farthest_from(one_end, component);
  std::uint32_t least_degree = 0;
  for (std::uint32_t u = 1; u < n; ++u) {
    if (component.degree(u) < component.degree(least_degree)) least_degree = u;
  }
  // An order whose frontier stays at about two nodes leaves the count nothing to save.
  constexpr double kGoodEnough = 4;
  const double good_enough = kGoodEnough * double(n);
  OrderGrower grower(component);
  FrontierOrder tried;
  for (const std::uint32_t start : {one_end, other_end, least_degree}) {
    for (const OrderRule rule : {OrderRule::least_growth, OrderRule::least_growth_from_the_end,
                                 OrderRule::breadth_first, OrderRule::fewest_unprocessed}) {
      if (best.cost > good_enough && grower.grow(start, rule, best.cost, tried)) std::swap(best, tried);
    }
    if (best.cost > good_enough) {
      ranked_depth_first(start, component, tried.nodes);
      if (measure_order(component, best.cost, tried)) std::swap(best, tried);
    }
  }
  return best;
}
