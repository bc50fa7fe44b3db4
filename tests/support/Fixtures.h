#pragma once
// Helpers shared by the test suites: temporary folders, tiny shapefiles made
// from well-known text, and the bundled sample landscape.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "host/Value.h"

namespace quilta::test {

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

struct FieldDef {
  std::string name;
  char type;  // 'I' integer, 'R' real, 'S' text
  int width = 0;
  int precision = 0;
};

struct Row {
  std::string wkt;  // empty: a feature without shape
  std::vector<Value> values;
};

// Writes a shapefile with the given fields and rows. `epsg` 0 writes no .prj;
// the default is a metric projection. `geometry` names the layer's shape type:
// "polygon", "point" or "line".
void writeShapefile(const std::filesystem::path& shp, const std::vector<FieldDef>& fields,
                    const std::vector<Row>& rows, int epsg = 32725, const std::string& geometry = "polygon");

// Copies the bundled sample landscape into `dir` and returns its .shp path.
std::filesystem::path copySample(const std::filesystem::path& dir);

// The source tree (from QUILTA_SOURCE_DIR, else the working folder).
std::filesystem::path sourceDir();

// Axis-parallel rectangle as well-known text.
std::string rect(double x0, double y0, double x1, double y1);

}  // namespace quilta::test
