#include "graph_families.h"

#include <algorithm>

std::string edge_text(const EdgeVector& edges) {
  std::string text;
  for (const auto& [u, v] : edges) text += std::to_string(u) + " " + std::to_string(v) + "\n";
  return text;
}

std::string path(int n, int first) {
  std::string text;
  for (int i = first; i < first + n - 1; ++i) text += std::to_string(i) + " " + std::to_string(i + 1) + "\n";
  return text;
}

std::string grid(int rows, int columns) {
  std::string text;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      const int u = r * columns + c + 1;
      if (c + 1 < columns) text += std::to_string(u) + " " + std::to_string(u + 1) + "\n";
      if (r + 1 < rows) text += std::to_string(u) + " " + std::to_string(u + columns) + "\n";
    }
  }
  return text;
}

std::string complete(int n) {
  std::string text;
  for (int i = 1; i <= n; ++i) {
    for (int j = i + 1; j <= n; ++j) text += std::to_string(i) + " " + std::to_string(j) + "\n";
  }
  return text;
}

std::string complete_bipartite(int m, int n) {
  std::string text;
  for (int i = 1; i <= m; ++i) {
    for (int j = m + 1; j <= m + n; ++j) text += std::to_string(i) + " " + std::to_string(j) + "\n";
  }
  return text;
}

std::string star(int leaves) {
  return complete_bipartite(1, leaves);
}

std::string random_tree(int n) {
  std::mt19937 random(2024);
  std::string text;
  for (int v = 2; v <= n; ++v) {
    text +=
        std::to_string(std::uniform_int_distribution<int>(1, v - 1)(random)) + " " + std::to_string(v) + "\n";
  }
  return text;
}

EdgeVector random_simple_graph(std::mt19937& random, int max_nodes, double max_density) {
  const int n = std::uniform_int_distribution<int>(1, max_nodes)(random);
  const double density = std::uniform_real_distribution<double>(0.0, max_density)(random);
  const bool with_zero = random() % 4 == 0;
  EdgeVector edges;
  for (int u = with_zero ? 0 : 1; u <= n; ++u) {
    for (int v = u + 1; v <= n; ++v) {
      if (std::uniform_real_distribution<double>(0.0, 1.0)(random) < density) edges.emplace_back(u, v);
    }
  }
  if (edges.empty() || std::none_of(edges.begin(), edges.end(), [n](auto e) { return e.second == n; })) {
    edges.emplace_back(std::uniform_int_distribution<int>(0, n - 1)(random), n);
    if (edges.back().first == edges.back().second) edges.back().first = 0;
  }
  std::shuffle(edges.begin(), edges.end(), random);
  for (auto& edge : edges) {
    if (random() % 2 != 0) std::swap(edge.first, edge.second);
  }
  return edges;
}
