#include "ListingRun.h"

#include <atomic>
#include <memory>
#include <vector>

#include "JobBoard.h"

namespace {

constexpr JobBoard::Limits kLimits{};

ListingSearch::Part part_of(const Piece& piece) {
  return {piece.root, piece.path, piece.first_child, piece.last_child, piece.own_line};
}

Piece piece_of(ListingSearch::Part&& part) {
  return {part.root, std::move(part.path), part.first_child, part.last_child, part.own_line};
}

std::uint64_t list_on_one_thread(const AdjacencyList& graph, SizeBounds bounds, PatternOutput& output) {
  ListingSearch search(graph, bounds);
  ListingSearch::BlockSink sink;
  if (output.enabled())
    sink = [&output](std::span<const char> block) { output.write_block(block.data(), block.size()); };
  return search.list_all(sink);
}

}  // namespace

std::uint64_t listing_bytes_needed(std::int64_t node_slots, std::int64_t adjacency_entries,
                                   unsigned threads) {
  const std::uint64_t search = ListingSearch::bytes_needed(node_slots, adjacency_entries);
  if (threads <= 1) return search;
  return threads * (search + JobBoard::bytes_held_at_most(kLimits));
}

std::uint64_t list_patterns(const AdjacencyList& graph, SizeBounds bounds, unsigned threads,
                            PatternOutput& output) {
  if (threads <= 1) return list_on_one_thread(graph, bounds, output);

  std::int32_t next_root = 1;
  const std::int64_t roots = graph.node_slots();
  JobBoard::WriteBlock write_block;
  if (output.enabled())
    write_block = [&output](const char* data, std::size_t size) { output.write_block(data, size); };
  JobBoard board(
      threads,
      [&](Piece& piece) {
        if (next_root >= roots) return false;
        piece = Piece{next_root++, {}, 0, UINT32_MAX, true};
        return true;
      },
      write_block, kLimits);
  std::atomic<std::uint64_t> lines{0};
  board.run([&](JobBoard::Worker& worker) {
    ListingSearch search(graph, bounds);
    ListingSearch::BlockSink sink;
    if (output.enabled())
      sink = [&worker](std::span<const char> block) { worker.write(block.data(), block.size()); };
    const ListingSearch::Splitting splitting{&worker.hungry(), [&worker](ListingSearch::Part&& part) {
                                               return worker.offer(piece_of(std::move(part)));
                                             }};
    std::uint64_t own = 0;
    while (const Piece* piece = worker.take()) own += search.list_part(part_of(*piece), sink, splitting);
    lines += own;
  });
  return lines;
}
