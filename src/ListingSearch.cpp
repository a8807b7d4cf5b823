#include "ListingSearch.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

namespace {

using Key = std::uint64_t;

// Nodes below the root can never join a pattern of this root. They get the key of a level-0 node,
// which no pattern node's key is ever below, so the one key comparison also tests for the root.
inline Key make_key(Key level, std::int32_t node, std::int32_t root) {
  return node < root ? Key(node) : (level << 32) | Key(node);
}
inline std::int32_t node_of(Key key) { return std::int32_t(key & 0xffffffff); }
inline Key level_of(Key key) { return key >> 32; }

constexpr std::size_t kBlockBytes = std::size_t(1) << 20;
constexpr std::size_t kLabelBytes = 16;
constexpr std::size_t kSlack = 2 * kLabelBytes;  // lines are copied and labels stored 16 bytes at a time

// Removes the candidates whose key is not above last, each by moving the last candidate into its
// slot, as the search defines it; returns the number left.
inline std::uint32_t prune(Key* list, std::uint32_t size, Key last) {
  std::uint32_t i = 0;
  while (i < size) {
    if (list[i] > last) {
      ++i;
    } else {
      list[i] = list[--size];
    }
  }
  return size;
}

// Copies a line and up to 15 bytes past it: both buffers have the room.
inline char* copy_line(char* out, const char* text, std::size_t size) {
  for (std::size_t i = 0; i < size; i += 16) std::memcpy(out + i, text + i, 16);
  return out + size;
}

inline bool has_bit(const std::array<std::uint64_t, 2>& words, std::int32_t node) {
  return ((words[std::size_t(node) >> 6] >> (node & 63)) & 1) != 0;
}

std::int64_t largest_pattern(std::int64_t node_slots, std::int64_t adjacency_entries) {
  return std::max<std::int64_t>(0, std::min(node_slots - 1, adjacency_entries / 2 + 1));
}

}  // namespace

ListingSearch::ListingSearch(const AdjacencyList& graph, SizeBounds bounds) : graph_(graph), bounds_(bounds) {
  const std::int64_t slots = graph.node_slots();
  const std::int64_t depth =
      std::min(largest_pattern(slots, std::int64_t(graph.neighbours.size())), std::max<std::int64_t>(bounds.max, 1));
  words_ = slots <= 64 ? 1 : slots <= 128 ? 2 : 0;
  frames_.resize(std::size_t(depth) + 1);
  arena_.resize(std::size_t(slots) + graph.neighbours.size() + 64);
  if (words_ == 0) {
    seen_.assign(std::size_t(slots), 0);
    marks_.resize(std::size_t(slots));
  } else {
    neighbour_bits_.assign(std::size_t(slots), Words{});
    for (std::int32_t u = 0; u < slots; ++u) {
      for (const std::int32_t w : graph.of(u)) neighbour_bits_[std::size_t(u)][std::size_t(w) >> 6] |= std::uint64_t(1) << (w & 63);
    }
  }
  labels_.resize(std::size_t(slots));
  std::size_t widest = 1;
  for (std::int32_t u = 0; u < slots; ++u) {
    std::array<char, 16>& label = labels_[std::size_t(u)];
    char* end = std::to_chars(label.data(), label.data() + 11, u).ptr;
    *end++ = ' ';
    *end = '\n';
    label[15] = char(end - label.data());
    widest = std::max(widest, std::size_t(label[15]));
  }
  const std::size_t longest_line = std::size_t(depth) * widest + 1;
  text_.assign(longest_line + kSlack, '\0');
  block_.resize(std::max(kBlockBytes, 2 * longest_line) + longest_line + kSlack);
  out_ = block_.data();
  out_limit_ = block_.data() + block_.size() - (longest_line + kSlack);
}

std::uint64_t ListingSearch::bytes_needed(std::int64_t node_slots, std::int64_t adjacency_entries) {
  const std::uint64_t slots = std::uint64_t(std::max<std::int64_t>(node_slots, 0));
  const std::uint64_t depth = std::uint64_t(largest_pattern(node_slots, adjacency_entries)) + 1;
  const std::uint64_t per_node = kLabelBytes + sizeof(Key) + 1 + sizeof(std::int32_t);
  const std::uint64_t per_depth = sizeof(Frame) + 12;
  return slots * per_node + std::uint64_t(adjacency_entries) * sizeof(Key) + depth * per_depth +
         2 * kBlockBytes;
}

std::uint64_t ListingSearch::list_all(const BlockSink& sink) {
  std::uint64_t lines = 0;
  for (std::int32_t root = 1; root < graph_.node_slots(); ++root) {
    lines += dispatch(root, {}, 0, std::numeric_limits<std::uint32_t>::max(), true, sink);
  }
  flush();
  return lines;
}

std::uint64_t ListingSearch::list_part(const Part& part, const BlockSink& sink) {
  if (part.root < 1 || part.root >= graph_.node_slots()) return 0;
  const std::uint64_t lines = dispatch(part.root, part.path, part.first_child, part.last_child, part.own_line, sink);
  flush();
  return lines;
}

std::uint32_t ListingSearch::child_count(std::int32_t root, std::span<const std::uint32_t> path) {
  if (root < 1 || root >= graph_.node_slots()) return 0;
  switch (words_) {
    case 1:
      return count_children<1>(root, path);
    case 2:
      return count_children<2>(root, path);
    default:
      return count_children<0>(root, path);
  }
}

std::uint64_t ListingSearch::dispatch(std::int32_t root, std::span<const std::uint32_t> path,
                                      std::uint32_t first_child, std::uint32_t last_child, bool own_line,
                                      const BlockSink& sink) {
  sink_ = &sink;
  const bool writing = bool(sink);
  switch (words_ * 2 + (writing ? 1 : 0)) {
    case 3:
      return run<1, true>(root, path, first_child, last_child, own_line);
    case 2:
      return run<1, false>(root, path, first_child, last_child, own_line);
    case 5:
      return run<2, true>(root, path, first_child, last_child, own_line);
    case 4:
      return run<2, false>(root, path, first_child, last_child, own_line);
    case 1:
      return run<0, true>(root, path, first_child, last_child, own_line);
    default:
      return run<0, false>(root, path, first_child, last_child, own_line);
  }
}

void ListingSearch::flush() {
  if (out_ != block_.data() && sink_ != nullptr && *sink_) {
    (*sink_)(std::span<const char>(block_.data(), std::size_t(out_ - block_.data())));
  }
  out_ = block_.data();
}

template <int kWords>
void ListingSearch::enter_root(std::int32_t root) {
  root_ = root;
  if constexpr (kWords != 0) {
    above_root_ = Words{};
    for (std::int32_t u = root + 1; u < std::int32_t(graph_.node_slots()); ++u) {
      above_root_[std::size_t(u) >> 6] |= std::uint64_t(1) << (u & 63);
    }
  }
  Frame& f = frames_[0];
  Key* list = arena_.data();
  std::uint32_t size = 0;
  f.marks = mark_count_;
  if constexpr (kWords == 0) {
    seen_[std::size_t(root)] = 1;
    marks_[mark_count_++] = root;
  } else {
    f.seen = neighbour_bits_[std::size_t(root)];
    f.seen[std::size_t(root) >> 6] |= std::uint64_t(1) << (root & 63);
  }
  for (const std::int32_t w : graph_.of(root)) {
    if constexpr (kWords == 0) {
      seen_[std::size_t(w)] = 1;
      marks_[mark_count_++] = w;
    }
    list[size++] = make_key(1, w, root);
  }
  f.list = 0;
  f.size = prune(list, size, Key(root));
  f.next = 0;
  f.end = f.size;
  f.last = Key(root);
  f.largest = f.size == 0 ? 0 : *std::max_element(list, list + f.size);
  std::memcpy(text_.data(), labels_[std::size_t(root)].data(), kLabelBytes);
  f.text_end = std::uint32_t(labels_[std::size_t(root)][15]);
}

template <int kWords>
void ListingSearch::enter_child(std::uint32_t depth, std::uint32_t slot) {
  Frame& f = frames_[depth];
  Frame& child = frames_[depth + 1];
  const Key v = arena_[f.list + slot];
  const std::int32_t node = node_of(v);
  const std::span<const std::int32_t> neighbours = graph_.of(node);
  const std::size_t need = f.list + 2 * std::size_t(f.size) + neighbours.size();
  if (need > arena_.size()) arena_.resize(std::max(need, 2 * arena_.size()));
  const Key* list = arena_.data() + f.list;
  Key* next = arena_.data() + f.list + f.size;
  std::copy(list, list + f.size, next);
  next[slot] = next[f.size - 1];
  std::uint32_t size = f.size - 1;
  const Key level = level_of(v) + 1;
  child.marks = mark_count_;
  if constexpr (kWords == 0) {
    for (const std::int32_t w : neighbours) {
      if (seen_[std::size_t(w)] != 0) continue;
      seen_[std::size_t(w)] = 1;
      marks_[mark_count_++] = w;
      next[size++] = make_key(level, w, root_);
    }
  } else {
    for (const std::int32_t w : neighbours) {
      next[size] = make_key(level, w, root_);
      size += has_bit(f.seen, w) ? 0 : 1;
    }
    for (std::size_t k = 0; k < kWords; ++k) child.seen[k] = f.seen[k] | neighbour_bits_[std::size_t(node)][k];
  }
  child.list = f.list + f.size;
  child.size = prune(next, size, v);
  child.next = 0;
  child.end = child.size;
  child.last = v;
  child.largest = child.size == 0 ? 0 : *std::max_element(next, next + child.size);
  child.text_end = f.text_end + std::uint32_t(labels_[std::size_t(node)][15]);
}

template <int kWords>
void ListingSearch::leave(std::uint32_t depth) {
  if constexpr (kWords == 0) {
    const std::uint32_t base = frames_[depth].marks;
    for (std::uint32_t k = base; k < mark_count_; ++k) seen_[std::size_t(marks_[k])] = 0;
    mark_count_ = base;
  }
}

// Whether the node at the end of this chain would bring a neighbour that can join a pattern.
template <int kWords>
bool ListingSearch::brings_candidates(const Frame& f, std::int32_t node) const {
  if constexpr (kWords == 0) {
    for (const std::int32_t w : graph_.of(node)) {
      if (seen_[std::size_t(w)] == 0 && w > root_) return true;
    }
    return false;
  } else {
    std::uint64_t any = 0;
    for (std::size_t k = 0; k < kWords; ++k) any |= neighbour_bits_[std::size_t(node)][k] & ~f.seen[k] & above_root_[k];
    return any != 0;
  }
}

template <int kWords>
bool ListingSearch::descend(std::int32_t root, std::span<const std::uint32_t> path) {
  enter_root<kWords>(root);
  std::uint32_t depth = 0;
  for (const std::uint32_t slot : path) {
    if (slot >= frames_[depth].size || std::int64_t(depth) + 2 > bounds_.max) {
      leave<kWords>(0);
      return false;
    }
    const std::int32_t node = node_of(arena_[frames_[depth].list + slot]);
    std::memcpy(text_.data() + frames_[depth].text_end, labels_[std::size_t(node)].data(), kLabelBytes);
    enter_child<kWords>(depth, slot);
    ++depth;
  }
  return true;
}

template <int kWords>
std::uint32_t ListingSearch::count_children(std::int32_t root, std::span<const std::uint32_t> path) {
  if (!descend<kWords>(root, path)) return 0;
  const bool at_max = std::int64_t(path.size()) + 1 >= bounds_.max;
  const std::uint32_t children = at_max ? 0 : frames_[path.size()].size;
  leave<kWords>(0);
  return children;
}

template <int kWords, bool kWriting>
std::uint64_t ListingSearch::run(std::int32_t root, std::span<const std::uint32_t> path,
                                 std::uint32_t first_child, std::uint32_t last_child, bool own_line) {
  if (!descend<kWords>(root, path)) return 0;
  const std::uint32_t base = std::uint32_t(path.size());
  const std::int64_t min_size = bounds_.min;
  const std::int64_t max_size = bounds_.max;
  std::uint64_t lines = 0;
  auto emit = [&](std::uint32_t line_size) {
    ++lines;
    if constexpr (kWriting) {
      out_ = copy_line(out_, text_.data(), line_size);
      if (out_ > out_limit_) flush();
    }
  };

  Frame* f = &frames_[base];
  if (own_line && std::int64_t(base) + 1 >= min_size) emit(f->text_end + 1);
  f->next = std::min(first_child, f->size);
  f->end = std::int64_t(base) + 1 >= max_size ? f->next : std::min(last_child, f->size);
  std::uint32_t depth = base;
  for (;;) {
    if (f->next == f->end) {
      leave<kWords>(depth);
      if (depth == base) break;
      f = &frames_[--depth];
      continue;
    }
    // A new pattern: the child at the next slot. A check that a job should stop would go here.
    const std::uint32_t slot = f->next++;
    const Key v = arena_[f->list + slot];
    const std::int32_t node = node_of(v);
    const std::int64_t size = std::int64_t(depth) + 2;
    if constexpr (kWriting) {
      std::memcpy(text_.data() + f->text_end, labels_[std::size_t(node)].data(), kLabelBytes);
    }
    if (size >= min_size) emit(f->text_end + std::uint32_t(labels_[std::size_t(node)][15]) + 1);
    if (size >= max_size) continue;
    // Only the candidate with the largest key can leave its child without candidates.
    if (v == f->largest && !brings_candidates<kWords>(*f, node)) continue;
    enter_child<kWords>(depth, slot);
    f = &frames_[++depth];
  }
  if (base > 0) leave<kWords>(0);
  return lines;
}
