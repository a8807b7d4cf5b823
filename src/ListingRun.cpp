#include "ListingRun.h"

#include <memory>
#include <mutex>
#include <vector>

#include "JobBoard.h"
#include "PartPlan.h"
#include "SearchShapes.h"

namespace {

constexpr JobBoard::Limits kLimits{};

ListingSearch::Part part_of(const Piece& piece) {
  return {piece.root, piece.path, piece.first_child, piece.last_child, piece.own_line};
}

Piece piece_of(ListingSearch::Part&& part) {
  return {part.root, std::move(part.path), part.first_child, part.last_child, part.own_line};
}

// Adds a search's lines by size to a listing's.
void add_lines(const ListingSearch& search, Listing& listing) {
  const std::span<const std::uint64_t> by_size = search.lines_by_size();
  if (listing.by_size.size() < by_size.size()) listing.by_size.resize(by_size.size(), 0);
  for (std::size_t size = 0; size < by_size.size(); ++size) listing.by_size[size] += by_size[size];
}

Listing list_on_one_thread(const AdjacencyList& graph, SizeBounds bounds, PatternOutput& output) {
  ListingSearch search(graph, bounds);
  ListingSearch::BlockSink sink;
  if (output.enabled()) {
    sink = [&output](std::span<const char> block) { output.write_block(block.data(), block.size()); };
  }
  Listing listing;
  listing.lines = search.list_all(sink);
  add_lines(search, listing);
  return listing;
}

}  // namespace

std::uint64_t listing_bytes_needed(std::int64_t node_slots, std::int64_t adjacency_entries,
                                   unsigned threads) {
  const std::uint64_t search = ListingSearch::bytes_needed(node_slots, adjacency_entries);
  if (threads <= 1) return search;
  return threads * (search + JobBoard::bytes_per_worker(kLimits));
}

namespace {

// Lists the pieces that next hands out, in order, on several threads.
Listing list_on_threads(const AdjacencyList& graph, SizeBounds bounds, unsigned threads,
                        PatternOutput& output, JobBoard::NextPiece next) {
  JobBoard::WriteBlock write_block;
  if (output.enabled())
    write_block = [&output](const char* data, std::size_t size) { output.write_block(data, size); };
  JobBoard board(threads, std::move(next), write_block, kLimits);
  Listing listing;
  std::mutex listing_mutex;
  board.run([&](JobBoard::Worker& worker) {
    ListingSearch search(graph, bounds);
    ListingSearch::BlockSink sink;
    if (output.enabled())
      sink = [&worker](std::span<const char> block) { worker.write(block.data(), block.size()); };
    const ListingSearch::Splitting splitting{&worker.hungry(), [&worker](ListingSearch::Part&& part) {
                                               return worker.offer(piece_of(std::move(part)));
                                             }};
    std::uint64_t lines = 0;
    while (const Piece* piece = worker.take()) lines += search.list_part(part_of(*piece), sink, splitting);
    const std::lock_guard lock(listing_mutex);
    listing.lines += lines;
    add_lines(search, listing);
  });
  return listing;
}

// Lists one part of the whole listing.
Listing list_part_of_run(const AdjacencyList& graph, SizeBounds bounds, unsigned threads,
                         PatternOutput& output, const RunOptions& options) {
  std::vector<std::int32_t> roots(std::size_t(std::max<std::int64_t>(graph.node_slots() - 1, 0)));
  for (std::size_t i = 0; i < roots.size(); ++i) roots[i] = std::int32_t(i + 1);
  PartPieces part;
  {
    ListingShape shape(graph, bounds);
    part = plan_part(shape, roots, options);
  }
  if (threads > 1) return list_on_threads(graph, bounds, threads, output, next_piece_of(part, roots));
  ListingSearch search(graph, bounds);
  ListingSearch::BlockSink sink;
  // Pieces can be small: their blocks are gathered before they are written.
  if (output.enabled())
    sink = [&output](std::span<const char> block) { output.write(block.data(), block.size()); };
  Listing listing;
  const JobBoard::NextPiece next = next_piece_of(part, roots);
  for (Piece piece; next(piece);) listing.lines += search.list_part(part_of(piece), sink);
  add_lines(search, listing);
  return listing;
}

}  // namespace

Listing list_patterns(const AdjacencyList& graph, SizeBounds bounds, unsigned threads, PatternOutput& output,
                      const RunOptions* options) {
  if (options != nullptr && options->part) return list_part_of_run(graph, bounds, threads, output, *options);
  if (threads <= 1) return list_on_one_thread(graph, bounds, output);
  std::int32_t next_root = 1;
  const std::int64_t roots = graph.node_slots();
  return list_on_threads(graph, bounds, threads, output, [&](Piece& piece) {
    if (next_root >= roots) return false;
    piece = Piece{next_root++, {}, 0, UINT32_MAX, true};
    return true;
  });
}
