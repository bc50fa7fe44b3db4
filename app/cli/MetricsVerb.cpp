#include "MetricsVerb.h"

#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>

#include "catalogue/Survey.h"
#include "host/HostError.h"
#include "host/PolygonLayer.h"

namespace quilta::cli {
namespace {

std::shared_ptr<PolygonLayer> openLayer(const std::string& text, const std::string& layerName) {
  return PolygonLayer::open(LayerSource::parse(text, layerName), PolygonLayer::Mode::ReadOnly);
}

const char* unitsWord(int code) {
  return code == kDecimalDegrees ? "is in degrees" : "has no coordinate system with a linear unit";
}

}  // namespace

int runMetrics(int argc, char** argv) {
  CLI::App app{"The landscape metric catalogue of a polygon layer as a long table: one row per region, radius, level, "
               "class, patch and metric.",
               "quilta metrics"};
  app.footer(
      "Columns: layer, region, radius, level, class, id, metric, value (value empty when undefined).\n"
      "Levels: patch, class, landscape. Lengths in metres, areas in hectares where the name says ha.\n"
      "The layer is only read. The definitions are in the help document (Quilta_Help.html, metric catalogue).");
  std::string layerText, classField;
  std::optional<std::string> layerName, regions, regionField, points, pointField, output, mapUnits;
  std::vector<std::string> levels, metrics;
  std::vector<double> radii;
  std::optional<double> edgeDepth, searchRadius;
  bool countBoundary = false;
  std::string format = "csv";
  app.add_option("layer", layerText, "Layer to analyse: a shapefile (.shp), a GeoPackage (.gpkg) or a PostGIS "
                                     "database (\"PG:...\")")
      ->required();
  app.add_option("--layer", layerName, "Layer of the GeoPackage, or table of the database (schema.table)");
  app.add_option("--class-field", classField, "Class field")->required();
  app.add_option("--level", levels, "Levels to compute: patch, class, landscape (default: class,landscape)")
      ->delimiter(',')
      ->check(CLI::IsMember({"patch", "class", "landscape"}));
  app.add_option("--metrics", metrics, "Metrics by name (default: every metric of the chosen levels)")->delimiter(',');
  app.add_option("--edge-depth", edgeDepth, "Core metrics at this edge depth (metres)");
  app.add_option("--search-radius", searchRadius, "Proximity metrics within this edge-to-edge distance (metres)");
  app.add_flag("--count-boundary", countBoundary, "The landscape's outer boundary counts as edge in te and ed");
  auto* regionsOpt = app.add_option("--regions", regions, "One landscape per polygon of this layer");
  auto* regionFieldOpt = app.add_option("--region-field", regionField, "The field naming the regions");
  auto* pointsOpt = app.add_option("--points", points, "One landscape per point of this layer and radius");
  auto* pointFieldOpt = app.add_option("--point-field", pointField, "The field naming the points");
  auto* radiusOpt = app.add_option("--radius", radii, "Radii around the points (metres), e.g. 250,500,1000")
                        ->delimiter(',');
  regionsOpt->needs(regionFieldOpt)->excludes(pointsOpt);
  regionFieldOpt->needs(regionsOpt);
  pointsOpt->needs(pointFieldOpt)->needs(radiusOpt);
  pointFieldOpt->needs(pointsOpt);
  radiusOpt->needs(pointsOpt);
  app.add_option("--format", format, "Table format: csv, tsv or json (default csv)")
      ->check(CLI::IsMember({"csv", "tsv", "json"}));
  app.add_option("--output", output, "Write the table to this file (default: standard output)");
  app.add_option("--map-units", mapUnits,
                 "Units of the coordinates when the layer has no coordinate system in a linear unit: meters, feet, ...");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }

  catalogue::Settings settings;
  if (!levels.empty()) {
    settings.levels.clear();
    const std::map<std::string, catalogue::Level> byName{
        {"patch", catalogue::Level::Patch}, {"class", catalogue::Level::Class}, {"landscape", catalogue::Level::Landscape}};
    for (const auto& l : levels) settings.levels.insert(byName.at(l));
  }
  settings.metrics.insert(metrics.begin(), metrics.end());
  settings.edgeDepth = edgeDepth;
  settings.searchRadius = searchRadius;
  settings.countBoundary = countBoundary;
  std::optional<double> forcedUnits;
  if (mapUnits) {
    const int code = unitsCodeFromName(*mapUnits);
    if (code < 0) {
      std::cerr << "quilta: unknown map units \"" << *mapUnits
                << "\" (use meters, feet, yards, miles, inches, millimeters, centimeters or kilometers)\n";
      return 2;
    }
    forcedUnits = catalogue::metresPerUnit(code);
    if (!forcedUnits) {
      std::cerr << "quilta: metrics need coordinates in a linear unit (meters, feet, ...), not \"" << *mapUnits << "\"\n";
      return 2;
    }
  }
  if (auto why = catalogue::checkSettings(settings)) {
    std::cerr << "quilta: " << *why << "\n";
    return 2;
  }

  catalogue::Survey survey;
  std::shared_ptr<PolygonLayer> layer, regionLayer, pointLayer;
  try {
    layer = openLayer(layerText, layerName.value_or(""));
    if (regions) regionLayer = openLayer(*regions, "");
    if (points) pointLayer = openLayer(*points, "");
  } catch (const HostError& e) {
    std::cerr << "quilta: cannot open the layer\ncause: " << e.what() << "\n";
    return 1;
  }
  if (auto metres = catalogue::metresPerUnit(layer->unitsCode())) {
    settings.metresPerUnit = *metres;
  } else if (forcedUnits) {
    settings.metresPerUnit = *forcedUnits;
  } else {
    std::cerr << "quilta: the layer \"" << layer->name() << "\" " << unitsWord(layer->unitsCode())
              << ": areas in hectares and lengths in metres cannot be measured on it. Project it to a coordinate "
                 "system in metres (or another linear unit), or give --map-units when its coordinates are in one.\n";
    return 1;
  }
  for (const auto* other : {regionLayer.get(), pointLayer.get()}) {
    if (other && other->unitsCode() != layer->unitsCode()) {
      std::cerr << "quilta: \"" << other->name() << "\" is not in the coordinate units of \"" << layer->name()
                << "\"; give both layers in one coordinate system\n";
      return 1;
    }
  }
  survey.layer = layer.get();
  survey.classField = classField;
  survey.regions = regionLayer.get();
  survey.regionField = regionField.value_or("");
  survey.points = pointLayer.get();
  survey.pointField = pointField.value_or("");
  survey.radii = radii;

  std::vector<catalogue::TableRow> rows;
  try {
    rows = catalogue::survey(survey, settings);
  } catch (const catalogue::InputError& e) {
    std::cerr << "quilta: " << e.what() << "\n";
    return 1;
  } catch (const HostError& e) {
    std::cerr << "quilta: the metrics could not be computed\ncause: " << e.what() << "\n";
    return 1;
  }

  const catalogue::Format fmt =
      format == "json" ? catalogue::Format::Json : format == "tsv" ? catalogue::Format::Tsv : catalogue::Format::Csv;
  if (output) {
    std::ofstream file(*output, std::ios::binary | std::ios::trunc);
    if (file) catalogue::writeTable(file, fmt, layer->name(), rows);
    file.close();
    if (!file) {
      std::cerr << "quilta: cannot write the table to \"" << *output << "\"\n";
      return 1;
    }
  } else {
    catalogue::writeTable(std::cout, fmt, layer->name(), rows);
    std::cout.flush();
    if (!std::cout) return 1;
  }
  return 0;
}

}  // namespace quilta::cli
