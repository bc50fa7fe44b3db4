// quilta: runs the tool's operations on a polygon layer (a shapefile, a
// GeoPackage layer or a PostGIS table) from the command line, as a scripted
// user clicking through the tool window.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <set>

#include "MetricsVerb.h"
#include "ScriptedUser.h"
#include "host/HostApplication.h"
#include "host/HostError.h"
#include "metrics/Extension.h"
#include "metrics/WrittenFields.h"

namespace {

using quilta::cli::Options;

std::filesystem::path programFolder(const char* argv0) {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) self = std::filesystem::absolute(argv0);
  return self.parent_path();
}

std::vector<std::string> fieldNames(quilta::FeatureTable& table) {
  std::vector<std::string> names;
  for (int i = 0; i < table.fieldCount(); ++i) names.push_back(table.field(i).name);
  return names;
}

const char* outcomeText(quilta::Outcome o) {
  switch (o) {
    case quilta::Outcome::Completed: return "completed";
    case quilta::Outcome::Refused: return "refused";
    case quilta::Outcome::Failed: return "failed";
    case quilta::Outcome::Cancelled: return "cancelled";
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  // The catalogue verb has options of its own.
  if (argc > 1 && std::string(argv[1]) == "metrics") return quilta::cli::runMetrics(argc - 1, argv + 1);
  Options opt;
  CLI::App app{"Landscape metrics for a polygon layer of land-cover patches.", "quilta"};
  app.footer(
      "Operations (run in the order given): area-perimeter, nearest-neighbour, px92, px94, proximity,\n"
      "dissolve-id, area, edge, form, core-area, diversity, subdivision, delete-fields.\n"
      "Layers: a shapefile (land.shp); a GeoPackage (land.gpkg, with --layer NAME when it holds several\n"
      "polygon layers); a PostGIS table (\"PG:dbname=... host=... user=...\" --layer schema.table).\n"
      "Exit status: 0 all operations completed, 1 an operation was refused, failed or cancelled,\n"
      "2 usage error.\n"
      "quilta metrics LAYER --class-field F [OPTIONS]: the metric catalogue as a long table, without the\n"
      "tool window (quilta metrics --help).\n"
      "--progress json: at most about ten lines a second on stderr while an operation works, one more\n"
      "when it completes, each one JSON object on one line:\n"
      "  {\"progress\":37.5,\"operation\":\"nearest-neighbour\",\"step\":2,\"steps\":5,\"item\":120,\"items\":480}\n"
      "progress: percent of the operation done; step of steps: the progress bar (the class being worked\n"
      "on, or features for operations over all features); item of items: patches done in that class\n"
      "(0 of 0 when not counted).");
  app.add_option("layer", opt.layer,
                 "Layer to analyse: a shapefile (.shp), a GeoPackage (.gpkg) or a PostGIS database (\"PG:...\")")
      ->required();
  app.add_option("--layer", opt.layerName, "Layer of the GeoPackage, or table of the database (schema.table)");
  std::set<std::string> known;
  for (const auto& [name, button] : quilta::cli::operationButtons()) known.insert(name);
  app.add_option("operations", opt.operations, "Operations to run")->required()->check(CLI::IsMember(known));
  auto* classField = app.add_option("--class-field", opt.classField, "Class field");
  app.add_flag("--no-class-field", opt.noClassField, "Analyse the layer as one class (\"noclass\")")
      ->excludes(classField);
  app.add_option("--classes", opt.classes,
                 "Classes to analyse, in this order (default: all); repeat the option for a class whose name has a "
                 "comma");
  app.add_option("--buffer", opt.buffer, "Proximity buffer in map units (default: the larger extent side)");
  app.add_option("--suffix", opt.suffix, "Proximity field name suffix, at most 5 characters (default: the buffer text)");
  app.add_option("--distance", opt.distance, "Core area distance in map units")->capture_default_str();
  app.add_option("--core-output", opt.coreOutput,
                 "Core area output: a shapefile (.shp), a GeoPackage (.gpkg) or a layer of one (FILE.gpkg:LAYER) "
                 "(default: core_area.shp, or a layer core_area in the analysed GeoPackage)");
  app.add_option("--potential", opt.potential, "Potential richness (default: number of selected classes)");
  app.add_option("--fields", opt.fields, "Fields to delete")->delimiter(',');
  app.add_option("--reports", opt.reportsDir, "Save the class and landscape reports of every result window here");
  app.add_option("--map-units", opt.mapUnits, "Units of a layer without coordinate system: meters, feet, degrees, ...");
  app.add_flag("--json", opt.json, "Print result windows as JSON");
  app.add_option("--threads", opt.threads,
                 "Threads that compute the patches (default: every core); the results are the same for any number")
      ->check(CLI::Range(1u, 1024u));
  app.add_option_function<std::string>(
         "--progress", [&](const std::string&) { opt.progressJson = true; },
         "Progress as JSON lines on stderr, terminal or not (below)")
      ->check(CLI::Validator(
          [](std::string& mode) { return mode == "json" ? std::string() : "the only progress mode is json"; }, ""))
      ->type_name("json");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }

  int units = -1;
  if (opt.mapUnits && (units = quilta::unitsCodeFromName(*opt.mapUnits)) < 0) {
    std::cerr << "quilta: unknown map units \"" << *opt.mapUnits
              << "\" (use meters, feet, yards, miles, inches, millimeters, centimeters, kilometers or degrees)\n";
    return 2;
  }
  if (opt.reportsDir && !std::filesystem::is_directory(*opt.reportsDir)) {
    std::cerr << "quilta: the reports folder \"" << *opt.reportsDir << "\" does not exist\n";
    return 2;
  }

  const quilta::LayerSource source = quilta::LayerSource::parse(opt.layer, opt.layerName.value_or(""));
  if (opt.layerName && source.kind == quilta::LayerSource::Kind::Shapefile) {
    std::cerr << "quilta: --layer chooses a layer of a GeoPackage or a table of a database; \"" << opt.layer
              << "\" is a shapefile\n";
    return 2;
  }
  if (!opt.layerName && source.kind != quilta::LayerSource::Kind::Shapefile) {
    // Which of several layers is the user's to say.
    try {
      const auto names = quilta::polygonLayerNames(source);
      if (names.size() > 1) {
        std::cerr << "quilta: \"" << source.display() << "\" holds several polygon layers; choose one with --layer:";
        for (const auto& n : names) std::cerr << " \"" << n << "\"";
        std::cerr << "\n";
        return 2;
      }
    } catch (const quilta::HostError& e) {
      std::cerr << "quilta: cannot open the layer\ncause: " << e.what() << "\n";
      return 1;
    }
  }

  // Ctrl-C is the Cancel button from the first instant: while the layer
  // opens it ends the run before any operation begins.
  std::signal(SIGINT, [](int) { quilta::cli::ScriptedUser::interrupt(); });
  quilta::HostApplication host;
  quilta::PolygonLayer* layer = nullptr;
  try {
    layer = &host.document().addLayer(source);
  } catch (const quilta::HostError& e) {
    std::cerr << "quilta: cannot open the layer\ncause: " << e.what() << "\n";
    return 1;
  }
  if (units >= 0 && host.document().focusMap().mapUnits() == quilta::kUnitsUndefined) {
    host.document().focusMap().setMapUnits(units);
    host.document().focusMap().setDistanceUnits(units);
  }

  quilta::ScriptedWindowSystem ws;
  quilta::Extension ext(host, ws, programFolder(argv[0]));
  quilta::cli::ScriptedUser user(ws, opt);
  user.attach(ext);
  if (quilta::cli::ScriptedUser::interruptPending()) {
    std::cerr << "interrupted: no operation was run\n";
    return 1;
  }

  for (const auto& op : opt.operations) {
    const std::string& button = quilta::cli::operationButtons().at(op);
    if (button != "cmdDelFlds" && !ext.workbench.main.operations.count(button)) {
      std::cerr << "quilta: the operation " << op << " is not available yet\n";
      return 2;
    }
  }
  // A class field that an operation of the run would write is refused before
  // the first operation writes anything.
  if (opt.classField) {
    std::string suffix = opt.suffix.value_or(opt.buffer.value_or(""));
    if (suffix.size() >= 6) suffix.clear();
    for (const auto& op : opt.operations) {
      const std::string& button = quilta::cli::operationButtons().at(op);
      for (const auto& name : quilta::fieldsWrittenBy(button, suffix)) {
        if (name.size() != opt.classField->size() ||
            !std::equal(name.begin(), name.end(), opt.classField->begin(), [](char a, char b) {
              return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
            }))
          continue;
        std::cerr << "Class field " << *opt.classField << ": "
                  << quilta::classFieldOverwrittenText(*opt.classField, quilta::operationCaption(ext.workbench, button))
                  << "\n";
        return 1;
      }
    }
  }

  int status = 0;
  ws.onShow("frmMain", [&](quilta::WindowModel&) {
    auto& table = layer->featureTable();
    for (const auto& op : opt.operations) {
      auto before = fieldNames(table);
      ext.workbench.session.lastOutcome = quilta::Outcome::Completed;
      user.beginOperation(op);
      ext.workbench.main.click(quilta::cli::operationButtons().at(op));
      if (user.usageError()) {
        std::cerr << "quilta: " << *user.usageError() << "\n";
        status = 2;
        break;
      }
      if (user.inputError()) {
        std::cerr << "quilta: " << *user.inputError() << "\n";
        status = 1;
        break;
      }
      auto outcome = ext.workbench.session.lastOutcome;
      user.endOperation(outcome == quilta::Outcome::Completed);
      std::string added;
      for (const auto& f : fieldNames(table))
        if (std::find(before.begin(), before.end(), f) == before.end()) added += (added.empty() ? "" : ", ") + f;
      std::cerr << op << ": " << outcomeText(outcome);
      if (!added.empty()) std::cerr << " (new fields: " << added << ")";
      if (user.reportFailed()) std::cerr << " (a report could not be saved)";
      std::cerr << "\n";
      if (outcome != quilta::Outcome::Completed || user.reportFailed()) {
        status = 1;
        break;
      }
    }
    ext.workbench.main.cmdClose_Click();
  });

  try {
    if (!ext.command.OnClick()) return 1;
  } catch (const quilta::HostError& e) {
    std::cerr << "quilta: " << e.what() << "\n";
    return 1;
  }
  return status;
}
