#include "AttributedPattern.h"

#include <algorithm>

namespace {

std::uint64_t block_at(const std::uint32_t* entry) {
  return std::uint64_t(entry[1]) | std::uint64_t(entry[2]) << 32;
}

// Appends a row of words. Rows are a few words long: a plain loop beats a call to memmove.
inline void append_row(std::vector<std::uint32_t>& rows, const std::uint32_t* row, std::size_t words) {
  for (std::size_t i = 0; i < words; ++i) rows.push_back(row[i]);
}

}  // namespace

inline void AttributedPattern::add_excluded(std::int32_t u, const std::uint32_t* row, std::size_t copied) {
  excluded.push_back(u);
  append_row(excluded_rows_, row, copied);
}

inline void AttributedPattern::add_candidate(std::int32_t u, const std::uint32_t* row, std::uint64_t block,
                                             std::size_t copied) {
  candidates.push_back(u);
  append_row(candidate_rows_, row, copied);
  candidate_blocks_.push_back(block);
}

void AttributedPattern::start(std::int32_t first, const SearchGraph& search, NodeMarks& seen) {
  const std::size_t copied = search.copied_words();
  level = 1;
  root = first;
  node = first;
  profile.assign_and(search.attributes.attribute_count, search.row(first), search.row(first));
  excluded.clear();
  excluded_rows_.clear();
  candidates.clear();
  candidate_rows_.clear();
  candidate_blocks_.clear();
  fresh_.clear();
  seen.set(first);
  fresh_.push_back(first);
  const std::uint64_t block = search.block_of(first);
  const std::uint32_t* entry = search.entries(block);
  for (std::uint32_t k = 0; k < search.degree(block); ++k, entry += search.stride()) {
    const auto w = std::int32_t(entry[0]);
    seen.set(w);
    fresh_.push_back(w);
    if (w > first) {
      add_candidate(w, entry + SearchGraph::kHeader, block_at(entry), copied);
    } else {
      add_excluded(w, entry + SearchGraph::kHeader, copied);
    }
  }
  second_begin = candidates.size();
}

void AttributedPattern::extend(const AttributedPattern& parent, std::size_t index, const SearchGraph& search,
                               NodeMarks& seen) {
  const std::size_t words = search.words();
  const std::size_t copied = search.copied_words();
  // The added node's block is read last; fetching it now overlaps the miss with the copying.
  const std::uint64_t block = parent.candidate_blocks_[index];
  __builtin_prefetch(search.entries(block) - 1);
  level = parent.level + 1;
  root = parent.root;
  node = parent.candidates[index];
  profile.assign_and(parent.profile.size(), parent.profile.words(), parent.candidate_row(index, search));
  const Words shared = profile.words();
  const std::int32_t min_sup = search.min_sup;
  auto keeps_support = [&](const std::uint32_t* row) {
    return count_shared_ones(shared, Words{row, words}) >= min_sup;
  };
  // With the profile unchanged, every member of the parent's groups keeps its support.
  if (equals(shared, parent.profile.words())) {
    copy_members(parent, index, copied);
  } else {
    filter_members(parent, index, search);
  }

  // New neighbours, ascending since the neighbour lists are: those not above root are excluded, the
  // others are merged into the later candidates. The support test reads the row in the block when it
  // is copied there, so it goes first: seen is a scattered read.
  fresh_.clear();
  later_.clear();
  const std::uint32_t* entry = search.entries(block);
  for (std::uint32_t k = 0; k < search.degree(block); ++k, entry += search.stride()) {
    const auto w = std::int32_t(entry[0]);
    if (!keeps_support(search.entry_row(entry)) || seen.test(w)) continue;
    seen.set(w);
    fresh_.push_back(w);
    if (w <= root) {
      add_excluded(w, entry + SearchGraph::kHeader, copied);
    } else {
      later_.push_back(entry);
    }
  }
  if (!later_.empty()) merge_later(copied);
}

// The members of parent that keep their support under profile, in their new groups: the candidates
// before index become excluded; the rest of the added node's own group stays earlier candidates,
// and an earlier node passes the later group on as it is.
void AttributedPattern::filter_members(const AttributedPattern& parent, std::size_t index,
                                       const SearchGraph& search) {
  const Words shared = profile.words();
  const std::size_t copied = search.copied_words();
  auto stays = [&](Words row) { return count_shared_ones(shared, row) >= search.min_sup; };
  excluded.clear();
  excluded_rows_.clear();
  for (std::size_t i = 0; i < parent.excluded.size(); ++i) {
    const Words row = parent.excluded_row(i, search);
    if (stays(row)) add_excluded(parent.excluded[i], row.data(), copied);
  }
  for (std::size_t i = 0; i < index; ++i) {
    const Words row = parent.candidate_row(i, search);
    if (stays(row)) add_excluded(parent.candidates[i], row.data(), copied);
  }
  const std::size_t first_end = index < parent.second_begin ? parent.second_begin : parent.candidates.size();
  candidates.clear();
  candidate_rows_.clear();
  candidate_blocks_.clear();
  auto keep_candidates = [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      const Words row = parent.candidate_row(i, search);
      if (stays(row)) add_candidate(parent.candidates[i], row.data(), parent.candidate_blocks_[i], copied);
    }
  };
  keep_candidates(index + 1, first_end);
  second_begin = candidates.size();
  keep_candidates(first_end, parent.candidates.size());
}

// filter_members when every member keeps its support: whole ranges are copied.
void AttributedPattern::copy_members(const AttributedPattern& parent, std::size_t index, std::size_t copied) {
  const auto cut = std::ptrdiff_t(index);
  const auto row_cut = std::ptrdiff_t(index * copied);
  excluded.assign(parent.excluded.begin(), parent.excluded.end());
  excluded.insert(excluded.end(), parent.candidates.begin(), parent.candidates.begin() + cut);
  excluded_rows_.assign(parent.excluded_rows_.begin(), parent.excluded_rows_.end());
  excluded_rows_.insert(excluded_rows_.end(), parent.candidate_rows_.begin(),
                        parent.candidate_rows_.begin() + row_cut);
  candidates.assign(parent.candidates.begin() + cut + 1, parent.candidates.end());
  candidate_rows_.assign(parent.candidate_rows_.begin() + row_cut + std::ptrdiff_t(copied),
                         parent.candidate_rows_.end());
  candidate_blocks_.assign(parent.candidate_blocks_.begin() + cut + 1, parent.candidate_blocks_.end());
  second_begin = index < parent.second_begin ? parent.second_begin - index - 1 : candidates.size();
}

// Merges the new later candidates (later_) into candidates[second_begin, end) from the back, moving
// the rows and blocks along.
void AttributedPattern::merge_later(std::size_t copied) {
  std::size_t i = candidates.size();
  std::size_t j = later_.size();
  std::size_t k = i + j;
  candidates.resize(k);
  candidate_rows_.resize(k * copied);
  candidate_blocks_.resize(k);
  while (j > 0) {
    --k;
    if (i > second_begin && candidates[i - 1] > std::int32_t(later_[j - 1][0])) {
      --i;
      candidates[k] = candidates[i];
      candidate_blocks_[k] = candidate_blocks_[i];
      std::copy_n(candidate_rows_.data() + i * copied, copied, candidate_rows_.data() + k * copied);
    } else {
      const std::uint32_t* entry = later_[--j];
      candidates[k] = std::int32_t(entry[0]);
      candidate_blocks_[k] = block_at(entry);
      std::copy_n(entry + SearchGraph::kHeader, copied, candidate_rows_.data() + k * copied);
    }
  }
}

void AttributedPattern::release(NodeMarks& seen) const {
  for (const std::int32_t w : fresh_) seen.reset(w);
}

bool AttributedPattern::covered(std::size_t index, const SearchGraph& search) const {
  const Words shared = profile.words();
  const Words added = candidate_row(index, search);
  for (std::size_t i = 0; i < excluded.size(); ++i) {
    if (covers_and(excluded_row(i, search), shared, added)) return true;
  }
  for (std::size_t i = 0; i < index; ++i) {
    if (covers_and(candidate_row(i, search), shared, added)) return true;
  }
  return false;
}

bool AttributedPattern::same_profile(std::size_t index, const SearchGraph& search) const {
  return covers(candidate_row(index, search), profile.words());
}

std::size_t AttributedPattern::index_of(std::int32_t wanted) const {
  const auto split = candidates.begin() + std::ptrdiff_t(second_begin);
  auto at = std::lower_bound(candidates.begin(), split, wanted);
  if (at == split || *at != wanted) at = std::lower_bound(split, candidates.end(), wanted);
  return at != candidates.end() && *at == wanted ? std::size_t(at - candidates.begin()) : candidates.size();
}
