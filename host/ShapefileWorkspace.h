#pragma once
// A folder of shapefiles, as the host offers it to operations that write a new
// layer: look a shapefile up by name, delete one with all of its files, create
// a new polygon shapefile and stream records into it.
//
// A shapefile's name is its file name without ".shp". Its dataset is every file
// <name>.<extension> of the folder that belongs to a shapefile: the shapes
// (.shp), their index (.shx), the attribute table (.dbf), the coordinate system
// (.prj), the code page (.cpg), and the spatial indexes and metadata other
// programs leave beside them. The name is matched exactly, the extension in
// any letter case.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/FeatureTable.h"
#include "host/Geometry.h"
#include "host/PolygonLayer.h"
#include "host/Value.h"

namespace quilta {

// Appends records to a polygon shapefile being written. Records are streamed to
// the files as they come (the headers are completed by close()), so a writer
// holds no more than one record in memory whatever the size of the layer. The
// files are written under a temporary name of their own and take the
// shapefile's name when close() has completed them: a shapefile of that name
// is always complete, and a process killed while writing leaves only hidden
// temporary files, which the next writer in the folder removes.
class ShapefileWriter {
 public:
  ShapefileWriter(ShapefileWriter&&) noexcept;
  ShapefileWriter& operator=(ShapefileWriter&&) noexcept;
  // Closes the files if close() was not called; a failure at that point cannot
  // be reported (what was written is then removed), so callers that need to
  // know call close() themselves.
  ~ShapefileWriter();

  // Appends one record: `shape` (an empty shape gives a record without shape)
  // and one value per field of the field set, in field order (NULL leaves the
  // cell blank). Returns the record's number, from 0.
  // Throws HostError when the record cannot be written, when a value does not
  // fit its field (more digits before the decimal point than the field's
  // width allows, text longer than the field) or after close().
  std::int64_t append(const Polygon& shape, const std::vector<Value>& values);
  std::int64_t recordsWritten() const;

  // Completes the headers and closes the files. Throws HostError naming the
  // shapefile and the cause when that fails. Calling it again does nothing.
  void close();
  bool isOpen() const;
  // The .shp being written, by the name it takes when completed.
  const std::filesystem::path& path() const;

 private:
  struct Impl;
  friend class ShapefileWorkspace;
  explicit ShapefileWriter(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

class ShapefileWorkspace {
 public:
  // Opens `folder` as a workspace. Throws HostError when it is not an existing
  // folder.
  static ShapefileWorkspace open(const std::filesystem::path& folder);

  const std::filesystem::path& folder() const { return folder_; }
  // The .shp of the shapefile `name` in this folder (whether it exists or not).
  std::filesystem::path shapefilePath(const std::string& name) const;

  // True when the shapefile `name` exists (its .shp is there).
  bool exists(const std::string& name) const;
  // Every file of the dataset `name` that is present, in name order.
  std::vector<std::filesystem::path> datasetFiles(const std::string& name) const;
  // True when the dataset `name` of this folder is the dataset of the shapefile
  // `shp` (the same folder, however it is spelt, and the same name).
  bool isDatasetOf(const std::string& name, const std::filesystem::path& shp) const;

  // Deletes every file of the dataset `name`. Throws HostError naming the file
  // and the cause when one cannot be deleted (files deleted before it stay
  // deleted).
  void deleteShapefile(const std::string& name);

  // Creates the polygon shapefile `name` with the attribute fields `fields`
  // (types kLong, kDouble or kText with their length and precision, in this
  // order) and no coordinate system (no .prj is written), and returns the
  // writer for its records. Throws HostError when the name is empty or holds a
  // folder separator, when a file of the dataset is already there (delete it
  // first), for an unsupported field, or when the folder cannot be written
  // (with the system's cause); nothing is left behind then.
  ShapefileWriter createPolygonShapefile(const std::string& name, const std::vector<FieldInfo>& fields);

  // Number of records of the shapefile `name`. Throws HostError when it cannot
  // be opened.
  std::int64_t recordCount(const std::string& name) const;

  // Opens the shapefile `name` as a layer for the map, named `name`.
  std::shared_ptr<PolygonLayer> openLayer(const std::string& name) const;

 private:
  explicit ShapefileWorkspace(std::filesystem::path folder) : folder_(std::move(folder)) {}
  std::filesystem::path folder_;
};

}  // namespace quilta
