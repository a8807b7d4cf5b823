// count_bench: one road of quarn's count-only CIS mode on one graph, for the count benchmark.
//
//   count_bench ROAD GRAPH_FILE     ROAD: auto, frontier, search or order
//
// Prints one line of key=value pairs: the count and the seconds the road took (reading the graph
// excluded); for frontier, also the widest frontier, the most states after a step, the states
// processed and the most bytes the state tables held; order only chooses the orders of all
// components, which is what the automatic road spends before it counts.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>

#include "FrontierCount.h"
#include "Miner.h"
#include "helpers.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Chooses an order for every component of more than one node, as the automatic road does.
int choose_all_orders(const char* path) {
  const EdgeList edges = read_edges(path);
  const AdjacencyList graph = build_graph(edges, edges.max_node);
  const auto start = std::chrono::steady_clock::now();
  FrontierCounter counter(graph);
  std::vector<std::uint8_t> placed(std::size_t(graph.node_slots()), 0);
  std::int32_t widest = 0;
  std::vector<std::int32_t> component;
  for (std::int32_t first = 1; first <= edges.max_node; ++first) {
    if (placed[std::size_t(first)] != 0) continue;
    gather_component(graph, first, placed, component);
    std::sort(component.begin(), component.end());
    if (component.size() > 1) widest = std::max(widest, counter.choose_order(component).width);
  }
  std::printf("road=order widest=%d seconds=%.4f\n", widest, seconds_since(start));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: count_bench auto|frontier|search|order GRAPH_FILE\n");
    return 2;
  }
  const std::string road = argv[1];
  try {
    if (road == "order") return choose_all_orders(argv[2]);
    Miner miner(argv[2], RunOptions{});
    FrontierStats stats;
    const auto start = std::chrono::steady_clock::now();
    std::string count;
    if (road == "auto") {
      count = miner.count(Miner::CountRoad::automatic, &stats);
    } else if (road == "frontier") {
      count = miner.count(Miner::CountRoad::frontier, &stats);
    } else if (road == "search") {
      count = miner.count(Miner::CountRoad::search);
    } else {
      std::fprintf(stderr, "count_bench: unknown road \"%s\"\n", road.c_str());
      return 2;
    }
    const double seconds = seconds_since(start);
    std::printf("road=%s count=%s seconds=%.4f", road.c_str(), count.c_str(), seconds);
    if (road != "search") {
      std::printf(" widest=%d states=%llu transitions=%llu table_bytes=%llu", stats.widest,
                  static_cast<unsigned long long>(stats.peak_states),
                  static_cast<unsigned long long>(stats.transitions),
                  static_cast<unsigned long long>(stats.peak_bytes));
    }
    std::printf("\n");
  } catch (const QuarnError& error) {
    std::fprintf(stderr, "count_bench: %s\n", error.what());
    return 1;
  }
  return 0;
}
