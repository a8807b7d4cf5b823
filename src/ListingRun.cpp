#include "ListingRun.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "JobBoard.h"
#include "PartPlan.h"
#include "SearchShapes.h"

namespace {

// Lines come in large numbers: work is given away near the head, so that they need not wait long.
// Each thread may hold 32 chunks of 1 MiB, and all threads together 256, but each at least 4.
JobLimits listing_limits(unsigned threads) {
  constexpr std::size_t kMostChunks = 32;
  constexpr std::size_t kAllChunks = 256;
  constexpr std::size_t kLeastChunks = 4;
  return {std::size_t{1} << 20,
          std::clamp<std::size_t>(kAllChunks / std::max(threads, 1U), kLeastChunks, kMostChunks), true};
}

ListingSearch::Part part_of(const Piece& piece) {
  return {piece.root, piece.path, piece.first_child, piece.last_child, piece.own_line, piece.ends};
}

Piece piece_of(ListingSearch::Part&& part) {
  return {part.root,       std::move(part.path), part.first_child,
          part.last_child, part.own_line,        std::move(part.ends)};
}

// Adds a search's lines by size to a listing's.
void add_lines(const ListingSearch& search, Listing& listing) {
  const std::span<const std::uint64_t> by_size = search.lines_by_size();
  if (listing.by_size.size() < by_size.size()) listing.by_size.resize(by_size.size(), 0);
  for (std::size_t size = 0; size < by_size.size(); ++size) listing.by_size[size] += by_size[size];
}

// Tells a progress line of a search's lines, a block or a root at a time: the lines themselves
// cost nothing.
class LineMeter {
 public:
  LineMeter(const ListingSearch& search, Progress* progress) : search_(search), progress_(progress) {}
  void report(std::size_t bytes) {
    if (progress_ == nullptr) return;
    const std::uint64_t lines = search_.lines_listed();
    progress_->add(lines - reported_, bytes);
    reported_ = lines;
  }

 private:
  const ListingSearch& search_;
  Progress* progress_;
  std::uint64_t reported_ = 0;
};

Listing list_on_one_thread(const AdjacencyList& graph, SizeBounds bounds, PatternOutput& output,
                           Progress* progress) {
  ListingSearch search(graph, bounds);
  LineMeter meter(search, progress);
  ListingSearch::BlockSink sink;
  if (output.enabled()) {
    sink = [&](std::span<const char> block) {
      output.write_block(block.data(), block.size());
      meter.report(block.size());
    };
  }
  ListingSearch::RootDone root_done;
  if (progress != nullptr) {
    root_done = [&](std::int32_t root) {
      meter.report(0);
      progress->set_roots_done(std::uint64_t(root));
    };
  }
  Listing listing;
  listing.lines = search.list_all(sink, root_done);
  meter.report(0);
  add_lines(search, listing);
  return listing;
}

}  // namespace

std::uint64_t listing_bytes_needed(std::int64_t node_slots, std::int64_t adjacency_entries,
                                   unsigned threads) {
  const std::uint64_t search = ListingSearch::bytes_needed(node_slots, adjacency_entries);
  if (threads <= 1) return search;
  return threads * (search + JobBoard::bytes_per_worker(listing_limits(threads)));
}

namespace {

// Lists the pieces that next hands out, in order, on several threads.
Listing list_on_threads(const AdjacencyList& graph, SizeBounds bounds, unsigned threads,
                        PatternOutput& output, JobBoard::NextPiece next, Progress* progress,
                        const JobLimits* limits) {
  JobBoard::WriteBlock write_block;
  if (output.enabled())
    write_block = [&output](const char* data, std::size_t size) { output.write_block(data, size); };
  JobBoard board(threads, std::move(next), write_block,
                 limits != nullptr ? *limits : listing_limits(threads));
  Listing listing;
  std::mutex listing_mutex;
  board.run([&](JobBoard::Worker& worker) {
    ListingSearch search(graph, bounds);
    LineMeter meter(search, progress);
    ListingSearch::BlockSink sink;
    if (output.enabled()) {
      sink = [&worker, &meter](std::span<const char> block) {
        worker.write(block.data(), block.size());
        meter.report(block.size());
      };
      // Full blocks change hands rather than being copied.
      search.trade_full_blocks([&worker, &meter](LineBuffer& block, std::size_t used) {
        worker.trade(block, used);
        meter.report(used);
      });
    }
    const ListingSearch::Splitting splitting{
        &worker.wanted(),
        [&worker](ListingSearch::Part&& part) { return worker.offer(piece_of(std::move(part))); },
        worker.keep_bytes()};
    std::uint64_t lines = 0;
    while (const Piece* piece = worker.take()) {
      lines += search.list_part(part_of(*piece), sink, splitting);
      meter.report(0);
    }
    const std::lock_guard lock(listing_mutex);
    listing.lines += lines;
    add_lines(search, listing);
  });
  return listing;
}

// Tells progress of each root as its first piece is handed out.
JobBoard::NextPiece telling_roots(JobBoard::NextPiece next, Progress* progress) {
  if (progress == nullptr) return next;
  return JobBoard::telling_roots(
      std::move(next), [progress](std::int32_t root) { progress->set_roots_done(std::uint64_t(root)); });
}

// Lists one part of the whole listing.
Listing list_part_of_run(const AdjacencyList& graph, SizeBounds bounds, unsigned threads,
                         PatternOutput& output, const RunOptions& options, Progress* progress,
                         const JobLimits* limits) {
  std::vector<std::int32_t> roots(std::size_t(std::max<std::int64_t>(graph.node_slots() - 1, 0)));
  for (std::size_t i = 0; i < roots.size(); ++i) roots[i] = std::int32_t(i + 1);
  PartPieces part;
  {
    ListingShape shape(graph, bounds);
    part = plan_part(shape, roots, options);
  }
  const JobBoard::NextPiece next = telling_roots(next_piece_of(part, roots), progress);
  if (threads > 1) return list_on_threads(graph, bounds, threads, output, next, progress, limits);
  ListingSearch search(graph, bounds);
  LineMeter meter(search, progress);
  ListingSearch::BlockSink sink;
  // Pieces can be small: their blocks are gathered before they are written.
  if (output.enabled()) {
    sink = [&output, &meter](std::span<const char> block) {
      output.write(block.data(), block.size());
      meter.report(block.size());
    };
  }
  Listing listing;
  for (Piece piece; next(piece);) {
    listing.lines += search.list_part(part_of(piece), sink);
    meter.report(0);
  }
  add_lines(search, listing);
  return listing;
}

}  // namespace

Listing list_patterns(const AdjacencyList& graph, SizeBounds bounds, unsigned threads, PatternOutput& output,
                      const RunOptions* options, Progress* progress, const JobLimits* limits) {
  if (progress != nullptr && !progress->enabled()) progress = nullptr;
  if (options != nullptr && options->part)
    return list_part_of_run(graph, bounds, threads, output, *options, progress, limits);
  if (threads <= 1) return list_on_one_thread(graph, bounds, output, progress);
  std::int32_t next_root = 1;
  const std::int64_t roots = graph.node_slots();
  JobBoard::NextPiece next = [&](Piece& piece) {
    if (next_root >= roots) return false;
    piece = Piece{next_root++, {}, 0, UINT32_MAX, true};
    return true;
  };
  return list_on_threads(graph, bounds, threads, output, telling_roots(std::move(next), progress), progress,
                         limits);
}
