// count_bench: one road of quarn's count-only CIS mode on one graph, for the count benchmark.
//
//   count_bench ROAD GRAPH_FILE [OPTIONS]     ROAD: auto, frontier, search, order or forecast
//
// Prints one line of key=value pairs: the count and the seconds the road took (reading the graph
// excluded), in wall time and in CPU time; for frontier, also the widest frontier, the most states after a
// step, the states processed and the most bytes the state tables held; order only chooses the orders of all
// components, which is what the automatic road spends before it counts; forecast works out what a
// listing would write (its lines, and the least and most bytes), as a listing into a file does before
// it starts, but without its time limit. OPTIONS are quarn's
// --min-size, --max-size and --by-size; with --by-size the count is the counts by size, as
// "K:COUNT" separated by commas.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <numeric>
#include <string>

#include "FrontierCount.h"
#include "Miner.h"
#include "Options.h"
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

// The counts by size as "K:COUNT,K:COUNT".
std::string sizes_text(const SizeCounts& counts) {
  std::string text;
  for (std::uint32_t k = 0; k <= counts.columns().last; ++k) {
    if (counts.of_size(k) == 0) continue;
    if (!text.empty()) text += ',';
    text += std::to_string(k) + ":" + counts.of_size(k).get_str();
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: count_bench auto|frontier|search|order|forecast GRAPH_FILE [OPTIONS]\n");
    return 2;
  }
  const std::string road = argv[1];
  try {
    if (road == "order") return choose_all_orders(argv[2]);
    const std::vector<std::string> option_args(argv + 3, argv + argc);
    const RunOptions options = parse_command_line(option_args, known_options()).options;
    Miner miner(argv[2], options);
    if (road == "forecast") {
      const auto start = std::chrono::steady_clock::now();
      const std::optional<Miner::Forecast> forecast = miner.forecast_listing(std::chrono::hours(1));
      if (!forecast) {
        std::printf("road=forecast lines=? seconds=%.4f\n", seconds_since(start));
      } else {
        std::printf("road=forecast lines=%llu least_bytes=%llu most_bytes=%llu seconds=%.4f\n",
                    static_cast<unsigned long long>(forecast->lines),
                    static_cast<unsigned long long>(forecast->least_bytes),
                    static_cast<unsigned long long>(forecast->most_bytes), seconds_since(start));
      }
      return 0;
    }
    FrontierStats stats;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpu_start = std::clock();
    std::string count;
    Miner::CountRoad chosen = Miner::CountRoad::automatic;
    if (road == "frontier") {
      chosen = Miner::CountRoad::frontier;
    } else if (road == "search") {
      chosen = Miner::CountRoad::search;
    } else if (road != "auto") {
      std::fprintf(stderr, "count_bench: unknown road \"%s\"\n", road.c_str());
      return 2;
    }
    FrontierStats* road_stats = road == "search" ? nullptr : &stats;
    count =
        options.by_size ? sizes_text(miner.count_sizes(chosen, road_stats)) : miner.count(chosen, road_stats);
    const double seconds = seconds_since(start);
    const double cpu_seconds = double(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    std::printf("road=%s count=%s seconds=%.4f cpu=%.4f", road.c_str(), count.c_str(), seconds, cpu_seconds);
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
