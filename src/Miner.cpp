#include "Miner.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <optional>

namespace {

// Nodes below the root can never join a pattern of this root. They get the key of a level-0 node,
// which no pattern node's key is ever below, so the one key comparison also tests for the root.
inline std::int64_t make_key(std::int64_t level, std::int32_t node, std::int32_t root) {
  return node < root ? std::int64_t(node) : (level << 32) | std::int64_t(node);
}

inline std::int32_t level_of(std::int64_t key) {
  return std::int32_t(key >> 32);
}
inline std::int32_t node_of(std::int64_t key) {
  return std::int32_t(key & 0xffffffff);
}

// The most nodes a pattern can have: a connected set of k nodes needs k - 1 edges.
std::int64_t largest_pattern(std::int32_t max_node, std::int64_t edge_count) {
  return std::max<std::int64_t>(0, std::min<std::int64_t>(max_node, edge_count + 1));
}

constexpr std::uint64_t kBytesPerNode = 40;        // offsets, marks, counts, stacks, a build scratch
constexpr std::uint64_t kBytesPerDepth = 32 + 12;  // a frame and the widest decimal text of a node
// Counting without writing also splits the graph into components and orders each one: a copy of the
// component, marks and queues by node, and heap entries by edge.
constexpr std::uint64_t kCountingBytesPerNode = 64;
constexpr std::uint64_t kCountingBytesPerEdge = 80;

// Refuses a graph whose tables would not fit in memory, before anything large is allocated: Linux
// would rather kill the process later than fail the allocation.
void check_memory(const std::string& path, const EdgeList& edges, bool counting) {
  const std::uint64_t slots = std::uint64_t(std::int64_t(edges.max_node) + 1);
  const std::uint64_t node_bytes = slots * (kBytesPerNode + (counting ? kCountingBytesPerNode : 0));
  const std::uint64_t edge_bytes =
      std::uint64_t(edges.edges.size()) *
          (2 * sizeof(std::int32_t) + (counting ? kCountingBytesPerEdge : 0)) +
      std::uint64_t(largest_pattern(edges.max_node, std::int64_t(edges.edges.size()))) * kBytesPerDepth;
  // Writing lists patterns with ListingSearch, whose tables come on top of the graph's.
  const std::uint64_t listing_bytes =
      counting ? 0
               : ListingSearch::bytes_needed(std::int64_t(slots), 2 * std::int64_t(edges.edges.size()));
  const std::uint64_t available = available_memory();
  if (node_bytes + edge_bytes + listing_bytes <= available) return;
  if (node_bytes > available / 2) {
    fail(path, edges.max_node_line,
         "node number " + std::to_string(edges.max_node) + " is too large: the tables for the nodes 0 to " +
             std::to_string(edges.max_node) + " would need " + format_bytes(node_bytes) + " of memory, and " +
             format_bytes(available) + " is available");
  }
  fail(path, "the graph would need " + format_bytes(node_bytes + edge_bytes + listing_bytes) + " of memory, and " +
                 format_bytes(available) + " is available");
}

}  // namespace

AdjacencyList build_graph(const EdgeList& edges, std::int32_t max_node) {
  return build_simple_graph(edges.edges, max_node);
}

Miner::Miner(int argc, char** argv) {
  const std::string graph_path = argv[2];
  {
    const EdgeList edges = read_edges(graph_path);
    check_memory(graph_path, edges, argc == 3);
    graph = build_graph(edges, edges.max_node);
  }
  max_node = std::int32_t(graph.node_slots() - 1);
  if (argc == 4) output.open(argv[3], {graph_path});
}

void Miner::allocate_state() {
  const std::size_t slots = std::size_t(graph.node_slots());
  seen.assign(slots, 0);
  candidates.assign(slots, 0);
  pruned.assign(slots, 0);
  pruned_at.assign(slots, 0);
  const std::int64_t depth = largest_pattern(max_node, std::int64_t(graph.neighbours.size() / 2));
  frames.assign(std::size_t(depth) + 1, Frame{});
}

void Miner::process() {
  if (output.enabled()) {
    print_count_line(enumerate());
  } else {
    print_count_line(count());
  }
}

std::uint64_t Miner::enumerate() {
  ListingSearch search(graph);
  ListingSearch::BlockSink sink;
  if (output.enabled()) sink = [this](std::span<const char> block) { output.write_block(block.data(), block.size()); };
  const std::uint64_t lines = search.list_all(sink);
  output.finish();
  return lines;
}

// Counting needs no order, so each connected component is counted on its own, by the cheaper of
// two roads; both give the same number.
//
// The dynamic program over a frontier (FrontierCount.h) takes time exponential in the width of the
// frontier and linear in the size of the component, however many patterns there are. The counting
// search below takes time in proportion to the patterns it cannot skip, but it skips a lot on dense
// graphs and is the only road when the frontier is too wide. So a component first gets a short try
// of the search, which settles small and dense components at once; then an order, and if its
// frontier is narrow enough the dynamic program, racing the search (see count_component) within a
// memory budget; whatever is left over goes to the search without a limit.
std::string Miner::count(CountRoad road, FrontierStats* stats) {
  allocate_state();
  unseen.assign(seen.size(), 0);
  for (std::int32_t u = 0; u <= max_node; ++u) unseen[std::size_t(u)] = std::int32_t(graph.of(u).size());
  if (max_node >= 0) see(0);  // node 0 is never part of a pattern
  FrontierCounter frontier(graph);
  const std::uint64_t memory_budget = available_memory() / 4;
  mpz_class total;
  std::vector<std::uint8_t> placed(seen.size(), 0);
  std::vector<std::int32_t> component;
  for (std::int32_t first = 1; first <= max_node; ++first) {
    if (placed[std::size_t(first)] != 0) continue;
    gather_component(graph, first, placed, component);
    if (component.size() == 1) {
      total += 1;
      continue;
    }
    std::sort(component.begin(), component.end());
    count_component(component, road, frontier, memory_budget, stats, total);
  }
  return total.get_str();
}

void Miner::count_component(std::span<const std::int32_t> component, CountRoad road,
                            FrontierCounter& frontier, std::uint64_t memory_budget, FrontierStats* stats,
                            mpz_class& total) {
  constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();
  if (road == CountRoad::search) {
    search_component(component, kUnlimited, total);
    return;
  }
  // A first try of the search, about as long as choosing an order would take.
  std::uint64_t next_try = 0;
  if (road == CountRoad::automatic) {
    constexpr std::uint64_t kStepsPerElement = 16;
    std::uint64_t elements = component.size();
    for (const std::int32_t u : component) elements += graph.of(u).size();
    next_try = kStepsPerElement * elements;
    if (search_component(component, next_try, total)) return;
  }
  const FrontierOrder order = frontier.choose_order(component);
  if (order.width <= kMaxFrontierWidth) {
    // Neither road's time can be known in advance, so they race: while the program runs, the
    // search gets tries of doubling length, each once the program has processed as many states
    // as the try has steps. A step of the search (a pattern and a pass over its candidates)
    // costs a few times less than a transition of the program, so the search takes a fraction of
    // the time, and a component costs a small factor of the faster road's time: measured, 1.3 to 1.7
    // times the program alone, and 1.9 to 2.7 times the search alone.
    bool searched = false;
    FrontierProgress race;
    if (road == CountRoad::automatic) {
      race = [&](std::uint64_t transitions) {
        if (transitions < 2 * next_try) return true;
        next_try *= 2;
        searched = search_component(component, next_try, total);
        return !searched;
      };
    }
    if (std::optional<mpz_class> patterns = frontier.count(order, memory_budget, stats, race)) {
      total += *patterns;
      return;
    }
    if (searched) return;
  }
  search_component(component, kUnlimited, total);
}

bool Miner::search_component(std::span<const std::int32_t> roots, std::uint64_t step_limit,
                             mpz_class& total) {
  // A component of k nodes has fewer than 2^k patterns.
  PatternCount patterns(std::uint32_t(roots.size()));
  steps_left = step_limit;
  for (const std::int32_t root : roots) {
    if (search_from<true>(root, &patterns)) continue;
    // Out of steps: every mark of this component goes, and the counts of unseen neighbours with it.
    for (const std::int32_t u : roots) seen[std::size_t(u)] = 0;
    for (const std::int32_t u : roots) {
      std::int32_t not_seen = 0;
      for (const std::int32_t x : graph.of(u)) not_seen += seen[std::size_t(x)] == 0 ? 1 : 0;
      unseen[std::size_t(u)] = not_seen;
    }
    return false;
  }
  total += patterns.value();
  return true;
}

void Miner::see(std::int32_t node) {
  seen[std::size_t(node)] = 1;
  for (const std::int32_t x : graph.of(node)) --unseen[std::size_t(x)];
}

void Miner::unsee(std::int32_t node) {
  seen[std::size_t(node)] = 0;
  for (const std::int32_t x : graph.of(node)) ++unseen[std::size_t(x)];
}

template <bool kCounting>
bool Miner::search_from(std::int32_t root, PatternCount* total) {
  std::uint8_t* const is_seen = seen.data();
  std::int64_t* const cand = candidates.data();
  std::int64_t* const pruned_stack = pruned.data();
  std::int32_t* const slot_of_pruned = pruned_at.data();
  const std::int32_t* const free_test = unseen.data();
  char* const text = pattern_text.data();
  const std::int32_t* const adjacency = graph.neighbours.data();
  const std::int64_t* const offsets = graph.offsets.data();
  const bool writing = !kCounting && output.enabled();

  auto append_text = [text](std::uint32_t at, std::int32_t node) {
    char* end = std::to_chars(text + at, text + at + 11, node).ptr;
    *end++ = ' ';
    return std::uint32_t(end - text);
  };
  auto discover = [&](std::int32_t node) {
    if constexpr (kCounting) {
      see(node);
    } else {
      is_seen[node] = 1;
    }
  };
  auto forget = [&](std::int64_t candidate_key) {
    if constexpr (kCounting) {
      unsee(node_of(candidate_key));
    } else {
      is_seen[node_of(candidate_key)] = 0;
    }
  };

  std::int32_t candidate_count = 0;
  std::int32_t pruned_count = 0;
  std::uint64_t patterns = 0;
  std::uint64_t steps = steps_left;  // a local: stores through the byte array could alias a member
  discover(root);
  for (std::int64_t k = offsets[root]; k < offsets[root + 1]; ++k) {
    const std::int32_t u = adjacency[k];
    if (is_seen[u] != 0) continue;  // counting: a root already done
    discover(u);
    cand[candidate_count++] = make_key(1, u, root);
  }
  std::int32_t depth = 0;
  frames[0] = Frame{root, 0, 0, 0, writing ? append_text(0, root) : 0, 0};

  for (;;) {
    // A new pattern: prune the candidates that may not follow the node added last; when counting,
    // set the free ones aside in the same way.
    Frame* frame = &frames[std::size_t(depth)];
    frame->pruned_base = pruned_count;
    frame->next_slot = 0;
    std::uint32_t free_count = 0;
    const std::int64_t last_key = frame->key;  // a local, as the stacks' stores may alias the frame
    for (std::int32_t i = 0; i < candidate_count;) {
      const std::int64_t u = cand[i];
      bool keep = u > last_key;
      if constexpr (kCounting) {
        if (keep && free_test[node_of(u)] == 0) {
          keep = false;
          ++free_count;
        }
      }
      if (keep) {
        ++i;
      } else {
        pruned_stack[pruned_count++] = u;
        cand[i] = cand[--candidate_count];
        slot_of_pruned[node_of(u)] = i;
      }
    }
    if constexpr (kCounting) {
      if (steps-- == 0) return false;
      frame->exponent = (depth == 0 ? 0 : frames[std::size_t(depth) - 1].exponent) + free_count;
      total->add_power_of_two(frame->exponent);
    } else {
      ++patterns;
      if (writing) {
        text[frame->text_end] = '\n';
        output.write(text, frame->text_end + 1);
      }
    }

    // Extend the pattern by its next candidate, or, when none is left, return to the parent pattern
    // and extend that one.
    for (;;) {
      const std::int32_t slot = frame->next_slot;
      if (slot < candidate_count) {
        // The last candidate takes the place of the one added.
        const std::int64_t v = cand[slot];
        const std::int64_t child_level = std::int64_t(level_of(v)) + 1;
        cand[slot] = cand[--candidate_count];
        const std::int32_t brought_base = candidate_count;
        const std::int32_t v_node = node_of(v);
        for (std::int64_t k = offsets[v_node]; k < offsets[v_node + 1]; ++k) {
          const std::int32_t w = adjacency[k];
          if (is_seen[w] == 0) {
            discover(w);
            cand[candidate_count++] = make_key(child_level, w, root);
          }
        }
        Frame& child = frames[std::size_t(++depth)];
        child.key = v;
        child.brought_base = brought_base;
        if (writing) child.text_end = append_text(frame->text_end, v_node);
        break;
      }

      // This pattern's branch is done: put the pruned back, in reverse order.
      const std::int32_t pruned_base = frame->pruned_base;
      while (pruned_count > pruned_base) {
        const std::int64_t u = pruned_stack[--pruned_count];
        const std::int32_t p = slot_of_pruned[node_of(u)];
        cand[candidate_count++] = cand[p];
        cand[p] = u;
      }
      if (depth == 0) {
        // The candidates are the root's neighbours again, exactly those it discovered. A finished
        // root stays seen while counting, so that no later root takes it as a candidate.
        for (std::int32_t k = 0; k < candidate_count; ++k) forget(cand[k]);
        if constexpr (!kCounting) is_seen[root] = 0;
        pattern_count += patterns;
        steps_left = steps;
        return true;
      }

      // Back in the parent: forget what the node brought in, and put it back into its slot.
      const std::int64_t v = frame->key;
      const std::int32_t brought_base = frame->brought_base;
      for (std::int32_t k = brought_base; k < candidate_count; ++k) forget(cand[k]);
      candidate_count = brought_base;
      frame = &frames[std::size_t(--depth)];
      const std::int32_t j = frame->next_slot;
      cand[candidate_count++] = cand[j];
      cand[j] = v;
      frame->next_slot = j + 1;
    }
  }
}
