#include "AttributedPattern.h"

#include <algorithm>

namespace {

std::uint64_t block_at(const std::uint32_t* entry) {
  return std::uint64_t(entry[1]) | std::uint64_t(entry[2]) << 32;
}

// How much of each array a search can fill, from the nodes that have a neighbour.
struct Sizes {
  std::size_t members;   // entries of the excluded, of the candidates and of the log
  std::size_t levels;    // nodes of a pattern, and nodes marked: the members and a root
  std::size_t profiles;  // one per change along a chain, and a slot to work out the next one
};

Sizes sizes_for(std::size_t linked_nodes, const AttributeTable& attributes) {
  const std::size_t levels = linked_nodes + 1;
  return {linked_nodes, levels, std::min(levels, std::size_t(attributes.attribute_count) + 1) + 1};
}

// An array sized once and filled as the search goes: its pages cost memory only once written.
template <class T>
std::unique_ptr<T[]> unfilled(std::size_t size) {
  return std::make_unique_for_overwrite<T[]>(std::max<std::size_t>(size, 1));
}

}  // namespace

std::uint64_t AttributedPattern::bytes_needed(const AdjacencyList& graph, const AttributeTable& attributes,
                                              RowLayout layout) {
  const Linkage linkage = linkage_of(graph);
  const Sizes sizes = sizes_for(linkage.linked_nodes, attributes);
  const std::uint64_t stride = SearchGraph::kHeader + SearchGraph::copied_words_for(attributes, layout);
  const std::uint64_t word = sizeof(std::uint32_t);
  return 3 * sizes.members * stride * word + sizes.members * word +
         sizes.levels * (sizeof(Level) + sizeof(std::int32_t)) +
         sizes.profiles * attributes.words_per_row * word +
         linkage.max_degree * sizeof(const std::uint32_t*) + (std::uint64_t(attributes.rows) + 64) / 64 * 8;
}

AttributedPattern::AttributedPattern(const SearchGraph& search)
    : search_(search),
      words_(search.words()),
      stride_(search.stride()),
      marks_(std::size_t(search.attributes.rows) + 1) {
  const Sizes sizes = sizes_for(search.linkage().linked_nodes, search.attributes);
  levels_ = unfilled<Level>(sizes.levels);
  profiles_ = unfilled<std::uint32_t>(sizes.profiles * words_);
  excluded_ = unfilled<std::uint32_t>(sizes.members * stride_);
  candidates_ = unfilled<std::uint32_t>(sizes.members * stride_);
  dropped_ = unfilled<std::uint32_t>(sizes.members * stride_);
  dropped_at_ = unfilled<std::uint32_t>(sizes.members);
  marked_ = unfilled<std::int32_t>(sizes.levels);
  later_.reserve(search.linkage().max_degree);
}

void AttributedPattern::start(std::int32_t first) {
  depth_ = 1;
  Level& level = levels_[0];
  level.node = first;
  level.profile = 0;
  profile_count_ = 1;
  const Words row = search_.row(first);
  std::copy(row.begin(), row.end(), profiles_.get());
  marked_count_ = 0;
  dropped_count_ = 0;
  level.marked_begin = 0;
  level.merged = 0;
  level.dropped_begin = 0;
  level.dropped_excluded = 0;
  mark(first);
  std::uint32_t excluded_end = 0;
  std::uint32_t candidates_end = 0;
  const std::uint64_t block = search_.block_of(first);
  const std::uint32_t* entry = search_.entries(block);
  for (std::uint32_t k = 0; k < search_.degree(block); ++k, entry += stride_) {
    const std::int32_t w = node_of(entry);
    mark(w);
    copy_entry(entry, w > first ? candidate_entry(candidates_end++) : excluded_entry(excluded_end++));
  }
  level.excluded_end = excluded_end;
  level.candidates_begin = 0;
  level.second_begin = candidates_end;
  level.candidates_end = candidates_end;
}

void AttributedPattern::extend(std::size_t index) {
  const Level& parent = levels_[depth_ - 1];
  Level& level = levels_[depth_];
  const auto added = std::uint32_t(parent.candidates_begin + index);
  const std::uint32_t* added_entry = candidate_entry(added);
  // The added node's block is read last; fetching it now overlaps the miss with the work on the groups.
  const std::uint64_t block = block_at(added_entry);
  __builtin_prefetch(search_.entries(block) - 1);
  level.node = node_of(added_entry);
  level.marked_begin = marked_count_;
  level.dropped_begin = dropped_count_;

  // The new profile is worked out in the next free slot, and kept there only when it differs.
  const Words parent_profile = profile_of(parent);
  std::uint32_t* profile = profiles_.get() + std::size_t(profile_count_) * words_;
  const std::uint32_t* added_row = search_.entry_row(added_entry);
  bool same = true;
  for (std::size_t w = 0; w < words_; ++w) {
    profile[w] = parent_profile[w] & added_row[w];
    same = same && profile[w] == parent_profile[w];
  }
  level.profile = same ? parent.profile : profile_count_++;
  const Words shared = profile_of(level);
  const std::int32_t min_sup = search_.min_sup;
  auto supports = [&](const std::uint32_t* row) {
    return count_shared_ones(shared, Words{row, words_}) >= min_sup;
  };

  // The candidates before the added one become excluded; the rest of the added node's own group stays
  // earlier candidates, and an earlier node passes the later group on as it is.
  std::uint32_t excluded_end = parent.excluded_end;
  const std::uint32_t first_end = added < parent.second_begin ? parent.second_begin : parent.candidates_end;
  std::uint32_t second_begin = first_end;
  std::uint32_t candidates_end = parent.candidates_end;
  if (same) {
    // Every member keeps its support.
    const std::size_t passed = added - parent.candidates_begin;
    std::copy_n(candidate_entry(parent.candidates_begin), passed * stride_, excluded_entry(excluded_end));
    excluded_end += std::uint32_t(passed);
    level.dropped_excluded = 0;
  } else {
    std::uint32_t unused = 0;
    excluded_end = keep_supported(excluded_.get(), 0, excluded_end, excluded_end, unused, shared);
    level.dropped_excluded = dropped_count_ - level.dropped_begin;
    for (std::uint32_t i = parent.candidates_begin; i < added; ++i) {
      const std::uint32_t* entry = candidate_entry(i);
      if (supports(search_.entry_row(entry))) copy_entry(entry, excluded_entry(excluded_end++));
    }
    candidates_end =
        keep_supported(candidates_.get(), added + 1, candidates_end, first_end, second_begin, shared);
  }

  // New neighbours, ascending since the neighbour lists are: those not above root are excluded, the
  // others are merged into the later candidates. The support test reads the row in the block when it
  // is copied there, so it goes first: the marks are a scattered read.
  const std::int32_t root = levels_[0].node;
  later_.clear();
  const std::uint32_t* entry = search_.entries(block);
  for (std::uint32_t k = 0; k < search_.degree(block); ++k, entry += stride_) {
    const std::int32_t w = node_of(entry);
    if (!supports(search_.entry_row(entry)) || marks_.test(w)) continue;
    if (w <= root) {
      mark(w);
      copy_entry(entry, excluded_entry(excluded_end++));
    } else {
      marks_.set(w);  // recorded with the merged, below
      later_.push_back(entry);
    }
  }
  level.excluded_end = excluded_end;
  level.candidates_begin = added + 1;
  level.second_begin = second_begin;
  level.candidates_end = candidates_end;
  merge_later(level);
  ++depth_;
}

// Keeps the members of [begin, end) that support the profile shared, in order, moved down over those
// that do not, which go to the log with their places. Returns the new end, and in split_after where
// the member at split (or the end, when split is end) landed.
std::uint32_t AttributedPattern::keep_supported(std::uint32_t* members, std::uint32_t begin,
                                                std::uint32_t end, std::uint32_t split,
                                                std::uint32_t& split_after, Words shared) {
  const std::int32_t min_sup = search_.min_sup;
  std::uint32_t kept = begin;
  for (std::uint32_t i = begin; i < end; ++i) {
    if (i == split) split_after = kept;
    const std::uint32_t* entry = members + std::size_t(i) * stride_;
    if (count_shared_ones(shared, row_of(entry)) >= min_sup) {
      if (kept != i) copy_entry(entry, members + std::size_t(kept) * stride_);
      ++kept;
    } else {
      copy_entry(entry, dropped_entry(dropped_count_));
      dropped_at_[dropped_count_++] = i;
    }
  }
  if (split == end) split_after = kept;
  return kept;
}

// Undoes keep_supported: the logged members dropped_[first, last), whose places ascend, go back to
// their places, and the kept members, now ending at kept_end, move up to theirs.
void AttributedPattern::restore_dropped(std::uint32_t* members, std::uint32_t kept_end, std::uint32_t first,
                                        std::uint32_t last) {
  std::uint32_t read = kept_end;
  std::uint32_t write = kept_end + (last - first);
  for (std::uint32_t j = last; j > first;) {
    --j;
    const std::uint32_t place = dropped_at_[j];
    while (write > place + 1) {
      --write;
      --read;
      copy_entry(members + std::size_t(read) * stride_, members + std::size_t(write) * stride_);
    }
    --write;
    copy_entry(dropped_entry(j), members + std::size_t(write) * stride_);
  }
}

// Merges the new later candidates (later_, ascending) into candidates_[second_begin, end) from the
// back, and records them, ascending, as the last nodes the level marked.
void AttributedPattern::merge_later(Level& level) {
  const auto count = std::uint32_t(later_.size());
  level.merged = count;
  for (const std::uint32_t* entry : later_) marked_[marked_count_++] = node_of(entry);
  // From the largest new node down: the run of candidates above it moves up in one piece.
  std::uint32_t end = level.candidates_end;
  level.candidates_end += count;
  for (std::uint32_t j = count; j > 0; --j) {
    const std::uint32_t* entry = later_[j - 1];
    const std::uint32_t place = first_at_least(level.second_begin, end, node_of(entry));
    move_entries(place, end, place + j);
    copy_entry(entry, candidate_entry(place + j - 1));
    end = place;
  }
}

// Undoes merge_later: the merged candidates leave the later group, whose others keep their order.
void AttributedPattern::take_out_merged(const Level& level) {
  if (level.merged == 0) return;
  const std::int32_t* merged = marked_.get() + (marked_count_ - level.merged);
  // The runs between the merged nodes move down in one piece each.
  std::uint32_t write = first_at_least(level.second_begin, level.candidates_end, merged[0]);
  std::uint32_t read = write + 1;
  for (std::uint32_t j = 1; j < level.merged; ++j) {
    const std::uint32_t next = first_at_least(read, level.candidates_end, merged[j]);
    move_entries(read, next, write);
    write += next - read;
    read = next + 1;
  }
  move_entries(read, level.candidates_end, write);
}

void AttributedPattern::retract() {
  const Level& level = levels_[depth_ - 1];
  if (depth_ > 1) {
    const Level& parent = levels_[depth_ - 2];
    take_out_merged(level);
    const std::uint32_t excluded_dropped_end = level.dropped_begin + level.dropped_excluded;
    restore_dropped(candidates_.get(), level.candidates_end - level.merged, excluded_dropped_end,
                    dropped_count_);
    restore_dropped(excluded_.get(), parent.excluded_end - level.dropped_excluded, level.dropped_begin,
                    excluded_dropped_end);
    dropped_count_ = level.dropped_begin;
    if (level.profile != parent.profile) --profile_count_;
  }
  for (std::uint32_t i = level.marked_begin; i < marked_count_; ++i) marks_.reset(marked_[i]);
  marked_count_ = level.marked_begin;
  --depth_;
}

bool AttributedPattern::covered(std::size_t index) const {
  const Level& level = current();
  const Words shared = profile_of(level);
  const std::uint32_t added = level.candidates_begin + std::uint32_t(index);
  const Words added_row = row_of(candidate_entry(added));
  for (std::uint32_t i = 0; i < level.excluded_end; ++i) {
    if (covers_and(row_of(excluded_entry(i)), shared, added_row)) return true;
  }
  for (std::uint32_t i = level.candidates_begin; i < added; ++i) {
    if (covers_and(row_of(candidate_entry(i)), shared, added_row)) return true;
  }
  return false;
}

bool AttributedPattern::same_profile(std::size_t index) const {
  const Level& level = current();
  return covers(row_of(candidate_entry(level.candidates_begin + index)), profile_of(level));
}

std::uint32_t AttributedPattern::first_at_least(std::uint32_t begin, std::uint32_t end,
                                                std::int32_t node) const {
  while (begin < end) {
    const std::uint32_t middle = begin + (end - begin) / 2;
    if (node_of(candidate_entry(middle)) < node) {
      begin = middle + 1;
    } else {
      end = middle;
    }
  }
  return begin;
}

std::size_t AttributedPattern::index_of(std::int32_t wanted) const {
  const Level& level = current();
  // Each group ascends: a binary search in each.
  auto find_in = [&](std::uint32_t begin, std::uint32_t end) {
    const std::uint32_t at = first_at_least(begin, end, wanted);
    return at < end && node_of(candidate_entry(at)) == wanted ? at : end;
  };
  std::uint32_t at = find_in(level.candidates_begin, level.second_begin);
  if (at == level.second_begin) at = find_in(level.second_begin, level.candidates_end);
  return at - level.candidates_begin;
}
