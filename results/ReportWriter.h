#pragma once
// Saves what a result window shows as a text report: plain Windows-1252 text,
// every line ended by CR LF, fields separated by one TAB, values exactly as the
// window displays them. A report file is created new or replaced whole.

#include <string>
#include <vector>

#include "ui/Controls.h"

namespace quilta {

class Workbench;

class ReportWriter {
 public:
  // The class report: the column headers, then one line per row.
  static std::vector<std::string> classReportLines(const ListView& list);
  // The bytes of a report made of `lines`.
  static std::string reportBytes(const std::vector<std::string>& lines);

  // Asks for a file (offering `defaultName`) and writes `lines` into it. A
  // cancelled dialog writes nothing; any failure shows "Unexpected Error"
  // with the cause. True when a file was written.
  static bool save(Workbench& wb, const std::string& defaultName, const std::vector<std::string>& lines);
};

}  // namespace quilta
