#include "metrics/Extension.h"

#include "metrics/Operations.h"

namespace quilta {

Extension::Extension(HostApplication& app, WindowSystem& ws, std::filesystem::path programFolder)
    : workbench(app, ws, std::move(programFolder)), results(workbench), command(workbench) {
  command.OnCreate(app);
  auto& ops = workbench.main.operations;
  using namespace mod_Quilta_Kartova;
  ops["cmdArea"] = [this] { RunAreaPerimeter(*this); };
}

}  // namespace quilta
