// quilta-genland: writes a synthetic landscape (a seeded mosaic of land-cover
// patches) as a polygon shapefile, for tests, demonstrations and benchmarks.
//
//   quilta-genland OUT.shp [--patches N] [--classes K] [--side S] [--seed X]
//                          [--clustering C] [--grid]

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "bench/LandscapeGenerator.h"

int main(int argc, char** argv) {
  quilta::bench::LandscapeParams params;
  std::string out;
  bool grid = false;

  CLI::App app{"Write a synthetic landscape: a seeded mosaic of land-cover patches as a polygon shapefile"};
  app.add_option("OUT.shp", out, "Shapefile to write (replaced if it exists)")->required();
  app.add_option("--patches", params.patches, "Number of patches (polygons)")->capture_default_str();
  app.add_option("--classes", params.classes, "Number of land-cover classes, values 1..K")->capture_default_str();
  app.add_option("--side", params.side, "Side of the square landscape, metres")->capture_default_str();
  app.add_option("--seed", params.seed, "Random seed; the same seed gives the same files")->capture_default_str();
  app.add_option("--clustering", params.clustering,
                 "0: classes at random; towards 1: patches of a class form larger clumps")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 1.0));
  app.add_flag("--grid", grid, "Equal rectangles on a grid instead of Voronoi cells");
  CLI11_PARSE(app, argc, argv);
  if (grid) params.kind = quilta::bench::LandscapeParams::Kind::Grid;

  try {
    const auto start = std::chrono::steady_clock::now();
    quilta::bench::writeLandscape(out, params);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::cout << "wrote " << out << ": " << params.patches << (grid ? " grid" : " Voronoi") << " patches, "
              << params.classes << " classes, " << params.side << " m square, seed " << params.seed << ", clustering "
              << params.clustering << " (" << elapsed.count() << " s)\n";
  } catch (const std::exception& e) {
    std::cerr << "quilta-genland: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
