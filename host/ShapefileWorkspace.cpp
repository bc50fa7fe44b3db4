#include "host/ShapefileWorkspace.h"

#include <fcntl.h>
#include <gdal_priv.h>
#include <unistd.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "host/Gdal.h"
#include "host/GeosContext.h"
#include "host/HostError.h"
#include "host/TemporaryFiles.h"

namespace quilta {
namespace {

// The extensions of the files that make up one shapefile dataset.
constexpr const char* kDatasetExtensions[] = {"shp", "shx", "dbf", "prj", "cpg", "qpj", "sbn", "sbx",    "fbn",
                                              "fbx", "ain", "aih", "atx", "ixs", "mxs", "qix", "shp.xml"};

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// The extension of `file` when it is a file of the dataset `name`, else "".
std::string datasetExtension(const std::string& file, const std::string& name) {
  if (file.size() <= name.size() + 1 || file.compare(0, name.size(), name) != 0 || file[name.size()] != '.') return {};
  std::string ext = lower(file.substr(name.size() + 1));
  for (const char* known : kDatasetExtensions)
    if (ext == known) return ext;
  return {};
}

void checkName(const std::string& name) {
  if (name.empty()) throw HostError("a shapefile needs a name");
  if (name.find('/') != std::string::npos || name == "." || name == "..")
    throw HostError("\"" + name + "\" is not a shapefile name");
}

// The folder as the file system knows it, for comparing two spellings of it.
std::filesystem::path resolved(const std::filesystem::path& folder) {
  std::error_code ec;
  auto p = std::filesystem::weakly_canonical(std::filesystem::absolute(folder.empty() ? "." : folder, ec), ec);
  return ec ? folder.lexically_normal() : p;
}

bool sameFolder(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code ec;
  const auto& x = a.empty() ? std::filesystem::path(".") : a;
  const auto& y = b.empty() ? std::filesystem::path(".") : b;
  bool same = std::filesystem::equivalent(x, y, ec);
  if (!ec) return same;
  return resolved(x) == resolved(y);
}

OGRFieldType ogrType(int type) {
  switch (type) {
    case kLong:
      return OFTInteger;
    case kDouble:
      return OFTReal;
    case kText:
      return OFTString;
    default:
      throw HostError("field type " + std::to_string(type) + " cannot be created in a new shapefile");
  }
}

std::string numberText(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

// Characters (sign included) of the whole part of `v` written out in full.
// Found by comparing with powers of ten, which doubles hold exactly up to
// 1e22: this runs for every value of every record.
std::size_t integerDigits(double v) {
  const double whole = std::fabs(std::trunc(v));
  const std::size_t sign = std::signbit(v) ? 1 : 0;
  double limit = 10;
  for (std::size_t digits = 1; digits <= 22; ++digits, limit *= 10)
    if (whole < limit) return sign + digits;
  char buf[400];
  int n = std::snprintf(buf, sizeof buf, "%.0f", std::trunc(v));
  return n < 0 ? sizeof buf : static_cast<std::size_t>(n);
}

}  // namespace

// ---------------------------------------------------------------------------

// The files of a shapefile that the vector library writes.
constexpr const char* kWrittenExtensions[] = {".dbf", ".cpg", ".prj", ".shx", ".shp"};

struct ShapefileWriter::Impl {
  std::filesystem::path path;
  std::filesystem::path temporary;  // the .shp while it is written
  GDALDataset* dataset = nullptr;
  OGRLayer* layer = nullptr;
  std::vector<FieldInfo> fields;
  std::unique_ptr<OGRFeature> feature;  // reused for every record
  std::int64_t written = 0;

  ~Impl() {
    if (!dataset) return;
    layer->SyncToDisk();
    feature.reset();
    GDALClose(dataset);
    try {
      publish();
    } catch (const std::exception&) {
      removeTemporaries();
    }
  }
  void removeTemporaries() const {
    for (const char* ext : kWrittenExtensions) {
      std::filesystem::path file = temporary;
      std::error_code ec;
      std::filesystem::remove(file.replace_extension(ext), ec);
    }
  }
  // Gives the completed files the shapefile's name, the .shp last: a .shp of
  // that name has its other files beside it.
  void publish() const {
    for (const char* ext : kWrittenExtensions) {
      std::filesystem::path from = temporary, to = path;
      from.replace_extension(ext);
      to.replace_extension(ext);
      std::error_code ec;
      if (!std::filesystem::exists(from, ec)) continue;
      std::filesystem::rename(from, to, ec);
      if (ec) throw HostError("cannot complete " + where() + ": " + ec.message());
    }
    const int folder = ::open(path.parent_path().empty() ? "." : path.parent_path().c_str(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
      ::fsync(folder);
      ::close(folder);
    }
  }

  std::string where() const { return "\"" + path.string() + "\""; }

  void setValue(int i, const Value& value) {
    const FieldInfo& f = fields[static_cast<std::size_t>(i)];
    if (isNull(value)) return feature->SetFieldNull(i);
    auto refuse = [&](const std::string& shown) {
      throw HostError("the value " + shown + " does not fit the field \"" + f.name + "\" (" + std::to_string(f.length) +
                      " characters) of " + where());
    };
    if (f.type == kText) {
      std::string text;
      if (auto s = std::get_if<std::string>(&value))
        text = *s;
      else if (auto n = std::get_if<std::int64_t>(&value))
        text = std::to_string(*n);
      else
        text = numberText(std::get<double>(value));
      if (f.length > 0 && text.size() > static_cast<std::size_t>(f.length)) refuse("\"" + text + "\"");
      return feature->SetField(i, text.c_str());
    }
    double number = 0;
    if (auto n = std::get_if<std::int64_t>(&value))
      number = static_cast<double>(*n);
    else if (auto d = std::get_if<double>(&value))
      number = *d;
    else
      throw HostError("the text \"" + std::get<std::string>(value) + "\" cannot go into the numeric field \"" + f.name +
                      "\" of " + where());
    if (!std::isfinite(number)) refuse(numberText(number) + " (not a finite number)");
    if (f.type == kLong) {
      if (number != std::trunc(number)) number = std::round(number);
      // A width beyond the integer field's digits would make the library widen
      // the column on its own; a record number never gets that far in practice.
      if (f.length > 0 && integerDigits(number) > static_cast<std::size_t>(f.length)) refuse(numberText(number));
      if (std::fabs(number) > 2147483647.0) refuse(numberText(number));
      return feature->SetField(i, static_cast<int>(number));
    }
    // Decimals that do not fit are cut by the library; digits before the
    // decimal point must never be.
    if (f.length > 0 && integerDigits(number) > static_cast<std::size_t>(f.length)) refuse(numberText(number));
    feature->SetField(i, number);
  }
};

ShapefileWriter::ShapefileWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ShapefileWriter::ShapefileWriter(ShapefileWriter&&) noexcept = default;
ShapefileWriter& ShapefileWriter::operator=(ShapefileWriter&&) noexcept = default;
ShapefileWriter::~ShapefileWriter() = default;

bool ShapefileWriter::isOpen() const { return impl_ && impl_->dataset; }
const std::filesystem::path& ShapefileWriter::path() const { return impl_->path; }
std::int64_t ShapefileWriter::recordsWritten() const { return impl_ ? impl_->written : 0; }

std::int64_t ShapefileWriter::append(const Polygon& shape, const std::vector<Value>& values) {
  if (!isOpen()) throw HostError("the shapefile is closed; no record can be added");
  Impl& w = *impl_;
  if (values.size() != w.fields.size())
    throw HostError("a record of " + w.where() + " needs " + std::to_string(w.fields.size()) + " values, not " +
                    std::to_string(values.size()));
  OGRFeature& f = *w.feature;
  f.SetFID(OGRNullFID);
  for (std::size_t i = 0; i < values.size(); ++i) w.setValue(static_cast<int>(i), values[i]);
  if (shape.isEmpty()) {
    f.SetGeometryDirectly(nullptr);
  } else {
    OGRGeometry* g = OGRGeometryFactory::createFromGEOS(geos::context(), const_cast<GEOSGeometry*>(shape.handle()));
    if (!g) throw HostError("cannot convert a shape for " + w.where());
    f.SetGeometryDirectly(g);
  }
  CPLErrorReset();
  if (w.layer->CreateFeature(&f) != OGRERR_NONE || CPLGetLastErrorType() == CE_Failure)
    throw HostError("cannot write record " + std::to_string(w.written) + " of " + w.where() + ": " +
                    gdal::lastError("write failed"));
  return w.written++;
}

void ShapefileWriter::close() {
  if (!isOpen()) return;
  Impl& w = *impl_;
  CPLErrorReset();
  bool synced = w.layer->SyncToDisk() == OGRERR_NONE;
  w.feature.reset();
  GDALClose(w.dataset);
  w.dataset = nullptr;
  w.layer = nullptr;
  if (!synced || CPLGetLastErrorType() == CE_Failure) {
    const std::string cause = gdal::lastError("write failed");
    w.removeTemporaries();
    throw HostError("cannot complete " + w.where() + ": " + cause);
  }
  try {
    w.publish();
  } catch (...) {
    w.removeTemporaries();
    throw;
  }
}

// ---------------------------------------------------------------------------

ShapefileWorkspace ShapefileWorkspace::open(const std::filesystem::path& folder) {
  std::error_code ec;
  if (folder.empty()) throw HostError("no folder given for the shapefile");
  if (!std::filesystem::is_directory(folder, ec))
    throw HostError("\"" + folder.string() + "\" is not a folder" +
                    (std::filesystem::exists(folder, ec) ? std::string() : std::string(" (it does not exist)")));
  return ShapefileWorkspace(folder);
}

std::filesystem::path ShapefileWorkspace::shapefilePath(const std::string& name) const {
  return folder_ / (name + ".shp");
}

std::vector<std::filesystem::path> ShapefileWorkspace::datasetFiles(const std::string& name) const {
  std::vector<std::filesystem::path> files;
  if (name.empty()) return files;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (it->is_directory(typeError)) continue;
    if (!datasetExtension(it->path().filename().string(), name).empty()) files.push_back(it->path());
  }
  if (ec) throw HostError("cannot list the folder \"" + folder_.string() + "\": " + ec.message());
  std::sort(files.begin(), files.end());
  return files;
}

bool ShapefileWorkspace::exists(const std::string& name) const {
  for (const auto& f : datasetFiles(name))
    if (datasetExtension(f.filename().string(), name) == "shp") return true;
  return false;
}

bool ShapefileWorkspace::isDatasetOf(const std::string& name, const std::filesystem::path& shp) const {
  if (lower(shp.extension().string()) != ".shp" || shp.stem().string() != name) return false;
  return sameFolder(folder_, shp.parent_path());
}

void ShapefileWorkspace::deleteShapefile(const std::string& name) {
  checkName(name);
  for (const auto& file : datasetFiles(name)) {
    std::error_code ec;
    if (!std::filesystem::remove(file, ec) && ec)
      throw HostError("cannot delete \"" + file.string() + "\": " + ec.message());
  }
}

ShapefileWriter ShapefileWorkspace::createPolygonShapefile(const std::string& name,
                                                           const std::vector<FieldInfo>& fields) {
  checkName(name);
  for (const auto& f : fields) ogrType(f.type);
  auto existing = datasetFiles(name);
  if (!existing.empty())
    throw HostError("\"" + existing.front().string() + "\" is in the way of the new shapefile \"" + name + "\"");

  gdal::init();
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
  if (!driver) throw HostError("the shapefile driver is not available");
  auto impl = std::make_unique<ShapefileWriter::Impl>();
  impl->path = shapefilePath(name);
  removeAbandonedTemporaries(impl->path.parent_path());
  impl->temporary = impl->path.parent_path() / (temporaryName() + ".shp");
  impl->fields = fields;
  // Nothing of a failed creation may stay behind.
  auto fail = [&](const std::string& what) {
    std::string cause = gdal::lastError("unknown cause");
    if (impl->dataset) GDALClose(impl->dataset);
    impl->dataset = nullptr;
    impl->removeTemporaries();
    throw HostError(what + " " + impl->where() + ": " + cause);
  };
  CPLErrorReset();
  impl->dataset = driver->Create(impl->temporary.string().c_str(), 0, 0, 0, GDT_Unknown, nullptr);
  if (!impl->dataset) fail("cannot create");
  const char* options[] = {"SHPT=POLYGON", nullptr};
  impl->layer = impl->dataset->CreateLayer(name.c_str(), nullptr, wkbPolygon, const_cast<char**>(options));
  if (!impl->layer) fail("cannot create");
  for (const auto& f : fields) {
    OGRFieldDefn defn(f.name.c_str(), ogrType(f.type));
    defn.SetWidth(f.length);
    defn.SetPrecision(f.precision);
    if (impl->layer->CreateField(&defn, FALSE) != OGRERR_NONE) fail("cannot add the field \"" + f.name + "\" to");
  }
  // The attribute table is written out with its first record; write the empty
  // table now so that a shapefile without records is complete too.
  if (impl->layer->SyncToDisk() != OGRERR_NONE || CPLGetLastErrorType() == CE_Failure) fail("cannot write");
  impl->feature = std::make_unique<OGRFeature>(impl->layer->GetLayerDefn());
  return ShapefileWriter(std::move(impl));
}

std::int64_t ShapefileWorkspace::recordCount(const std::string& name) const {
  gdal::init();
  const auto path = shapefilePath(name);
  const char* const drivers[] = {"ESRI Shapefile", nullptr};
  auto* ds = static_cast<GDALDataset*>(
      GDALOpenEx(path.string().c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers, nullptr, nullptr));
  if (!ds) throw HostError("cannot open \"" + path.string() + "\": " + gdal::lastError("not a readable shapefile"));
  std::int64_t count = ds->GetLayerCount() > 0 ? ds->GetLayer(0)->GetFeatureCount(TRUE) : 0;
  GDALClose(ds);
  if (count < 0) throw HostError("cannot count the records of \"" + path.string() + "\"");
  return count;
}

std::shared_ptr<PolygonLayer> ShapefileWorkspace::openLayer(const std::string& name) const {
  auto layer = PolygonLayer::open(shapefilePath(name));
  layer->setName(name);
  return layer;
}

}  // namespace quilta
