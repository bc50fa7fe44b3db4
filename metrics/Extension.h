#pragma once
// The loaded tool: the workbench (session, tool window, choosers), the result
// windows and the command, with every button of the tool window wired to its
// operation. Both programs and the tests build one of these.

#include <filesystem>

#include "results/ResultWindows.h"
#include "ui/Command.h"
#include "ui/Workbench.h"

namespace quilta {

class Extension {
 public:
  Extension(HostApplication& app, WindowSystem& ws, std::filesystem::path programFolder = {});
  Extension(const Extension&) = delete;
  Extension& operator=(const Extension&) = delete;

  Workbench workbench;
  ResultWindows results;
  cls_Quilta_Plug_In command;
};

}  // namespace quilta
