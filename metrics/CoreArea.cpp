// Core area analysis. The core of a patch is what remains of it after moving
// its boundary inward by the core area distance (an edge-effect zone of that
// width removed all round); a negative distance widens the patch instead. The
// cores go into a new polygon shapefile, one record per patch, or one per
// piece when a core falls apart, and are summarised per class and over the
// landscape.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/FeatureTable.h"
#include "host/HostError.h"
#include "host/Offset.h"
#include "host/OutputWorkspace.h"
#include "metrics/Analysis.h"
#include "metrics/Extension.h"
#include "metrics/Operations.h"
#include "session/NumberText.h"
#include "ui/ClassSelection.h"
#include "ui/Operation.h"

namespace quilta::mod_Quilta_Kartova {
namespace {

// The layer of the map that the new layer would replace, or null.
PolygonLayer* layerInTheWay(FocusMap& map, const OutputWorkspace& workspace, const std::string& name) {
  for (int i = 0; i < map.layerCount(); ++i)
    if (workspace.isLayerOf(name, *map.layer(i))) return map.layer(i).get();
  return nullptr;
}

// The new core layer while it is written. However the run ends, the records
// written so far are completed on disk and the layer joins the map.
class CoreLayer {
 public:
  CoreLayer(OutputWorkspace& workspace, std::string name, MapDocument& document)
      : workspace_(workspace),
        name_(std::move(name)),
        document_(document),
        writer_(workspace.createPolygonLayer(
            name_, {FieldInfo{"Orig_ID", kLong, 8, 0}, FieldInfo{"Core_Area", kDouble, 15, 3}})) {}
  CoreLayer(const CoreLayer&) = delete;
  CoreLayer& operator=(const CoreLayer&) = delete;

  ~CoreLayer() {
    if (added_) return;
    // The run is ending early by a cancel or an error that the user is being
    // told about; a second failure here would only hide the first one, so the
    // layer is added when it can be and left out otherwise.
    try {
      addToMap();
    } catch (const std::exception&) {
      added_ = true;
    }
  }

  // One record: the patch's identifier and the area of the shape stored.
  void write(const Polygon& shape, double area, std::int64_t patchId) { writer_->append(shape, {patchId, area}); }

  // Completes the layer and adds it on top of the map.
  void addToMap() {
    added_ = true;
    writer_->close();
    document_.focusMap().addLayer(workspace_.openLayer(name_));
  }

 private:
  OutputWorkspace& workspace_;
  std::string name_;
  MapDocument& document_;
  std::unique_ptr<PolygonLayerWriter> writer_;
  bool added_ = false;
};

}  // namespace

void RunCoreAreaAnalysis(Extension& ext) {
  Workbench& wb = ext.workbench;
  runOperation(wb, kShapefileError, [&] {
    MapDocument& document = wb.app.document();
    PolygonLayer& layer = wb.selectedLayer();
    FeatureTable& table = layer.featureTable();
    readShapesFirst(table);
    if (!hasAreaFields(wb, table, true)) return;

    if (!RunClassSelection(wb)) return markCancelled(wb);

    auto typed = wb.ws.inputBox(InputBox{"Enter Core Area Distance (in Map Units)!", "Core Area Distance", "10"});
    if (!typed || typed->empty()) return markCancelled(wb);
    const std::optional<double> parsed = text::parse(*typed);
    if (!parsed) throw HostError("the core area distance \"" + *typed + "\" is not a number");
    const double distance = *parsed;

    // The dialog proposes a layer in the analysed GeoPackage, else a shapefile.
    const bool inGeoPackage = layer.source().kind == LayerSource::Kind::GeoPackage;
    auto chosen = wb.ws.fileDialog(
        inGeoPackage ? FileDialog{true, 0, "GeoPackage | *.gpkg|Shapefile | *.shp", ".gpkg",
                                  layer.source().location + ":core_area"}
                     : FileDialog{true, 2, "Shapefile | *.shp", ".shp", "core_area"});
    if (!chosen) return markCancelled(wb);
    const OutputWorkspace::Target output = OutputWorkspace::forOutput(*chosen, "core_area");
    wb.ws.repaint(wb.main);

    // Replacing a layer of the map would pull its data from under it (and, for
    // the analysed layer, destroy the data being analysed).
    if (PolygonLayer* inTheWay = layerInTheWay(document.focusMap(), *output.workspace, output.name)) {
      const std::string which = inTheWay == &layer ? "the analysed layer" : "the layer";
      return refuse(wb,
                    std::string("The core area ") + output.workspace->layerWord() + " \"" + *chosen +
                        "\" would replace " + which + " \"" + inTheWay->name() +
                        "\" of the map.\r\nPlease choose another name or folder.",
                    "Core Area Shapefile");
    }
    // What the operation has stored so far is committed first: a new layer
    // in the analysed GeoPackage is written through another connection.
    document.syncLayers();
    CoreLayer cores(*output.workspace, output.name, document);

    frmCoreArea& window = ext.results.coreArea;
    window.beginRun();
    std::int64_t patches = 0, withoutCore = 0, disjunct = 0;  // P, N0, D
    double totalArea = 0, totalCoreArea = 0;                  // TA, TCA

    for (const std::string& value : wb.session.classes()) {
      if (wb.step()) return markCancelled(wb);
      std::int64_t coreRecords = 0;             // NCA
      double classArea = 0, classCoreArea = 0;  // CA, TCCA
      SelectionSet set = selectClass(wb, table, value);
      const std::vector<std::int64_t>& oids = set.oids();
      const std::vector<Polygon>& shapes = table.shapes();
      struct Core {
        double area = 0;  // of the patch
        Offset offset;
        int rings = 0;  // of the offset's shape
      };
      const bool stored = computeInOrder(
          wb, oids.size(),
          [&](std::size_t i) {
            const Polygon& patch = shapes.at(static_cast<std::size_t>(oids[i]));
            Core core;
            core.area = patch.area();
            // The exact offset: its area counts the true arcs, and the shape
            // of each piece is drawn so that its own area is that area.
            core.offset = inwardOffset(patch, distance);
            if (!core.offset.pieces.empty()) core.rings = core.offset.shape.ringCount();
            return core;
          },
          [&](std::size_t i, Core&& patchCore) {
            const std::int64_t oid = oids[i];
            const double area = patchCore.area;
            totalArea += area;
            classArea += area;
            const Offset& core = patchCore.offset;
            const double coreArea = core.area;
            totalCoreArea += coreArea;
            classCoreArea += coreArea;
            ++patches;
            if (core.pieces.empty()) {
              // The patch keeps its record, without core.
              cores.write(core.shape, 0.0, oid);
              ++withoutCore;
              ++coreRecords;
            } else if (patchCore.rings == 1) {
              cores.write(core.shape, coreArea, oid);
              ++coreRecords;
            } else {
              // Several pieces, or a piece with a hole: one record per outer
              // boundary, each piece with the holes inside it, so the pieces
              // add up to the whole core.
              ++disjunct;
              for (const OffsetPiece& piece : core.pieces) {
                cores.write(piece.shape, piece.area, oid);
                ++coreRecords;
              }
            }
          },
          16);
      if (!stored) return markCancelled(wb);
      if (classArea == 0)
        throw HostError("the patches of the class \"" + value + "\" have no area, so it has no core area index");
      auto row = window.lstViewClass.addRow(value);
      window.lstViewClass.setSubItem(row, 1, text::count(coreRecords));
      window.lstViewClass.setSubItem(row, 2, text::fixed(classArea));
      window.lstViewClass.setSubItem(row, 3, text::fixed(classCoreArea));
      window.lstViewClass.setSubItem(row, 4, text::fixed(classCoreArea / classArea * 100));
    }
    wb.finish();

    cores.addToMap();
    // The new layer went on top of the contents; the analysed layer is the
    // selected one again.
    document.selectItem(&layer);

    const std::int64_t records = output.workspace->recordCount(output.name);  // F
    if (records == 0) throw HostError("the core area shapefile has no records, so Cority is undefined");
    if (totalArea == 0) throw HostError("the selected patches have no area, so there is no core area index");
    // Cority is shown as the quotient rounded to three decimals.
    const double quotient = static_cast<double>(patches - withoutCore) / static_cast<double>(records);
    const std::optional<double> cority = text::parse(text::pattern000(quotient));
    if (!cority) throw HostError("cannot round the Cority " + text::general(quotient));

    window.txtINFO.text = "Disjunct core areas: " + text::count(disjunct) + " patch(es)" + " of " +
                          text::count(patches) + "\r\n" + "No core area: " + text::count(withoutCore) + " patch(es)";
    window.txtLayername.text = wb.session.layerName;
    window.txtCority.text = text::general(*cority);
    window.txtCADistance.text = text::general(distance);
    window.txtCoreArea.text = text::fixed(totalCoreArea);
    window.txtTotalArea.text = text::fixed(totalArea);
    window.txtPercentage.text = text::fixed(totalCoreArea / totalArea * 100);
    wb.ws.showModal(window);
  });
}

}  // namespace quilta::mod_Quilta_Kartova
