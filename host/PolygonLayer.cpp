#include "host/PolygonLayer.h"

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <system_error>

#include "host/DatabaseLayer.h"
#include "host/HostError.h"
#include "host/OgrLayer.h"
#include "host/ShapefileCheck.h"
#include "host/dbase/DbaseStore.h"

namespace quilta {

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::filesystem::path sibling(const std::filesystem::path& shp, const std::string& ext) {
  auto candidate = shp;
  candidate.replace_extension(ext);
  if (std::filesystem::exists(candidate)) return candidate;
  std::string upper = ext;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  auto alt = shp;
  alt.replace_extension(upper);
  return std::filesystem::exists(alt) ? alt : candidate;
}

// A path to a shapefile that the vector library can handle: the vector
// library forms the names of a shapefile's files in buffers of a fixed size,
// so a file in a very deep folder is reached through a descriptor of its
// folder instead ("/proc/self/fd/N/name.shp"), open while this lives.
class ShortPath {
 public:
  explicit ShortPath(const std::filesystem::path& path) : path_(path.string()) {
    if (path_.size() < 1024) return;
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    folder_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder_ >= 0) path_ = "/proc/self/fd/" + std::to_string(folder_) + "/" + path.filename().string();
  }
  ~ShortPath() {
    if (folder_ >= 0) ::close(folder_);
  }
  ShortPath(const ShortPath&) = delete;
  ShortPath& operator=(const ShortPath&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int folder_ = -1;
};

}  // namespace

int unitsCodeFromName(const std::string& name) {
  static const std::pair<const char*, int> names[] = {
      {"meters", kMeters},       {"metres", kMeters},   {"m", kMeters},           {"feet", kFeet},
      {"ft", kFeet},             {"yards", kYards},     {"miles", kMiles},        {"inches", kInches},
      {"millimeters", kMillimeters}, {"mm", kMillimeters}, {"centimeters", kCentimeters}, {"cm", kCentimeters},
      {"kilometers", kKilometers}, {"km", kKilometers}, {"degrees", kDecimalDegrees}, {"decimal-degrees", kDecimalDegrees}};
  std::string n = lower(name);
  for (const auto& [text, code] : names)
    if (n == text) return code;
  return -1;
}

std::shared_ptr<PolygonLayer> PolygonLayer::open(const LayerSource& source, Mode mode) {
  if (source.kind != LayerSource::Kind::Shapefile) return openDatabaseLayer(source, mode);
  if (!source.layer.empty())
    throw HostError("\"" + source.location + "\" is a shapefile: it has no layer \"" + source.layer + "\" to choose");
  return open(std::filesystem::path(source.location), mode);
}

std::shared_ptr<PolygonLayer> PolygonLayer::open(const std::filesystem::path& path, Mode mode) {
  if (LayerSource source = LayerSource::parse(path.string()); source.kind != LayerSource::Kind::Shapefile)
    return open(source, mode);
  if (lower(path.extension().string()) != ".shp")
    throw HostError("\"" + path.string() + "\" is not a shapefile (.shp)");
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) throw HostError("\"" + path.string() + "\" does not exist");

  std::shared_ptr<PolygonLayer> layer(new PolygonLayer());
  layer->path_ = path;
  layer->source_ = LayerSource{LayerSource::Kind::Shapefile, path.string(), {}};
  layer->name_ = path.stem().string();
  int geometryType = 0;
  {
    const ShortPath shortPath(path);
    ogr::Dataset ds = ogr::openVector(shortPath.path(), "ESRI Shapefile", path.string());
    OGRLayer* ogr = ds->GetLayer(0);
    geometryType = ogr::geometryCode(ogr->GetGeomType());
    layer->unitsCode_ = ogr::unitsOf(ogr->GetSpatialRef());
    OGREnvelope env;
    if (ogr->GetFeatureCount() > 0 && ogr->GetExtent(&env, TRUE) == OGRERR_NONE) {
      layer->width_ = env.MaxX - env.MinX;
      layer->height_ = env.MaxY - env.MinY;
    }
  }
  auto dbfPath = sibling(path, ".dbf");
  if (!std::filesystem::exists(dbfPath)) throw HostError("\"" + path.string() + "\" has no attribute table (.dbf)");
  DbfTable dbf = DbfTable::open(dbfPath, mode == Mode::Update);
  std::int64_t records = dbf.recordCount();
  const auto shx = sibling(path, ".shx");
  layer->table_ = std::make_unique<FeatureTable>(std::make_unique<DbaseStore>(std::move(dbf)), geometryType,
                                                  [path, shx, records] {
                                                    // Damaged shape files fail the operation that reads
                                                    // them, before it writes anything.
                                                    try {
                                                      shapefile::checkHeaders(path, shx, records);
                                                      shapefile::checkPolygonRecords(path, shx);
                                                    } catch (const HostError& e) {
                                                      throw HostError("cannot read the shapes: " +
                                                                      std::string(e.what()));
                                                    }
                                                    const ShortPath shortPath(path);
                                                    ogr::Dataset ds = ogr::openVector(
                                                        shortPath.path(), "ESRI Shapefile", path.string());
                                                    return ogr::readShapes(
                                                        *ds->GetLayer(0), records,
                                                        [](GIntBig fid) { return static_cast<std::int64_t>(fid); },
                                                        path.string());
                                                  });
  return layer;
}

}  // namespace quilta
