#include "Miner.h"

#include <algorithm>
#include <charconv>

namespace {

// Nodes below the root can never join a pattern of this root. They get the key of a level-0 node,
// which no pattern node's key is ever below, so the one key comparison also tests for the root.
inline std::int64_t make_key(std::int64_t level, std::int32_t node, std::int32_t root) {
  return node < root ? std::int64_t(node) : (level << 32) | std::int64_t(node);
}

inline std::int32_t level_of(std::int64_t key) { return std::int32_t(key >> 32); }

// The most nodes a pattern can have: a connected set of k nodes needs k - 1 edges.
std::int64_t largest_pattern(std::int32_t max_node, std::int64_t edge_count) {
  return std::max<std::int64_t>(0, std::min<std::int64_t>(max_node, edge_count + 1));
}

constexpr std::uint64_t kBytesPerNode = 32;    // offsets, node_key, three stacks, a build scratch
constexpr std::uint64_t kBytesPerDepth = 24 + 12;  // a frame and the widest decimal text of a node

// Refuses a graph whose tables would not fit in memory, before anything large is allocated: Linux
// would rather kill the process later than fail the allocation.
void check_memory(const std::string& path, const EdgeList& edges) {
  const std::uint64_t slots = std::uint64_t(std::int64_t(edges.max_node) + 1);
  const std::uint64_t node_bytes = slots * kBytesPerNode;
  const std::uint64_t edge_bytes = std::uint64_t(edges.edges.size()) * 2 * sizeof(std::int32_t) +
                                   std::uint64_t(largest_pattern(edges.max_node, std::int64_t(edges.edges.size()))) *
                                       kBytesPerDepth;
  const std::uint64_t available = available_memory();
  if (node_bytes + edge_bytes <= available) return;
  if (node_bytes > available / 2) {
    fail(path, edges.max_node_line,
         "node number " + std::to_string(edges.max_node) + " is too large: the tables for the nodes 0 to " +
             std::to_string(edges.max_node) + " would need " + format_bytes(node_bytes) + " of memory, and " +
             format_bytes(available) + " is available");
  }
  fail(path, "the graph would need " + format_bytes(node_bytes + edge_bytes) + " of memory, and " +
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
    check_memory(graph_path, edges);
    graph = build_graph(edges, edges.max_node);
  }
  allocate_state();
  if (argc == 4) output.open(argv[3], {graph_path});
}

Miner::Miner(AdjacencyList prepared, const std::string& output_name) : graph(std::move(prepared)) {
  allocate_state();
  if (!output_name.empty()) output.open(output_name, {});
}

void Miner::allocate_state() {
  max_node = std::int32_t(graph.node_slots() - 1);
  const std::size_t slots = std::size_t(graph.node_slots());
  node_key.assign(slots, -1);
  candidates.assign(slots, 0);
  pruned.assign(slots, 0);
  pruned_at.assign(slots, 0);
  const std::int64_t depth = largest_pattern(max_node, std::int64_t(graph.neighbours.size() / 2));
  frames.assign(std::size_t(depth) + 1, Frame{});
  // Each node's text is at most as wide as max_node's, plus its space; one more byte for the line end.
  const std::size_t widest = std::to_string(std::max(max_node, 0)).size() + 1;
  pattern_text.assign(frames.size() * widest + 1, '\0');
}

void Miner::process() { print_count_line(enumerate()); }

std::uint64_t Miner::enumerate() {
  for (std::int32_t root = 1; root <= max_node; ++root) {
    if (output.enabled()) {
      search_from<true>(root);
    } else {
      search_from<false>(root);
    }
  }
  output.finish();
  return pattern_count;
}

template <bool kWriteLines>
void Miner::search_from(std::int32_t root) {
  std::int64_t* const key = node_key.data();
  std::int32_t* const cand = candidates.data();
  std::int32_t* const pruned_stack = pruned.data();
  std::int32_t* const slot_of_pruned = pruned_at.data();
  char* const text = pattern_text.data();
  const std::int32_t* const adjacency = graph.neighbours.data();
  const std::int64_t* const offsets = graph.offsets.data();

  auto append_text = [text](std::uint32_t at, std::int32_t node) {
    char* end = std::to_chars(text + at, text + at + 11, node).ptr;
    *end++ = ' ';
    return std::uint32_t(end - text);
  };

  std::int32_t candidate_count = 0;
  std::int32_t pruned_count = 0;
  key[root] = root;
  for (std::int64_t k = offsets[root]; k < offsets[root + 1]; ++k) {
    const std::int32_t u = adjacency[k];
    key[u] = make_key(1, u, root);
    cand[candidate_count++] = u;
  }
  std::int32_t depth = 0;
  frames[0] = Frame{root, root, 0, 0, 0, kWriteLines ? append_text(0, root) : 0};

  bool entering = true;
  for (;;) {
    Frame& frame = frames[std::size_t(depth)];
    if (entering) {
      entering = false;
      ++pattern_count;
      if constexpr (kWriteLines) {
        text[frame.text_end] = '\n';
        output.write(text, frame.text_end + 1);
      }
      // Prune the candidates that may not follow the node added last.
      frame.pruned_base = pruned_count;
      frame.next_slot = 0;
      for (std::int32_t i = 0; i < candidate_count;) {
        const std::int32_t u = cand[i];
        if (key[u] > frame.key) {
          ++i;
        } else {
          pruned_stack[pruned_count++] = u;
          cand[i] = cand[--candidate_count];
          slot_of_pruned[u] = i;
        }
      }
    }

    const std::int32_t slot = frame.next_slot;
    if (slot < candidate_count) {
      // Extend by the candidate in this slot; the last candidate takes its place.
      const std::int32_t v = cand[slot];
      const std::int64_t child_level = std::int64_t(level_of(key[v])) + 1;
      cand[slot] = cand[--candidate_count];
      const std::int32_t brought_base = candidate_count;
      for (std::int64_t k = offsets[v]; k < offsets[v + 1]; ++k) {
        const std::int32_t w = adjacency[k];
        if (key[w] == -1) {
          key[w] = make_key(child_level, w, root);
          cand[candidate_count++] = w;
        }
      }
      Frame& child = frames[std::size_t(++depth)];
      child.key = key[v];
      child.node = v;
      child.brought_base = brought_base;
      if constexpr (kWriteLines) child.text_end = append_text(frame.text_end, v);
      entering = true;
      continue;
    }

    // This pattern's branch is done: put the pruned back, in reverse order.
    while (pruned_count > frame.pruned_base) {
      const std::int32_t u = pruned_stack[--pruned_count];
      const std::int32_t p = slot_of_pruned[u];
      cand[candidate_count++] = cand[p];
      cand[p] = u;
    }
    if (depth == 0) break;

    // Back in the parent: forget what the node brought in, and put it back into its slot.
    const std::int32_t v = frame.node;
    for (std::int32_t k = frame.brought_base; k < candidate_count; ++k) key[cand[k]] = -1;
    candidate_count = frame.brought_base;
    Frame& parent = frames[std::size_t(--depth)];
    const std::int32_t j = parent.next_slot;
    cand[candidate_count++] = cand[j];
    cand[j] = v;
    parent.next_slot = j + 1;
  }

  for (std::int64_t k = offsets[root]; k < offsets[root + 1]; ++k) key[adjacency[k]] = -1;
  key[root] = -1;
}
