#include "metrics/Extension.h"

#include "metrics/Operations.h"

namespace quilta {

Extension::Extension(HostApplication& app, WindowSystem& ws, std::filesystem::path programFolder)
    : workbench(app, ws, std::move(programFolder)), results(workbench), command(workbench) {
  command.OnCreate(app);
  auto& ops = workbench.main.operations;
  using namespace mod_Quilta_Kartova;
  ops["cmdArea"] = [this] { RunAreaPerimeter(*this); };
  ops["cmdAreaForm"] = [this] { RunAreaAnalysis(*this); };
  ops["cmdEdges"] = [this] { RunEdgeAnalysis(*this); };
  ops["cdmshpIx"] = [this] { RunFormAnalysis(*this); };
  ops["cmdCore"] = [this] { RunCoreAreaAnalysis(*this); };
  ops["cmdDiversity"] = [this] { RunDiversityAnalysis(*this); };
  ops["cmdDivision"] = [this] { RunSubdivisionAnalysis(*this); };
  ops["cmdClasses"] = [this] { RunNearestNeighbourAnalysis(*this); };
  ops["cmdPX"] = [this] { RunProximityPX92(*this); };
  ops["cmdPX94"] = [this] { RunProximityPX94(*this); };
  ops["cmdPXfrag"] = [this] { RunProximityFragstats(*this); };
  ops["cmdDissolveID"] = [this] { Dissolve_ID::RunDissolveID(*this); };
}

}  // namespace quilta
