// Parts of one run for many machines: the whole search cut into N stretches of its depth-first
// order, of near-equal estimated work. Each part lists the patterns of its stretch, so the lines of
// the parts joined in order are the lines of the whole run.
//
// Every machine plans the same parts: the plan depends only on the search (the graph and the options
// that shape it) and on N, never on the time, the machine, the threads or the part asked for. The
// estimates are integers from sampling whose random choices follow a fixed generator with fixed
// seeds, so that every build computes the same numbers.
//
// Estimating: stratified sampling of the search tree, level by level (after Chen's estimator). Each
// level keeps representative patterns, each standing for a weight of patterns of that level. Every
// root stands for itself. The shape guesses the patterns below each pattern (see SearchShapes.h);
// below the roots, the patterns of a level are grouped by kind (the guess's logarithm, in half bits)
// and, within a kind, into runs of consecutive patterns whose guessed patterns below, times their
// weights, stay within 1/(N p) of the whole level's: one pattern of each run, drawn in proportion to
// weight, represents the whole run. So patterns are merged only where they look alike and are small,
// and the stretches of the order that representatives stand for stay short. The children of the
// representatives make up the next level. A pattern's work (see SearchShapes.h) times its weight,
// at its place in the search's order, estimates the work of the patterns it stands for, in the same
// stretch of the order; the estimate of any stretch is unbiased.
//
// Budget: a first sampling with p = 32 representatives per part and level estimates the whole
// work; the planning budget, in patterns stepped through, is that work per part over kWorkPerStep
// (at least kLeastSteps). Samplings with p = 128, 512, ... follow while the next one (about four
// times the last) fits in the budget; the finest is kept. A bigger run so gets a finer plan, and
// planning stays a small share of a part's time.
//
// Cutting: the sampled patterns in search order, each goes to the part that holds the middle of its
// work in the running sum: part floor(N (sum before it + half its own) / total) + 1. A part starts
// at its first sampled pattern and ends where the next part starts; the stretch between two patterns
// of the search is a short list of pieces (see PartPieces).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "JobBoard.h"
#include "Options.h"

// The random choices of the estimates: splitmix64, the same sequence for a seed on every machine.
class PlanRandom {
 public:
  explicit PlanRandom(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
    z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
    return z ^ (z >> 31);
  }

 private:
  std::uint64_t state_;
};

// Work estimates saturate here, far beyond anything a run could do.
constexpr std::uint64_t kMostWork = std::uint64_t(1) << 62;
constexpr std::uint64_t add_work(std::uint64_t a, std::uint64_t b) {
  return a >= kMostWork - b ? kMostWork : a + b;  // b is at most kMostWork
}
constexpr std::uint64_t times_work(std::uint64_t work, std::uint64_t factor) {
  return factor != 0 && work > kMostWork / factor ? kMostWork : work * factor;
}

// What the planner needs of a search: its patterns are reached from a root by a path of slots (the
// child indices of Piece). Work is in the search's own units: only its ratios matter.
class SearchShape {
 public:
  // A pattern as the sampling sees it.
  struct Expansion {
    std::uint64_t own_work = 0;          // the pattern's own work, its line included
    std::uint64_t leaves_work = 0;       // its children's, when the search lists them without going down
    std::vector<std::uint32_t> slots;    // the children the search goes down to, ascending
    std::vector<std::uint64_t> guesses;  // by child: a guess of the patterns below it, at least 1
  };

  virtual ~SearchShape() = default;
  // A guess of the patterns below a root, at least 1: it need only be cheap, and grow with them.
  virtual std::uint64_t root_guess(std::int32_t root) = 0;
  // The pattern reached from root by path.
  virtual void expand(std::int32_t root, std::span<const std::uint32_t> path, Expansion& expansion) = 0;
  // One past the slot of the last child that the search tries at that pattern (0 without children):
  // a piece's range of children ends there.
  virtual std::uint32_t children_end(std::int32_t root, std::span<const std::uint32_t> path) = 0;
  // Whether a pattern's own line can be a piece apart from its children (CIS). Where it cannot
  // (MCS), a pattern with children has no line of its own.
  virtual bool own_line_apart() const = 0;
  // Patterns stepped through so far (replays included), for the planning budget.
  virtual std::uint64_t steps() const = 0;
};

// The pieces of one part, in search order: runs of whole roots, and pieces below a root.
struct PartPieces {
  struct Run {
    // The whole roots roots[first_root, end_root) when end_root > first_root (never empty: an empty
    // run would be read as the piece).
    std::size_t first_root = 0;
    std::size_t end_root = 0;
    Piece piece;  // otherwise this piece
  };
  std::vector<Run> runs;
  std::uint64_t estimate = 0;  // the part's estimated work
};

// What a plan took: the planner's figures, for the tests.
struct PlanFigures {
  std::uint64_t samplings = 0;   // samplings made, each finer than the one before; the last is kept
  std::uint64_t sampled = 0;     // patterns sampled by the last sampling
  std::uint64_t steps = 0;       // patterns stepped through by the shape, over all samplings
  std::uint64_t total_work = 0;  // estimated by the last sampling, the whole run's
};

// Every part of a run split into parts (parts >= 1), in order. roots are the search's roots in order.
std::vector<PartPieces> plan_parts(SearchShape& shape, std::span<const std::int32_t> roots,
                                   std::uint32_t parts, PlanFigures* figures = nullptr);
// The part that options.part names (which must be set); notes how long planning took, and how many
// pieces the part has, on standard error (unless options.quiet).
PartPieces plan_part(SearchShape& shape, std::span<const std::int32_t> roots, const RunOptions& options);

// Hands out a part's pieces in order, whole roots one at a time, as JobBoard takes its first pieces.
// part and roots must outlive it.
JobBoard::NextPiece next_piece_of(const PartPieces& part, std::span<const std::int32_t> roots);
