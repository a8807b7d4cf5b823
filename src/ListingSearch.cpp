#include "ListingSearch.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

#include "ShortList.h"
#ifdef QUARN_SHORT_LISTS
#include <tmmintrin.h>
#endif

namespace {

template <class Key>
constexpr int kLevelShift = sizeof(Key) == 2 ? 8 : 32;

// Nodes below the root can never join a pattern of this root. They get the key of a level-0 node,
// which no pattern node's key is ever below, so the one key comparison also tests for the root.
template <class Key>
inline Key make_key(std::uint64_t level, std::int32_t node, std::int32_t root) {
  return node < root ? Key(node) : Key((level << kLevelShift<Key>) | std::uint64_t(node));
}
template <class Key>
inline std::int32_t node_of(Key key) {
  return std::int32_t(std::uint64_t(key) & ((std::uint64_t(1) << kLevelShift<Key>)-1));
}
template <class Key>
inline std::uint64_t level_of(Key key) {
  return std::uint64_t(key) >> kLevelShift<Key>;
}

constexpr std::size_t kBlockBytes = std::size_t(1) << 20;
constexpr std::size_t kLabelBytes = 16;
constexpr std::size_t kSlack = 64;  // lines are copied 64 bytes or 16 at a time, labels stored 16 at a time
constexpr std::size_t kMaskBits = 64;

// A part gives work away once it has listed this share of what it would keep.
constexpr std::uint64_t kYoungShare = 64;

// The lines listed before a pattern was entered, for one entered before the part started.
constexpr std::uint64_t kLinesUnknown = UINT64_MAX;

// What a search that may not give work away reads as wanted.
const std::atomic<unsigned> kNeverWanted{0};

// Removes the candidates whose key is not above last, each by moving the last candidate into its
// slot, as the search defines it; returns the number left, and sets largest to the largest key.
//
// The result in closed form: with k candidates kept, those in the first k slots stay, and the
// slots of the removed among them take the kept from slot k on, the last first. So one pass makes
// a mask of the kept, and only the holes cost a branch.
template <class Key>
inline std::uint32_t prune(Key* list, std::uint32_t size, Key last, std::uint64_t& largest) {
  if (size > kMaskBits) {
    std::uint32_t i = 0;
    while (i < size) {
      if (list[i] > last) {
        ++i;
      } else {
        list[i] = list[--size];
      }
    }
    largest = size == 0 ? 0 : *std::max_element(list, list + size);
    return size;
  }
  // Whole groups of 8 slots, the ones past the list masked out: the arena has room past the last list.
  std::uint64_t kept = 0;
  Key top = 0;
  for (std::uint32_t group = 0; group < size; group += 8) {
    for (std::uint32_t i = group; i < group + 8; ++i) {
      const Key key = i < size ? list[i] : Key(0);
      kept |= std::uint64_t(key > last) << i;
      top = std::max(top, key);
    }
  }
  largest = top;  // kept whenever anything is
  const std::uint32_t count = std::uint32_t(std::popcount(kept));
  const std::uint64_t front = count == kMaskBits ? ~std::uint64_t(0) : (std::uint64_t(1) << count) - 1;
  std::uint64_t holes = ~kept & front;
  std::uint64_t movers = kept & ~front;
  while (holes != 0) {
    const int from = 63 - std::countl_zero(movers);
    list[std::countr_zero(holes)] = list[from];
    holes &= holes - 1;
    movers ^= std::uint64_t(1) << from;
  }
  return count;
}

// Copies whole 16-byte chunks: the destination and the source have room for the overshoot.
// Lines of up to 64 bytes, the most common, take no branch.
inline char* copy_chunks(char* out, const char* text, std::size_t size) {
  std::memcpy(out, text, 64);
  for (std::size_t i = 64; i < size; i += 16) std::memcpy(out + i, text + i, 16);
  return out + size;
}

// Appends a pattern's line: the text of its parent, then its last node's label and line end.
inline char* append_line(char* out, const char* parent_text, std::uint32_t parent_end,
                         const std::array<char, 16>& label) {
  copy_chunks(out, parent_text, parent_end);
  std::memcpy(out + parent_end, label.data(), kLabelBytes);
  return out + parent_end + std::uint32_t(label[15]) + 1;
}

template <int kWords>
inline std::uint32_t has_bit(const std::array<std::uint64_t, 2>& words, std::int32_t node) {
  if constexpr (kWords == 1) {
    return std::uint32_t(words[0] >> node) & 1;
  } else {
    return std::uint32_t(words[std::size_t(node) >> 6] >> (node & 63)) & 1;
  }
}

// The keys of the longest chain of lists in a graph of at most 128 node slots: a list holds distinct
// nodes, each list is built past its parent's (with seen neighbours written and left behind), and
// whole chunks are copied past the last.
std::size_t short_arena_keys(std::int64_t slots, std::int64_t depth) {
  return std::size_t(slots) * std::size_t(depth + 3) + kSlack;
}

// What the short lists need of each node of a graph of at most 128 node slots.
[[maybe_unused]] std::vector<short_list::Neighbours> short_list_neighbours(const AdjacencyList& graph) {
  std::vector<short_list::Neighbours> all(std::size_t(graph.node_slots()));
  for (std::int32_t u = 0; u < graph.node_slots(); ++u) {
    const std::span<const std::int32_t> neighbours = graph.of(u);
    if (neighbours.size() > short_list::kKeys) continue;
    short_list::Neighbours& n = all[std::size_t(u)];
    for (std::size_t i = 0; i < neighbours.size(); ++i) {
      const std::int32_t w = neighbours[i];
      n.nodes[i] = std::uint16_t(w);
      n.seen_byte[2 * i] = std::uint8_t(w >> 3);
      n.seen_bit[i] = std::uint16_t(1u << (w & 7));
    }
    n.list_limit = short_list::kKeys;
  }
  return all;
}

std::int64_t largest_pattern(std::int64_t node_slots, std::int64_t adjacency_entries) {
  return std::max<std::int64_t>(0, std::min(node_slots - 1, adjacency_entries / 2 + 1));
}

}  // namespace

// The tables the search loop reads, as raw pointers in locals: stores of text through char pointers
// would make the compiler reload every member after each line.
template <class Key>
struct ListingSearch::Tables {
  Key* keys;
  Frame* frames;
  const Words* neighbour_bits;
  const short_list::Neighbours* short_neighbours;
  const std::array<char, 16>* labels;
  char* text;
  Words above_root;
};

ListingSearch::ListingSearch(const AdjacencyList& graph, SizeBounds bounds, ListCode code)
    : graph_(graph), bounds_(bounds) {
  const std::int64_t slots = graph.node_slots();
  const std::int64_t depth = std::min(largest_pattern(slots, std::int64_t(graph.neighbours.size())),
                                      std::max<std::int64_t>(bounds.most, 1));
  variant_ = slots <= 64 ? 1 : slots <= 128 ? 2 : 0;
  frames_.resize(std::size_t(depth) + 1);
  lines_by_size_.assign(std::size_t(depth) + 2, 0);
  if (variant_ == 0) {
    // Room for a chain of lists as long as the graph, and for copying whole chunks past the last list.
    long_keys_.resize(std::size_t(slots) + graph.neighbours.size() + kSlack);
    seen_.assign(std::size_t(slots), 0);
    marks_.resize(std::size_t(slots));
  } else {
    short_keys_.resize(short_arena_keys(slots, depth));
    neighbour_bits_.assign(std::size_t(slots), Words{});
    for (std::int32_t u = 0; u < slots; ++u) {
      for (const std::int32_t w : graph.of(u)) {
        neighbour_bits_[std::size_t(u)][std::size_t(w) >> 6] |= std::uint64_t(1) << (w & 63);
      }
    }
    // Nodes with a list limit of 0 never take the short lists.
    short_neighbours_.resize(std::size_t(slots));
#ifdef QUARN_SHORT_LISTS
    if (code == ListCode::fastest) short_neighbours_ = short_list_neighbours(graph);
#else
    (void)code;
#endif
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
  block_reserve_ = longest_line + kSlack;
  block_bytes_ = std::max(kBlockBytes, 2 * longest_line) + block_reserve_;
  start_block();
}

// Starts writing at the beginning of block_: any block with room for a few lines will do, as one
// traded away may be replaced by one of any size, and growing one costs a fresh allocation.
void ListingSearch::start_block() {
  if (block_.size() < 4 * block_reserve_) block_.resize(block_bytes_);
  out_ = block_.data();
  out_limit_ = block_.data() + block_.size() - block_reserve_;
}

std::uint64_t ListingSearch::bytes_needed(std::int64_t node_slots, std::int64_t adjacency_entries) {
  const std::uint64_t slots = std::uint64_t(std::max<std::int64_t>(node_slots, 0));
  const std::uint64_t depth = std::uint64_t(largest_pattern(node_slots, adjacency_entries)) + 1;
  // A label, an arena key, a seen mark and a mark stack entry, or the neighbours as bits.
  const std::uint64_t per_node =
      kLabelBytes + sizeof(std::uint64_t) + 1 + sizeof(std::int32_t) + sizeof(Words);
  // A frame, the widest text of a node in the pattern's text and thrice in the block, and a count of
  // the lines of that size.
  const std::uint64_t per_depth = sizeof(Frame) + 4 * 12 + sizeof(std::uint64_t);
  // Graphs of up to 128 node slots: the arena of short keys holds the longest chain of lists, and each
  // node has what its short lists need.
  const std::uint64_t small_graph =
      slots > 128 ? 0
                  : short_arena_keys(std::int64_t(slots), std::int64_t(depth)) * sizeof(std::uint16_t) +
                        slots * sizeof(short_list::Neighbours);
  return slots * per_node + std::uint64_t(adjacency_entries) * sizeof(std::uint64_t) + depth * per_depth +
         kBlockBytes + small_graph;
}

std::uint64_t ListingSearch::list_all(const BlockSink& sink, const RootDone& root_done) {
  std::uint64_t lines = 0;
  for (std::int32_t root = 1; root < graph_.node_slots(); ++root) {
    lines += dispatch(root, {}, {}, 0, std::numeric_limits<std::uint32_t>::max(), true, sink);
    if (root_done) root_done(root);
  }
  flush();
  return lines;
}

std::uint64_t ListingSearch::list_part(const Part& part, const BlockSink& sink) {
  return list_part(part, sink, Splitting{});
}

std::uint64_t ListingSearch::list_part(const Part& part, const BlockSink& sink, const Splitting& splitting) {
  if (part.root < 1 || part.root >= graph_.node_slots()) return 0;
  splitting_ = splitting.wanted != nullptr && splitting.offer ? &splitting : nullptr;
  std::uint64_t lines = 0;
  try {
    if (part.ends.size() > part.path.size() || (!part.ends.empty() && part.own_line)) return 0;
    lines = dispatch(part.root, part.path, part.ends, part.first_child, part.last_child, part.own_line, sink);
  } catch (...) {
    // An offer or the sink failed: the search stays usable, without the lines of the failed part.
    reset();
    throw;
  }
  splitting_ = nullptr;
  flush();
  return lines;
}

void ListingSearch::reset() {
  for (std::uint32_t k = 0; k < mark_count_; ++k) seen_[std::size_t(marks_[k])] = 0;
  mark_count_ = 0;
  start_block();  // a failed trade may have taken the block without leaving one
  splitting_ = nullptr;
}

std::uint32_t ListingSearch::child_count(std::int32_t root, std::span<const std::uint32_t> path) {
  if (root < 1 || root >= graph_.node_slots()) return 0;
  switch (variant_) {
    case 1:
      return count_children<Small>(root, path);
    case 2:
      return count_children<Medium>(root, path);
    default:
      return count_children<Large>(root, path);
  }
}

void ListingSearch::walk_down(std::int32_t root, std::span<const std::uint32_t> path, const PickChild& pick,
                              std::vector<WalkStep>& steps) {
  if (root < 1 || root >= graph_.node_slots()) return;
  switch (variant_) {
    case 1:
      return walk<Small>(root, path, pick, steps);
    case 2:
      return walk<Medium>(root, path, pick, steps);
    default:
      return walk<Large>(root, path, pick, steps);
  }
}

std::uint64_t ListingSearch::dispatch(std::int32_t root, std::span<const std::uint32_t> path,
                                      std::span<const std::uint32_t> ends, std::uint32_t first_child,
                                      std::uint32_t last_child, bool own_line, const BlockSink& sink) {
  sink_ = &sink;
  // Writing, and measuring the lines below each pattern for cuts near the pattern in progress (a
  // listing on threads); writing alone; or counting.
  const bool measuring = splitting_ != nullptr && splitting_->keep_bytes != nullptr;
  auto run_as = [&]<class V>() {
    if (!sink) return run<V, false, false>(root, path, ends, first_child, last_child, own_line);
    if (measuring) return run<V, true, true>(root, path, ends, first_child, last_child, own_line);
    return run<V, true, false>(root, path, ends, first_child, last_child, own_line);
  };
  switch (variant_) {
    case 1:
      return run_as.template operator()<Small>();
    case 2:
      return run_as.template operator()<Medium>();
    default:
      return run_as.template operator()<Large>();
  }
}

void ListingSearch::flush_full() {
  if (!trade_ || sink_ == nullptr || !*sink_) {
    flush();
    return;
  }
  trade_(block_, std::size_t(out_ - block_.data()));
  start_block();
}

void ListingSearch::flush() {
  if (out_ != block_.data() && sink_ != nullptr && *sink_) {
    (*sink_)(std::span<const char>(block_.data(), std::size_t(out_ - block_.data())));
  }
  out_ = block_.data();
}

template <class Key>
std::vector<Key>& ListingSearch::arena() {
  if constexpr (sizeof(Key) == 2) {
    return short_keys_;
  } else {
    return long_keys_;
  }
}

template <class V>
void ListingSearch::enter_root(std::int32_t root) {
  using Key = typename V::Key;
  root_ = root;
  Frame& f = frames_[0];
  f.marks = mark_count_;
  if constexpr (V::kWords == 0) {
    seen_[std::size_t(root)] = 1;
    marks_[mark_count_++] = root;
  } else {
    above_root_ = Words{};
    for (std::int32_t u = root + 1; u < std::int32_t(graph_.node_slots()); ++u) {
      above_root_[std::size_t(u) >> 6] |= std::uint64_t(1) << (u & 63);
    }
    f.seen = neighbour_bits_[std::size_t(root)];
    f.seen[std::size_t(root) >> 6] |= std::uint64_t(1) << (root & 63);
  }
  Key* list = arena<Key>().data();
  std::uint32_t size = 0;
  for (const std::int32_t w : graph_.of(root)) {
    if constexpr (V::kWords == 0) {
      seen_[std::size_t(w)] = 1;
      marks_[mark_count_++] = w;
    }
    list[size++] = make_key<Key>(1, w, root);
  }
  f.list = 0;
  f.size = prune(list, size, Key(root), f.largest);
  f.next = 0;
  f.end = f.size;
  std::memcpy(text_.data(), labels_[std::size_t(root)].data(), kLabelBytes);
  f.text_end = std::uint32_t(labels_[std::size_t(root)][15]);
}

// Builds the state of the child at this slot in the next frame: the list copied one level down with
// the slot refilled by the last candidate, the node's new neighbours, then the prune.
template <class V>
[[gnu::always_inline]] inline void ListingSearch::enter_child(Tables<typename V::Key>& t, std::uint32_t depth,
                                                              std::uint32_t slot) {
  const Frame& f = t.frames[depth];
  Frame& child = t.frames[depth + 1];
  const auto v = t.keys[f.list + slot];
  const std::int32_t node = node_of(v);
  child.list = f.list + f.size;
  if (!build_short_list<V>(t, f, child, slot)) {
    build_list<V>(f, child, slot);
    t.keys = arena<typename V::Key>().data();  // the arena may have grown
  }
  if constexpr (V::kWords > 0) {
    for (std::size_t k = 0; k < V::kWords; ++k) child.seen[k] = f.seen[k] | t.neighbour_bits[node][k];
  }
  child.next = 0;
  child.end = child.size;
  std::memcpy(t.text + f.text_end, t.labels[node].data(), kLabelBytes);
  child.text_end = f.text_end + std::uint32_t(t.labels[node][15]);
}

// The general code: any list, any graph.
template <class V>
[[gnu::noinline]] void ListingSearch::build_list(const Frame& f, Frame& child, std::uint32_t slot) {
  using Key = typename V::Key;
  std::vector<Key>& arena_keys = arena<Key>();
  const Key v = arena_keys[f.list + slot];
  const std::span<const std::int32_t> neighbours = graph_.of(node_of(v));
  if constexpr (V::kWords == 0) {
    // Only the long keys' arena can grow: the short keys' holds the longest chain of lists.
    const std::size_t need = f.list + 2 * std::size_t(f.size) + neighbours.size() + kSlack;
    if (need > arena_keys.size()) arena_keys.resize(std::max(need, 2 * arena_keys.size()));
  }
  const Key* list = arena_keys.data() + f.list;
  Key* next = arena_keys.data() + child.list;
  if constexpr (sizeof(Key) == 2) {
    // Whole chunks of 8 keys: the arena has room past the last list.
    for (std::uint32_t i = 0; i < f.size; i += 8) std::memmove(next + i, list + i, 16);
  } else {
    std::copy(list, list + f.size, next);
  }
  next[slot] = list[f.size - 1];
  std::uint32_t size = f.size - 1;
  const std::uint64_t level = level_of(v) + 1;
  if constexpr (V::kWords == 0) {
    child.marks = mark_count_;
    for (const std::int32_t w : neighbours) {
      if (seen_[std::size_t(w)] != 0) continue;
      seen_[std::size_t(w)] = 1;
      marks_[mark_count_++] = w;
      next[size++] = make_key<Key>(level, w, root_);
    }
  } else {
    for (const std::int32_t w : neighbours) {
      next[size] = make_key<Key>(level, w, root_);
      size += 1 - has_bit<V::kWords>(f.seen, w);
    }
  }
  child.size = prune(next, size, v, child.largest);
}

// The child's list in one register (ShortList.h), when the parent's list and the node's unseen
// neighbours make at most 8 keys; false, with nothing built, when they do not.
template <class V>
[[gnu::always_inline]] inline bool ListingSearch::build_short_list(
    [[maybe_unused]] const Tables<typename V::Key>& t, [[maybe_unused]] const Frame& f,
    [[maybe_unused]] Frame& child, [[maybe_unused]] std::uint32_t slot) {
#ifdef QUARN_SHORT_LISTS
  if constexpr (V::kWords > 0) {
    namespace sl = short_list;
    const std::uint16_t v = t.keys[f.list + slot];
    const sl::Neighbours& n = t.short_neighbours[node_of(v)];
    if (f.size > n.list_limit) return false;
    auto load = [](const void* from) { return _mm_loadu_si128(static_cast<const __m128i*>(from)); };
    auto shuffle = [&](__m128i keys, const sl::Control& control) {
      return _mm_shuffle_epi8(keys, load(control.data()));
    };
    auto lane_mask = [](__m128i lanes) {  // one bit per key lane whose 16 bits are all set
      return std::uint32_t(_mm_movemask_epi8(_mm_packs_epi16(lanes, _mm_setzero_si128())));
    };
    // Which neighbours are unseen: each one's byte of the seen set, and its bit in that byte.
    const __m128i bits = load(n.seen_bit.data());
    const __m128i seen =
        _mm_cmpeq_epi16(_mm_and_si128(shuffle(load(f.seen.data()), n.seen_byte), bits), bits);
    const std::uint32_t unseen = ~lane_mask(seen) & 0xFF;
    const std::uint32_t added = std::uint32_t(std::popcount(unseen));
    if (f.size - 1 + added > sl::kKeys) return false;
    // Their keys: the level below v's above the root, the node alone below it, as make_key.
    const __m128i nodes = load(n.nodes.data());
    const __m128i level = _mm_set1_epi16(std::int16_t((level_of(v) + 1) << kLevelShift<std::uint16_t>));
    const __m128i above_root = _mm_cmpgt_epi16(nodes, _mm_set1_epi16(std::int16_t(root_)));
    const __m128i new_keys = _mm_or_si128(nodes, _mm_and_si128(level, above_root));
    // The parent's list without v, then the unseen neighbours; keys never reach the sign bit.
    __m128i list = _mm_or_si128(shuffle(load(t.keys + f.list), sl::kRefill[f.size * sl::kKeys + slot]),
                                shuffle(shuffle(new_keys, sl::kPack[unseen]), sl::kShift[f.size - 1]));
    const std::uint32_t kept = lane_mask(_mm_cmpgt_epi16(list, _mm_set1_epi16(std::int16_t(v))));
    // The largest key before the prune, as prune() gives it.
    __m128i top = _mm_max_epi16(list, _mm_shuffle_epi32(list, 0x4E));
    top = _mm_max_epi16(top, _mm_shuffle_epi32(top, 0xB1));
    top = _mm_max_epi16(top, _mm_shufflelo_epi16(top, 0xB1));
    child.largest = std::uint16_t(_mm_cvtsi128_si32(top));
    list = shuffle(list, sl::kPrune[kept]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(t.keys + child.list), list);
    child.size = std::uint32_t(std::popcount(kept));
    return true;
  }
#endif
  return false;
}

template <class V>
void ListingSearch::leave(std::uint32_t depth) {
  if constexpr (V::kWords == 0) {
    const std::uint32_t base = frames_[depth].marks;
    for (std::uint32_t k = base; k < mark_count_; ++k) seen_[std::size_t(marks_[k])] = 0;
    mark_count_ = base;
  }
}

// Whether the node at the end of this chain would bring a neighbour that can join a pattern.
template <class V>
bool ListingSearch::brings_candidates(const Tables<typename V::Key>& t, const Frame& f,
                                      std::int32_t node) const {
  if constexpr (V::kWords == 0) {
    for (const std::int32_t w : graph_.of(node)) {
      if (seen_[std::size_t(w)] == 0 && w > root_) return true;
    }
    return false;
  } else {
    std::uint64_t any = 0;
    for (std::size_t k = 0; k < V::kWords; ++k)
      any |= t.neighbour_bits[node][k] & ~f.seen[k] & t.above_root[k];
    return any != 0;
  }
}

template <class Key>
ListingSearch::Tables<Key> ListingSearch::tables() {
  return {
      arena<Key>().data(), frames_.data(), neighbour_bits_.data(), short_neighbours_.data(), labels_.data(),
      text_.data(),        above_root_};
}

template <class V>
bool ListingSearch::descend(std::int32_t root, std::span<const std::uint32_t> path) {
  enter_root<V>(root);
  Tables<typename V::Key> t = tables<typename V::Key>();
  std::uint32_t depth = 0;
  for (const std::uint32_t slot : path) {
    if (slot >= frames_[depth].size || std::int64_t(depth) + 2 > bounds_.most) {
      leave<V>(0);
      return false;
    }
    frames_[depth].next = slot + 1;  // the path, for parts given away
    enter_child<V>(t, depth, slot);
    ++depth;
  }
  return true;
}

// Offers everything not yet started after the pattern in progress at some frame of the part, from its
// base: the children not started of that frame and of each one above it. The part's path is the slot
// of the child in progress at each frame above the cut.
void ListingSearch::give_away(std::uint32_t base, std::uint32_t depth, std::uint64_t lines) {
  const std::atomic<std::uint64_t>* const keep_bytes = splitting_->keep_bytes;
  std::uint64_t most_kept = UINT64_MAX;  // lines
  if (keep_bytes != nullptr) {
    // Lines below the pattern in progress are about as long as its own.
    most_kept = keep_bytes->load(std::memory_order_relaxed) / (frames_[depth].text_end + 1);
    // A part that has listed next to nothing cannot tell how much lies ahead of it, and would give
    // away nearly all it has, over and over.
    if (lines < most_kept / kYoungShare) return;
  }
  std::uint32_t shallowest = base;  // with children not started
  while (shallowest <= depth && frames_[shallowest].next >= frames_[shallowest].end) ++shallowest;
  if (shallowest > depth) return;
  std::uint32_t cut = shallowest;
  if (keep_bytes != nullptr) {
    // Moving the cut up from frame c keeps frame c's pattern whole: the lines it has listed so far,
    // and at least 2^n for each pattern from it down with n children not started (any of those
    // children may join it).
    cut = depth;
    std::uint64_t at_least = 0;
    for (; cut > shallowest; --cut) {
      const Frame& f = frames_[cut];
      const std::uint32_t not_started = f.end - std::min(f.next, f.end);
      at_least += not_started >= 63 ? most_kept + 1 : std::uint64_t{1} << not_started;
      if (f.lines_before == kLinesUnknown || at_least > most_kept || lines - f.lines_before > most_kept)
        break;
    }
  }
  Part part{root_, {}, frames_[cut].next, frames_[cut].end, false};
  part.path.reserve(cut);
  for (std::uint32_t k = 0; k < cut; ++k) part.path.push_back(frames_[k].next - 1);
  part.ends.reserve(cut - shallowest);
  for (std::uint32_t k = shallowest; k < cut; ++k) part.ends.push_back(frames_[k].end);
  if (!splitting_->offer(std::move(part))) return;
  for (std::uint32_t k = shallowest; k <= cut; ++k)
    frames_[k].end = std::min(frames_[k].next, frames_[k].end);
}

template <class V>
std::uint32_t ListingSearch::count_children(std::int32_t root, std::span<const std::uint32_t> path) {
  if (!descend<V>(root, path)) return 0;
  const bool at_max = std::int64_t(path.size()) + 1 >= bounds_.most;
  const std::uint32_t children = at_max ? 0 : frames_[path.size()].size;
  leave<V>(0);
  return children;
}

template <class V>
void ListingSearch::walk(std::int32_t root, std::span<const std::uint32_t> path, const PickChild& pick,
                         std::vector<WalkStep>& steps) {
  using Key = typename V::Key;
  if (!descend<V>(root, path)) return;
  const std::vector<Key>& keys = arena<Key>();
  Tables<Key> t = tables<Key>();
  walk_nodes_.assign(1, root);
  for (std::uint32_t k = 0; k < path.size(); ++k) {
    walk_nodes_.push_back(node_of(keys[frames_[k].list + frames_[k].next - 1]));
  }
  for (std::uint32_t depth = std::uint32_t(path.size());; ++depth) {
    const Frame& f = frames_[depth];
    const std::uint32_t children = std::int64_t(depth) + 1 >= bounds_.most ? 0 : f.size;
    steps.push_back({children, f.text_end + 1});
    if (children == 0 || std::int64_t(depth) + 2 >= bounds_.most) break;
    const std::size_t pattern_size = walk_nodes_.size();
    for (std::uint32_t slot = 0; slot < children; ++slot) walk_nodes_.push_back(node_of(keys[f.list + slot]));
    const std::span<const std::int32_t> nodes(walk_nodes_);
    const std::uint32_t slot = pick(WalkView{nodes.first(pattern_size), nodes.subspan(pattern_size)});
    if (slot >= children) break;
    walk_nodes_.resize(pattern_size);
    walk_nodes_.push_back(node_of(keys[f.list + slot]));
    enter_child<V>(t, depth, slot);
  }
  leave<V>(0);
}

template <class V, bool kWriting, bool kMeasuring>
std::uint64_t ListingSearch::run(std::int32_t root, std::span<const std::uint32_t> path,
                                 std::span<const std::uint32_t> ends, std::uint32_t first_child,
                                 std::uint32_t last_child, bool own_line) {
  using Key = typename V::Key;
  if (!descend<V>(root, path)) return 0;
  // The part starts at the pattern the path reaches, and goes on up to the pattern at base, taking the
  // children after the path's own at each pattern on the way, up to its end.
  const std::uint32_t start = std::uint32_t(path.size());
  const std::uint32_t base = start - std::uint32_t(ends.size());
  for (std::uint32_t k = base; k < start; ++k) {
    Frame& f = frames_[k];
    f.end = std::max(f.next, std::min(ends[k - base], f.size));
  }
  if constexpr (kMeasuring) {
    // What the part found on its way down came before it: how much it took is not known.
    for (std::uint32_t k = 0; k <= start; ++k) frames_[k].lines_before = kLinesUnknown;
  }
  const std::int64_t min_size = bounds_.least;
  const std::int64_t max_size = bounds_.most;
  std::uint64_t lines = 0;
  const std::uint64_t listed_before = lines_listed_;
  // Locals, not members: stores through char pointers would make the compiler reload members.
  char* out = out_;
  const char* out_limit = out_limit_;
  Tables<Key> t = tables<Key>();
  const std::atomic<unsigned>& wanted = splitting_ != nullptr ? *splitting_->wanted : kNeverWanted;
  auto flush_if_full = [&] {
    if (out > out_limit) {
      // Short of the children of the pattern in progress, which lines adds when they are done.
      lines_listed_ = listed_before + lines;
      out_ = out;
      flush_full();
      out = out_;
      out_limit = out_limit_;
    }
  };

  Frame* f = &t.frames[start];
  std::uint64_t* const by_size = lines_by_size_.data();
  if (own_line && std::int64_t(start) + 1 >= min_size) {
    ++lines;
    ++by_size[start + 1];
    if constexpr (kWriting) {
      out = copy_chunks(out, t.text, f->text_end + 1);
      flush_if_full();
    }
  }
  f->next = std::min(first_child, f->size);
  f->end = std::int64_t(start) + 1 >= max_size ? f->next : std::max(f->next, std::min(last_child, f->size));
  std::uint32_t depth = start;
  for (;;) {
    // The children of the pattern in frame f, from its next slot, until one has children of its own.
    const Key* const list = t.keys + f->list;
    std::uint32_t end = f->end;
    const std::uint32_t text_end = f->text_end;
    const Key largest = Key(f->largest);
    const std::int64_t size = std::int64_t(depth) + 2;
    const bool write_children = size >= min_size;
    const bool children_are_leaves = size >= max_size;
    std::uint32_t slot = f->next;
    bool descended = false;
    std::uint64_t children_written = 0;
    while (slot < end) {
      const Key v = list[slot++];
      if (wanted.load(std::memory_order_relaxed) > 0) [[unlikely]] {
        f->next = slot;
        give_away(base, depth, lines + children_written);
        end = f->end;
      }
      const std::int32_t node = node_of(v);
      if (write_children) {
        ++children_written;
        if constexpr (kWriting) {
          out = append_line(out, t.text, text_end, t.labels[node]);
          flush_if_full();
        }
      }
      if (children_are_leaves) continue;
      // Only the candidate with the largest key can leave its child without candidates.
      if ((v == largest) & !brings_candidates<V>(t, *f, node)) continue;
      f->next = slot;
      enter_child<V>(t, depth, slot - 1);
      if constexpr (kMeasuring) t.frames[depth + 1].lines_before = lines + children_written;
      descended = true;
      break;
    }
    lines += children_written;
    by_size[depth + 2] += children_written;
    if (descended) {
      f = &t.frames[++depth];
      continue;
    }
    leave<V>(depth);
    if (depth == base) break;
    f = &t.frames[--depth];
  }
  if (base > 0) leave<V>(0);
  out_ = out;
  lines_listed_ = listed_before + lines;
  return lines;
}
