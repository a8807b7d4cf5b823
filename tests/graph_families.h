// Edge-list texts of graph families with known counts, and random graphs, for the CIS tests.
#pragma once

#include <random>
#include <string>
#include <utility>
#include <vector>

using EdgeVector = std::vector<std::pair<int, int>>;

// "u v\n" per edge, in order.
std::string edge_text(const EdgeVector& edges);

std::string path(int n, int first = 1);  // nodes first .. first + n - 1
std::string grid(int rows, int columns);
std::string complete(int n);
std::string complete_bipartite(int m, int n);
std::string star(int leaves);
std::string random_tree(int n);  // seeded: always the same tree for the same n

// A random simple graph on up to max_nodes nodes, with isolated nodes, sometimes node 0, edge lines
// in random order and orientation. The largest node always has an edge, so it is the graph's N.
EdgeVector random_simple_graph(std::mt19937& random, int max_nodes, double max_density = 1.0);
