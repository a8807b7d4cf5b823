// CIS listing: every connected induced subgraph as a line, in the fixed order of the search that
// Miner.h describes (roots 1..N, depth first, candidates in slot order, pruned by key).
//
// A pattern's state is its candidate list (in slot order, already pruned against its last node),
// the set of nodes seen in its chain, the key of its last node, and its text. A child's state is
// built from its parent's, one level down: the parent's list with the child's slot refilled by the
// last candidate, then the child's new neighbours in adjacency order, then the prune. The parent's
// list is never changed, so leaving a child undoes nothing but the marks of the nodes it saw. Where
// the parent's list and the child's new neighbours make at most 8 short keys, the child's list is
// built in one SIMD register (ShortList.h).
//
// Rebuilding a pattern's state: start from its root's state and take, at each step, the child at the
// next slot of the pattern's path of slots (the slot of each node in its parent's candidate list).
// list_part does that, then lists a range of the pattern's children; a job split off the search is
// such a range, and the jobs of one pattern's ranges, in order, give its lines in order.
//
// Splitting for threads: while another thread waits for work, a running part gives away what it has
// not started after some point (see Splitting): the children not started of its shallowest pattern
// that has some, or everything after the pattern it is in at a deeper one. Everything the part still
// lists after that comes before it in the output: a part that gives away G1, G2, ... in that order
// is followed by the lines of ..., G2, G1.
//
// All tables are sized at construction, except the arena of long keys (graphs of more than 128 node
// slots), which starts at the size of the graph and doubles when a chain of lists outgrows it: a list
// of c candidates has at least 2^c patterns below it, so only a listing that could never finish, or
// one cut short by a maximum size, needs more. The arena of short keys holds the longest chain.
// Nothing is allocated per pattern, and the depth of the search is an explicit stack of frames,
// independent of the process stack.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <vector>

#include "Graph.h"
#include "Output.h"
#include "ShortList.h"
#include "SizeCounts.h"

class ListingSearch {
 public:
  // Receives the lines in whole blocks, in order.
  using BlockSink = std::function<void(std::span<const char>)>;

  // A part of one root's listing. The listing of a pattern is its line, then the listings of its
  // children in slot order; a part is the listings of the children [first_child, last_child) of
  // the pattern reached from root by path, after the pattern's own line if own_line.
  //
  // A part may go on where a search left off: with ends, the last len(ends) patterns above the one the
  // path reaches follow it, the nearest first, each with its children after the one on the path, up
  // to its end (ends lists them from the shallowest, and comes without the own line). That is the
  // rest of a part that gives away everything after the pattern it is in.
  struct Part {
    std::int32_t root = 1;
    std::vector<std::uint32_t> path;  // slots, one per node after the root
    std::uint32_t first_child = 0;
    std::uint32_t last_child = std::numeric_limits<std::uint32_t>::max();
    bool own_line = true;  // with the pattern's own line, which comes before its children's
    std::vector<std::uint32_t> ends = {};
  };

  // How a running part gives work away. At every pattern the search reads *wanted; while it is above
  // 0, it offers everything it has not started after the pattern it is in at some depth, as a part
  // without its own line. When offer returns true the part is taken, and this search leaves it out.
  // offer must not call this search; it may throw, which ends the part.
  //
  // Where it cuts: without keep_bytes, at the shallowest pattern of the part with children not
  // started, which gives away the most. With it, as shallow as it can while what it keeps seems to
  // come to at most *keep_bytes of lines: a listing in order wants the work given away to start soon
  // after the work kept, so that its lines need not wait long to be written. What is left below a
  // pattern is taken to be much like what it has listed so far, and at least 2^n for n children not
  // started; a part that has listed less than a small share of that does not give work away yet.
  struct Splitting {
    const std::atomic<unsigned>* wanted = nullptr;  // > 0 while a worker waits for work
    std::function<bool(Part&& part)> offer;         // true: the part is taken; this search must leave it out
    const std::atomic<std::uint64_t>* keep_bytes = nullptr;
  };

  // Which code builds candidate lists: the fastest this build has (short lists in a register where
  // ShortList.h is compiled in), or the general code alone, which every build has (for tests).
  enum class ListCode { fastest, general };

  // The search reads the graph where it is: it must outlive the search.
  explicit ListingSearch(const AdjacencyList& graph, SizeBounds bounds = {},
                         ListCode code = ListCode::fastest);
  ListingSearch(AdjacencyList&& graph, SizeBounds bounds = {}, ListCode code = ListCode::fastest) = delete;

  // Takes a full block of lines, its first used bytes, and leaves in block a buffer to go on with,
  // of any size: the search resizes it.
  using BlockTrade = std::function<void(LineBuffer& block, std::size_t used)>;
  // From now on full blocks go to trade rather than to the sink, which then has the rest of each part.
  void trade_full_blocks(BlockTrade trade) { trade_ = std::move(trade); }

  // Told of each root once its patterns are listed.
  using RootDone = std::function<void(std::int32_t root)>;

  // Lists every root's patterns within the bounds, and returns their number. Without a sink, only
  // counts them.
  std::uint64_t list_all(const BlockSink& sink, const RootDone& root_done = {});
  // Lists one part (see Part); a path that leaves the search's patterns lists nothing.
  std::uint64_t list_part(const Part& part, const BlockSink& sink);
  // The same, giving work away as splitting says.
  std::uint64_t list_part(const Part& part, const BlockSink& sink, const Splitting& splitting);
  // The lines listed so far by this search, by the number of nodes of their pattern.
  std::span<const std::uint64_t> lines_by_size() const { return lines_by_size_; }
  // The lines this search has listed: after every root or part, and in every call of the sink short
  // of at most the children of one pattern (which the next call or the end of the part adds).
  std::uint64_t lines_listed() const { return lines_listed_; }
  // The number of children of the pattern reached from root by path, 0 past the search.
  std::uint32_t child_count(std::int32_t root, std::span<const std::uint32_t> path);

  // One pattern met by walk_down: its number of children, and the length of its line.
  struct WalkStep {
    std::uint32_t children = 0;
    std::uint32_t line_bytes = 0;
  };
  // What walk_down shows of a pattern before it goes down from it.
  struct WalkView {
    std::span<const std::int32_t> pattern;   // its nodes in the order they joined, the root first
    std::span<const std::int32_t> children;  // the node each child adds, by slot
  };
  // Chooses the slot of the child to go down to; kStopWalk ends the walk.
  using PickChild = std::function<std::uint32_t(const WalkView& view)>;
  static constexpr std::uint32_t kStopWalk = std::numeric_limits<std::uint32_t>::max();
  // For estimates of the work below a pattern: from the pattern reached from root by path, goes down
  // to the child that pick chooses until pick stops, or a pattern without children, or one whose
  // children have the most size (the search lists those without entering them). Appends a step for
  // each pattern on the way, the first one's first; none when the path leaves the search.
  void walk_down(std::int32_t root, std::span<const std::uint32_t> path, const PickChild& pick,
                 std::vector<WalkStep>& steps);

  // Bytes the search allocates for a graph of these sizes, before any arena growth.
  static std::uint64_t bytes_needed(std::int64_t node_slots, std::int64_t adjacency_entries);

 private:
  using Words = std::array<std::uint64_t, 2>;

  // How a search stores keys and seen sets: small graphs keep 16-bit keys (level << 8 | node) and
  // the seen set as bits in each frame; others 64-bit keys (level << 32 | node) and a mark per node.
  // A node below the root gets its number alone as key, the key of a level-0 node.
  template <class KeyType, int kSeenWords>
  struct Variant {
    using Key = KeyType;
    static constexpr int kWords = kSeenWords;
  };
  using Small = Variant<std::uint16_t, 1>;   // up to 64 node slots
  using Medium = Variant<std::uint16_t, 2>;  // up to 128
  using Large = Variant<std::uint64_t, 0>;

  struct Frame {
    std::size_t list = 0;            // arena offset of the candidate list
    std::uint32_t size = 0;          // candidates
    std::uint32_t next = 0;          // the next slot to extend by; the child in progress is at next - 1
    std::uint32_t end = 0;           // one past the last slot to extend by
    std::uint32_t text_end = 0;      // length of the pattern's text
    std::uint32_t marks = 0;         // marked nodes before this pattern's last node brought its own
    std::uint64_t largest = 0;       // the largest candidate key: the only child that can be a leaf
    std::uint64_t lines_before = 0;  // lines the part had listed when it entered the pattern
    Words seen{};                    // small graphs: the seen set as bits
  };

  std::uint64_t dispatch(std::int32_t root, std::span<const std::uint32_t> path,
                         std::span<const std::uint32_t> ends, std::uint32_t first_child,
                         std::uint32_t last_child, bool own_line, const BlockSink& sink);
  template <class V, bool kWriting, bool kMeasuring>
  std::uint64_t run(std::int32_t root, std::span<const std::uint32_t> path,
                    std::span<const std::uint32_t> ends, std::uint32_t first_child, std::uint32_t last_child,
                    bool own_line);
  void give_away(std::uint32_t base, std::uint32_t depth, std::uint64_t lines);
  void reset();
  template <class V>
  bool descend(std::int32_t root, std::span<const std::uint32_t> path);
  template <class V>
  std::uint32_t count_children(std::int32_t root, std::span<const std::uint32_t> path);
  template <class V>
  void walk(std::int32_t root, std::span<const std::uint32_t> path, const PickChild& pick,
            std::vector<WalkStep>& steps);
  template <class V>
  void enter_root(std::int32_t root);
  template <class Key>
  struct Tables;
  template <class Key>
  Tables<Key> tables();
  template <class V>
  void enter_child(Tables<typename V::Key>& t, std::uint32_t depth, std::uint32_t slot);
  template <class V>
  void build_list(const Frame& f, Frame& child, std::uint32_t slot);
  template <class V>
  bool build_short_list(const Tables<typename V::Key>& t, const Frame& f, Frame& child, std::uint32_t slot);
  template <class V>
  void leave(std::uint32_t depth);
  template <class V>
  bool brings_candidates(const Tables<typename V::Key>& t, const Frame& f, std::int32_t node) const;
  template <class Key>
  std::vector<Key>& arena();
  void flush();
  void flush_full();
  void start_block();

  const AdjacencyList& graph_;
  SizeBounds bounds_;
  std::vector<std::uint64_t> lines_by_size_;  // index: nodes of the pattern
  std::uint64_t lines_listed_ = 0;
  int variant_ = 0;  // 1: Small, 2: Medium, 0: Large
  std::int32_t root_ = 0;
  std::vector<std::uint16_t> short_keys_;  // the arena of candidate lists, Small and Medium
  std::vector<std::uint64_t> long_keys_;   // the arena of candidate lists, Large
  std::vector<Frame> frames_;
  std::vector<std::uint8_t> seen_;  // Large
  std::vector<std::int32_t> marks_;
  std::uint32_t mark_count_ = 0;
  std::vector<Words> neighbour_bits_;  // Small and Medium
  std::vector<short_list::Neighbours>
      short_neighbours_;  // Small and Medium, where short lists are compiled in
  Words above_root_{};
  std::vector<std::array<char, 16>> labels_;  // "node \n", its length without the line end in byte 15
  std::vector<char> text_;
  LineBuffer block_;
  std::size_t block_bytes_ = 0;    // the size of block_
  std::size_t block_reserve_ = 0;  // room kept at the end of block_ for one more line
  BlockTrade trade_;
  char* out_ = nullptr;
  char* out_limit_ = nullptr;
  const BlockSink* sink_ = nullptr;
  const Splitting* splitting_ = nullptr;  // of the part being listed, if it may give work away
  std::vector<std::int32_t> walk_nodes_;  // walk_down's: the pattern's nodes, then its children's
};
