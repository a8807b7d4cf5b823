#include "AttributedPattern.h"

#include <algorithm>

void AttributedPattern::start(std::int32_t first, const SearchGraph& search,
                              std::vector<std::uint8_t>& seen) {
  level = 1;
  root = first;
  node = first;
  profile.assign_and(search.attributes.attribute_count, search.row(first), search.row(first));
  excluded.clear();
  candidates.clear();
  fresh_.clear();
  seen[std::size_t(first)] = 1;
  fresh_.push_back(first);
  for (const std::int32_t w : search.graph.of(first)) {
    seen[std::size_t(w)] = 1;
    fresh_.push_back(w);
    if (w > first) {
      candidates.push_back(w);
    } else {
      excluded.push_back(w);
    }
  }
  second_begin = candidates.size();
}

void AttributedPattern::extend(const AttributedPattern& parent, std::size_t index, const SearchGraph& search,
                               std::vector<std::uint8_t>& seen) {
  const std::int32_t added = parent.candidates[index];
  level = parent.level + 1;
  root = parent.root;
  node = added;
  profile.assign_and(parent.profile.size(), parent.profile.words(), search.row(added));
  const Words shared = profile.words();
  const std::int32_t min_sup = search.min_sup;
  auto keeps_support = [&](std::int32_t u) { return count_shared_ones(shared, search.row(u)) >= min_sup; };
  // With the profile unchanged, every member of the parent's groups keeps its support.
  const bool unchanged = equals(shared, parent.profile.words());
  auto stays = [&](std::int32_t u) { return unchanged || keeps_support(u); };

  excluded.clear();
  for (const std::int32_t u : parent.excluded) {
    if (stays(u)) excluded.push_back(u);
  }
  const std::int32_t* const from = parent.candidates.data();
  for (std::size_t i = 0; i < index; ++i) {
    if (stays(from[i])) excluded.push_back(from[i]);
  }
  // The rest of the added node's own group stays earlier candidates; an earlier node passes the later
  // group on as it is.
  const bool from_first = index < parent.second_begin;
  const std::size_t first_end = from_first ? parent.second_begin : parent.candidates.size();
  candidates.clear();
  for (std::size_t i = index + 1; i < first_end; ++i) {
    if (stays(from[i])) candidates.push_back(from[i]);
  }
  second_begin = candidates.size();
  for (std::size_t i = first_end; i < parent.candidates.size(); ++i) {
    if (stays(from[i])) candidates.push_back(from[i]);
  }

  // New neighbours, ascending since the neighbour lists are: those not above root are excluded, the
  // others (a suffix of fresh_) are merged into the later candidates.
  fresh_.clear();
  std::size_t above_root = 0;
  for (const std::int32_t w : search.graph.of(added)) {
    if (seen[std::size_t(w)] != 0 || !keeps_support(w)) continue;
    seen[std::size_t(w)] = 1;
    fresh_.push_back(w);
    if (w <= root) {
      excluded.push_back(w);
      above_root = fresh_.size();
    }
  }
  if (above_root == fresh_.size()) return;
  const std::size_t old_end = candidates.size();
  candidates.resize(old_end + (fresh_.size() - above_root));
  // Merge from the back: the later candidates in candidates[second_begin, old_end) and the new ones.
  std::size_t i = old_end;
  std::size_t j = fresh_.size();
  std::size_t k = candidates.size();
  while (j > above_root) {
    if (i > second_begin && candidates[i - 1] > fresh_[j - 1]) {
      candidates[--k] = candidates[--i];
    } else {
      candidates[--k] = fresh_[--j];
    }
  }
}

void AttributedPattern::release(std::vector<std::uint8_t>& seen) const {
  for (const std::int32_t w : fresh_) seen[std::size_t(w)] = 0;
}

bool AttributedPattern::covered(std::size_t index, const SearchGraph& search) const {
  const Words shared = profile.words();
  const Words added = search.row(candidates[index]);
  for (const std::int32_t u : excluded) {
    if (covers_and(search.row(u), shared, added)) return true;
  }
  for (std::size_t i = 0; i < index; ++i) {
    if (covers_and(search.row(candidates[i]), shared, added)) return true;
  }
  return false;
}

bool AttributedPattern::same_profile(std::size_t index, const SearchGraph& search) const {
  return covers(search.row(candidates[index]), profile.words());
}

std::size_t AttributedPattern::index_of(std::int32_t wanted) const {
  const auto split = candidates.begin() + std::ptrdiff_t(second_begin);
  auto at = std::lower_bound(candidates.begin(), split, wanted);
  if (at == split || *at != wanted) at = std::lower_bound(split, candidates.end(), wanted);
  return at != candidates.end() && *at == wanted ? std::size_t(at - candidates.begin()) : candidates.size();
}
