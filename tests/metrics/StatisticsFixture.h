#pragma once
// Set-up of the class- and landscape-level statistics tests: a layer
// "patches" of small rectangles with a class field "cover" and given "Area"
// and "Perimeter" values, a user who picks "cover" and some classes, and
// readers for the result windows and their reports.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "results/ResultWindows.h"
#include "session/NumberText.h"
#include "tests/support/ToolFixture.h"

namespace quilta::test {

// One patch: its class, its attribute values (NULL: left empty) and its shape.
struct Patch {
  std::string cover;
  Value area;
  Value perimeter;
  std::string wkt;  // empty: a unit square of its own, away from the others
};

using Rows = std::vector<std::vector<std::string>>;

class StatisticsTest : public ToolTest {
 protected:
  void TearDown() override { text::setDecimalSeparator(0); }

  // Writes the layer "patches" with the fields "cover", then "Area" and
  // "Perimeter" where asked for, and opens it.
  void openPatches(const std::vector<Patch>& patches, bool withArea = true, bool withPerimeter = true) {
    std::vector<FieldDef> fields = {{"cover", 'S', 20}};
    if (withArea) fields.push_back({"Area", 'R', 24, 15});
    if (withPerimeter) fields.push_back({"Perimeter", 'R', 24, 15});
    std::vector<Row> rows;
    for (std::size_t i = 0; i < patches.size(); ++i) {
      const Patch& p = patches[i];
      const double x = 10.0 * static_cast<double>(i);
      Row row{p.wkt.empty() ? rect(x, 0, x + 1, 1) : p.wkt, {p.cover}};
      if (withArea) row.values.push_back(p.area);
      if (withPerimeter) row.values.push_back(p.perimeter);
      rows.push_back(row);
    }
    writeShapefile(dir / "patches.shp", fields, rows);
    open(dir / "patches.shp");
  }

  bool shown(const std::string& window) const {
    return std::find(ws.windowsShown.begin(), ws.windowsShown.end(), window) != ws.windowsShown.end();
  }

  // The last message box, or none.
  std::optional<MessageBox> lastMessage() const {
    if (ws.messages.empty()) return std::nullopt;
    return ws.messages.back();
  }

  // Saves a report through `click` into `name` in the temporary folder and
  // returns the bytes written.
  template <class Click>
  std::string saveReport(Click click, const std::string& name) {
    ws.fileAnswers.push_back((dir / name).string());
    click();
    return readBytes(dir / name);
  }

  static std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static std::string golden(const std::string& name) { return readBytes(sourceDir() / "tests/data/golden" / name); }
};

}  // namespace quilta::test
