#include "PartPlan.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <limits>
#include <numeric>
#include <string>
#include <utility>

#include "helpers.h"

namespace {

__extension__ using Wide = unsigned __int128;  // sums of work, and sums times a number of parts

// A representative stands for at most 1/32 of a part's guessed patterns of its level, and at least
// 1/8192 when the budget allows.
constexpr std::uint64_t kLeastPiecesPerPart = 32;
constexpr std::uint64_t kMostPiecesPerPart = 8192;
constexpr std::uint64_t kLeastSteps = 20'000;  // the planning budget of any run, in steps
constexpr std::uint64_t kMostSteps = 50'000'000;
// The budget grows by a step for this much estimated work of a part: planning takes a few per cent
// of a part's time at most, past the first sampling (see BENCHMARKS.md for the share measured).
constexpr std::uint64_t kWorkPerStep = 15'000;
constexpr std::uint64_t kSeed = 0x51ab5eed;

constexpr std::uint32_t kAllChildren = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t kNoParent = std::numeric_limits<std::size_t>::max();

// A place in the search's depth-first order: the pattern reached from the root roots[place[0]] by
// the slots place[1...]. Places compare as the search meets them: a pattern before its children, and
// {roots.size()} is the end of the search.
using Place = std::vector<std::uint32_t>;

struct Sample {
  Place place;
  std::uint64_t work = 0;  // the pattern's work times its weight
};

// A pattern of the level being sampled: a child of a representative of the level above.
struct Candidate {
  std::size_t parent = kNoParent;  // the representative's index; kNoParent for a root
  std::uint32_t slot = 0;          // the slot under the parent, or the root's index
  std::uint64_t weight = 1;        // the patterns it stands for
  std::uint64_t guess = 1;         // of the patterns below it
  std::uint32_t kind = 0;          // the guess's logarithm, in half bits
};

std::uint32_t kind_of(std::uint64_t guess) {
  const auto top = std::uint32_t(std::bit_width(guess) - 1);
  return 2 * top + (top > 0 ? std::uint32_t(guess >> (top - 1)) & 1 : 0);
}

// A number below bound, for bound >= 1.
std::uint64_t below(PlanRandom& random, std::uint64_t bound) {
  return std::uint64_t((Wide{random.next()} * bound) >> 64);
}

// The representatives of a level, in order: by kind, runs of consecutive candidates whose guessed
// patterns below, times their weights, stay within share, and whose weights stay within
// weight_share; one candidate of each run drawn in proportion to weight and weighing the whole run.
std::vector<Candidate> representatives(const std::vector<Candidate>& level, Wide share, Wide weight_share,
                                       PlanRandom& random) {
  std::vector<std::size_t> order(level.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&level](std::size_t a, std::size_t b) { return level[a].kind < level[b].kind; });
  std::vector<std::pair<std::size_t, std::uint64_t>> kept;  // index, weight
  Wide run_mass = 0;
  std::uint64_t run_weight = 0;
  std::size_t chosen = 0;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const Candidate& candidate = level[order[i]];
    const Wide mass = Wide{candidate.weight} * candidate.guess;
    const bool same_kind = i > 0 && level[order[i - 1]].kind == candidate.kind;
    if (run_weight > 0 &&
        (!same_kind || run_mass + mass > share || run_weight + candidate.weight > weight_share)) {
      kept.emplace_back(chosen, run_weight);
      run_mass = 0;
      run_weight = 0;
    }
    run_mass += mass;
    run_weight = add_work(run_weight, candidate.weight);
    if (below(random, run_weight) < candidate.weight) chosen = order[i];
  }
  if (run_weight > 0) kept.emplace_back(chosen, run_weight);
  std::sort(kept.begin(), kept.end());
  std::vector<Candidate> result;
  result.reserve(kept.size());
  for (const auto& [index, weight] : kept) {
    result.push_back(level[index]);
    result.back().weight = weight;
  }
  return result;
}

// One stratified sampling of the whole search, level by level; adds a sample for each
// representative, and returns the patterns the representatives stand for (an estimate of the
// patterns of the search). Every root is a representative of its own; below the roots, runs of
// candidates are merged up to a share of the level's guessed patterns: 1/pieces of them.
Wide sample_search(SearchShape& shape, std::span<const std::int32_t> roots, std::uint64_t pieces,
                   PlanRandom& random, std::vector<Sample>& samples) {
  std::vector<Candidate> level(roots.size());
  for (std::size_t i = 0; i < roots.size(); ++i) {
    const std::uint64_t guess = std::max<std::uint64_t>(shape.root_guess(roots[i]), 1);
    level[i] = {kNoParent, std::uint32_t(i), 1, guess, kind_of(guess)};
  }
  Wide patterns = 0;
  std::vector<Place> places;  // of the representatives of the level above
  SearchShape::Expansion expansion;
  bool at_roots = true;
  while (!level.empty()) {
    // The roots' guesses are rough: each root stands for itself. Below them, a run stands for at
    // most 1/pieces of the level's guessed patterns below, and of the level's patterns: so parts
    // of the search whose guesses are low (where the guess misses much) still get representatives.
    Wide share = 0;  // each candidate its own run
    Wide weight_share = 0;
    if (!at_roots) {
      for (const Candidate& c : level) {
        share += Wide{c.weight} * c.guess;
        weight_share += c.weight;
      }
      share = std::max<Wide>(share / pieces, 1);
      weight_share = std::max<Wide>(weight_share / pieces, 1);
    }
    const std::vector<Candidate> chosen = representatives(level, share, weight_share, random);
    std::vector<Place> chosen_places(chosen.size());
    level.clear();
    for (std::size_t k = 0; k < chosen.size(); ++k) {
      const Candidate& candidate = chosen[k];
      Place place = candidate.parent == kNoParent ? Place{} : places[candidate.parent];
      place.push_back(candidate.slot);
      expansion.own_work = 0;
      expansion.leaves_work = 0;
      expansion.slots.clear();
      expansion.guesses.clear();
      shape.expand(roots[place[0]], std::span<const std::uint32_t>(place).subspan(1), expansion);
      samples.push_back(
          {place, times_work(add_work(expansion.own_work, expansion.leaves_work), candidate.weight)});
      patterns += candidate.weight;
      for (std::size_t j = 0; j < expansion.slots.size(); ++j) {
        const std::uint64_t guess = std::max<std::uint64_t>(expansion.guesses[j], 1);
        level.push_back({k, expansion.slots[j], candidate.weight, guess, kind_of(guess)});
      }
      chosen_places[k] = std::move(place);
    }
    places = std::move(chosen_places);
    at_roots = false;
  }
  return patterns;
}

// The pieces that list the patterns from place first up to place end, end's own excluded.
class StretchPieces {
 public:
  StretchPieces(SearchShape& shape, std::span<const std::int32_t> roots) : shape_(shape), roots_(roots) {}

  std::vector<PartPieces::Run> between(const Place& first, const Place& end) {
    runs_.clear();
    if (!(first < end)) return runs_;
    std::size_t common = 0;
    while (common < first.size() && common < end.size() && first[common] == end[common]) ++common;
    std::size_t descend_from = first.size();
    if (common < first.size()) {
      // first's own patterns, then the later siblings of first and of each pattern above it, up to
      // the pattern that end lies below too.
      runs_.push_back({0, 0, Piece{roots_[first[0]], slots_of(first, first.size()), 0, kAllChildren, true}});
      for (std::size_t j = first.size() - 1; j > common; --j) children(first, j, first[j] + 1, kAllChildren);
      if (common == 0) {
        if (first[0] + 1 < end[0]) runs_.push_back({first[0] + std::size_t{1}, end[0], {}});
      } else {
        children(first, common, first[common] + 1, end[common]);
      }
      descend_from = common + 1;
    }
    // Down to end: each pattern above it, then its children before the one toward end.
    for (std::size_t j = descend_from; j < end.size(); ++j) {
      if (shape_.own_line_apart())
        runs_.push_back({0, 0, Piece{roots_[end[0]], slots_of(end, j), 0, 0, true}});
      children(end, j, 0, end[j]);
    }
    return runs_;
  }

 private:
  // The slots of the pattern of place's first length entries.
  static std::vector<std::uint32_t> slots_of(const Place& place, std::size_t length) {
    return std::vector<std::uint32_t>(place.begin() + 1, place.begin() + std::ptrdiff_t(length));
  }

  // The children [first, last) of the pattern of place's first length entries.
  void children(const Place& place, std::size_t length, std::uint32_t first, std::uint32_t last) {
    std::vector<std::uint32_t> slots = slots_of(place, length);
    const std::int32_t root = roots_[place[0]];
    last = std::min(last, shape_.children_end(root, slots));
    if (first < last) runs_.push_back({0, 0, Piece{root, std::move(slots), first, last, false}});
  }

  SearchShape& shape_;
  std::span<const std::int32_t> roots_;
  std::vector<PartPieces::Run> runs_;
};

}  // namespace

std::vector<PartPieces> plan_parts(SearchShape& shape, std::span<const std::int32_t> roots,
                                   std::uint32_t parts, PlanFigures* figures) {
  parts = std::max<std::uint32_t>(parts, 1);
  std::vector<PartPieces> result(parts);
  if (roots.empty()) return result;

  // Finer and finer samplings (four times the representatives each) while the planning budget
  // lasts, the finest one kept. The first sampling's estimate of the whole work sets the budget.
  std::vector<Sample> samples;
  const std::uint64_t planning_start = shape.steps();
  std::uint64_t budget = 0;
  std::uint64_t samplings = 0;
  for (std::uint64_t per_part = kLeastPiecesPerPart;; per_part *= 4) {
    samples.clear();
    const std::uint64_t steps_before = shape.steps();
    PlanRandom random(kSeed);
    sample_search(shape, roots, std::uint64_t{parts} * per_part, random, samples);
    if (samplings++ == 0) {
      Wide work = 0;
      for (const Sample& sample : samples) work += sample.work;
      budget = std::uint64_t(std::clamp<Wide>(work / (Wide{parts} * kWorkPerStep), kLeastSteps, kMostSteps));
    }
    const std::uint64_t spent = shape.steps() - planning_start;
    const std::uint64_t last = shape.steps() - steps_before;
    // The next sampling takes about four times the last one.
    if (per_part >= kMostPiecesPerPart || spent + 4 * last > budget) break;
  }
  std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) {
    return a.place != b.place ? a.place < b.place : a.work < b.work;
  });

  Wide total = 0;
  for (const Sample& sample : samples) total += sample.work;
  total = std::max<Wide>(total, 1);
  // starts[k]: where part k + 1 starts; the end of the search after the last part.
  std::vector<Place> starts(std::size_t{parts} + 1, Place{std::uint32_t(roots.size())});
  starts[0] = Place{0};
  std::size_t part = 0;
  Wide before = 0;
  for (const Sample& sample : samples) {
    const auto at = std::size_t(std::min<Wide>((2 * before + sample.work) * parts / (2 * total), parts - 1));
    while (part < at) starts[++part] = sample.place;
    result[part].estimate = add_work(result[part].estimate, sample.work);
    before += sample.work;
  }
  StretchPieces stretch(shape, roots);
  for (std::size_t k = 0; k < parts; ++k) result[k].runs = stretch.between(starts[k], starts[k + 1]);
  if (figures != nullptr) {
    *figures = {samplings, samples.size(), shape.steps(), std::uint64_t(std::min<Wide>(total, kMostWork))};
  }
  return result;
}

PartPieces plan_part(SearchShape& shape, std::span<const std::int32_t> roots, const RunOptions& options) {
  const PartChoice choice = *options.part;
  const auto start = std::chrono::steady_clock::now();
  std::vector<PartPieces> parts = plan_parts(shape, roots, choice.count);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  PartPieces part = std::move(parts[choice.index - 1]);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", took.count());
  note(options, "part " + std::to_string(choice.index) + "/" + std::to_string(choice.count) + ": " +
                    std::to_string(part.runs.size()) + " pieces, planned in " + seconds + " s");
  return part;
}

JobBoard::NextPiece next_piece_of(const PartPieces& part, std::span<const std::int32_t> roots) {
  return [&part, roots, run = std::size_t{0}, root = std::size_t{0}](Piece& piece) mutable {
    while (run < part.runs.size()) {
      const PartPieces::Run& r = part.runs[run];
      if (r.end_root <= r.first_root) {
        piece = r.piece;
        ++run;
        return true;
      }
      root = std::max(root, r.first_root);
      if (root < r.end_root) {
        piece = Piece{roots[root++], {}, 0, kAllChildren, true};
        return true;
      }
      ++run;
    }
    return false;
  };
}
