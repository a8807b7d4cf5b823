// How an edge list numbers its nodes, and the notes that tell the user when the numbering looks
// unintended. Many public edge lists number nodes from 0; quarn numbers them from 1 and ignores node
// 0, so such a file silently loses every edge of its node 0. Numbers far above the nodes in use make
// as silent a change: every number that no line names is an isolated node, a pattern of its own.
// The notes change neither the output nor the exit status.
#pragma once

#include <cstdint>
#include <string>

#include "Graph.h"
#include "Options.h"

struct NodeNumbering {
  std::int64_t lines_naming_zero = 0;  // edge lines with node 0 at either end
  std::int32_t max_node = 0;           // the largest number named, 0 without edges
  std::int64_t unused_nodes = 0;       // nodes 1 to max_node that no line names; counted on request
};

// Surveys the edges; counting the unused nodes takes a pass with one bit per node.
NodeNumbering survey_node_numbering(const EdgeList& edges, bool count_unused);

// Writes a note (unless options ask for quiet) when any edge line names node 0, and when more than
// half of the nodes 1 to max_node appear on no line. name stands for the edge list.
void note_node_numbering(const RunOptions& options, const std::string& name, const NodeNumbering& numbering);
