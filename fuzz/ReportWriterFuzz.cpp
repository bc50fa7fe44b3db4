// The report writer on arbitrary window contents: a list of columns and rows
// of any text (malformed UTF-8 included) is turned into a class report and
// saved through the file dialog. The saved file holds exactly the report's
// bytes, one CR LF line per row after the header, cells separated by TAB, and
// nothing is left beside it; Windows-1252 text read in and written out keeps
// every byte.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "host/Cp1252.h"
#include "host/HostApplication.h"
#include "results/ReportWriter.h"
#include "ui/ScriptedWindowSystem.h"
#include "ui/Workbench.h"

namespace {

using namespace quilta;

std::string readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A cell as the windows hold them: no line breaks and no TAB (the list views
// show one line per row).
std::string cellText(FuzzedDataProvider& in) {
  std::string s = in.ConsumeRandomLengthString(24);
  for (char& c : s)
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  ListView list;
  const int columns = in.ConsumeIntegralInRange(0, 6);
  for (int c = 0; c < columns; ++c) list.columns.push_back(cellText(in));
  const int rows = in.ConsumeIntegralInRange(0, 8);
  for (int r = 0; r < rows; ++r) {
    const std::size_t row = list.addRow(cellText(in));
    const int cells = in.ConsumeIntegralInRange(0, 7);
    for (int c = 1; c < cells; ++c) list.setSubItem(row, static_cast<std::size_t>(c), cellText(in));
  }
  const std::string rest = in.ConsumeRemainingBytesAsString();
  QUILTA_FUZZ_CHECK(utf8ToCp1252(cp1252ToUtf8(rest)) == rest);

  const std::vector<std::string> lines = ReportWriter::classReportLines(list);
  QUILTA_FUZZ_CHECK(lines.size() == list.rows.size() + 1);
  const std::size_t tabs = std::max<std::size_t>(list.columns.size(), 1) - 1;
  for (std::size_t i = 1; i < lines.size(); ++i)
    QUILTA_FUZZ_CHECK(static_cast<std::size_t>(std::count(lines[i].begin(), lines[i].end(), '\t')) == tabs);
  const std::string bytes = ReportWriter::reportBytes(lines);
  std::size_t breaks = 0;
  for (std::size_t at = bytes.find("\r\n"); at != std::string::npos; at = bytes.find("\r\n", at + 2)) ++breaks;
  QUILTA_FUZZ_CHECK(breaks == lines.size());
  QUILTA_FUZZ_CHECK(bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0);

  HostApplication host;
  ScriptedWindowSystem ws;
  Workbench wb(host, ws);
  const std::filesystem::path target = quilta::fuzz::scratchDir() / "report.txt";
  ws.fileAnswers.push_back(target.string());
  QUILTA_FUZZ_CHECK(ReportWriter::save(wb, "Class report", lines));
  QUILTA_FUZZ_CHECK(ws.messages.empty());
  QUILTA_FUZZ_CHECK(readBytes(target) == bytes);
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(quilta::fuzz::scratchDir())) ++files;
  QUILTA_FUZZ_CHECK(files == 1);
  return 0;
}
