// A whole CIS listing: every root's patterns within the size bounds, on one thread or several, the
// lines always in the order one thread writes them.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "Graph.h"
#include "JobBoard.h"
#include "ListingSearch.h"
#include "Options.h"
#include "Output.h"
#include "Progress.h"

// What a listing wrote: its lines, and by the number of nodes of their patterns.
struct Listing {
  std::uint64_t lines = 0;
  std::vector<std::uint64_t> by_size;
};

// Lists the patterns into output (or only counts them, when output writes nothing). With several
// threads, every thread lists pieces of the search with a ListingSearch of its own; see JobBoard.h
// for how the work is split and the lines are kept in order. With a part, only that part's pieces
// (see PartPlan.h) when options name one, which are then the first pieces of the threads. With
// progress, the lines and bytes are added to it a block at a time, and the roots as they are started.
// limits, for tests: of the lines waiting to be written on threads, instead of the listing's own.
Listing list_patterns(const AdjacencyList& graph, SizeBounds bounds, unsigned threads, PatternOutput& output,
                      const RunOptions* options = nullptr, Progress* progress = nullptr,
                      const JobLimits* limits = nullptr);

// The memory a listing on threads takes beyond the graph: a search per thread and the lines waiting
// to be written.
std::uint64_t listing_bytes_needed(std::int64_t node_slots, std::int64_t adjacency_entries, unsigned threads);
