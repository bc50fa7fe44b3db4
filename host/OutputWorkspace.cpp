#include "host/OutputWorkspace.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "host/Gdal.h"
#include "host/GeosContext.h"
#include "host/HostError.h"
#include "host/ShapefileWorkspace.h"

namespace quilta {
namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// --- A folder of shapefiles -------------------------------------------------

class ShapefileLayerWriter final : public PolygonLayerWriter {
 public:
  explicit ShapefileLayerWriter(ShapefileWriter writer) : writer_(std::move(writer)) {}
  std::int64_t append(const Polygon& shape, const std::vector<Value>& values) override {
    return writer_.append(shape, values);
  }
  void close() override { writer_.close(); }

 private:
  ShapefileWriter writer_;
};

class ShapefileOutput final : public OutputWorkspace {
 public:
  ShapefileOutput(ShapefileWorkspace workspace, std::string fullName)
      : workspace_(std::move(workspace)), fullName_(std::move(fullName)) {}

  const char* layerWord() const override { return "shapefile"; }
  bool isLayerOf(const std::string& name, const PolygonLayer& layer) const override {
    return layer.source().kind == LayerSource::Kind::Shapefile && workspace_.isDatasetOf(name, layer.path());
  }
  std::unique_ptr<PolygonLayerWriter> createPolygonLayer(const std::string& name,
                                                          const std::vector<FieldInfo>& fields) override {
    std::error_code ec;
    if (std::filesystem::exists(fullName_, ec)) {
      if (!workspace_.exists(name))
        throw HostError("\"" + fullName_ + "\" is not the shapefile \"" + name + "\"");
      workspace_.deleteShapefile(name);
    }
    return std::make_unique<ShapefileLayerWriter>(workspace_.createPolygonShapefile(name, fields));
  }
  std::int64_t recordCount(const std::string& name) const override { return workspace_.recordCount(name); }
  std::shared_ptr<PolygonLayer> openLayer(const std::string& name) const override {
    return workspace_.openLayer(name);
  }

 private:
  ShapefileWorkspace workspace_;
  std::string fullName_;
};

// --- A GeoPackage ---------------------------------------------------------

struct DatasetCloser {
  void operator()(GDALDataset* ds) const { GDALClose(ds); }
};
using Dataset = std::unique_ptr<GDALDataset, DatasetCloser>;

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code ec;
  const bool same = std::filesystem::equivalent(a, b, ec);
  if (!ec) return same;
  return std::filesystem::weakly_canonical(std::filesystem::absolute(a, ec), ec) ==
         std::filesystem::weakly_canonical(std::filesystem::absolute(b, ec), ec);
}

OGRFieldType ogrType(const FieldInfo& f) {
  switch (f.type) {
    case kLong: return OFTInteger;
    case kDouble: return OFTReal;
    case kText: return OFTString;
    default: throw HostError("field type " + std::to_string(f.type) + " cannot be created in a new GeoPackage layer");
  }
}

class GeoPackageLayerWriter final : public PolygonLayerWriter {
 public:
  GeoPackageLayerWriter(Dataset dataset, OGRLayer* layer, std::vector<FieldInfo> fields, std::string shown)
      : dataset_(std::move(dataset)),
        layer_(layer),
        fields_(std::move(fields)),
        shown_(std::move(shown)),
        feature_(std::make_unique<OGRFeature>(layer->GetLayerDefn())) {}
  // A writer dropped without close() leaves the GeoPackage as it was.
  ~GeoPackageLayerWriter() override {
    if (dataset_) dataset_->RollbackTransaction();
  }

  std::int64_t append(const Polygon& shape, const std::vector<Value>& values) override {
    if (!dataset_) throw HostError("the layer " + shown_ + " is closed; no record can be added");
    if (values.size() != fields_.size())
      throw HostError("a record of " + shown_ + " needs " + std::to_string(fields_.size()) + " values, not " +
                      std::to_string(values.size()));
    OGRFeature& f = *feature_;
    f.SetFID(OGRNullFID);
    for (std::size_t i = 0; i < values.size(); ++i) setField(static_cast<int>(i), values[i]);
    if (shape.isEmpty()) {
      f.SetGeometryDirectly(nullptr);
    } else {
      OGRGeometry* g = OGRGeometryFactory::createFromGEOS(geos::context(), const_cast<GEOSGeometry*>(shape.handle()));
      if (!g) throw HostError("cannot convert a shape for " + shown_);
      f.SetGeometryDirectly(OGRGeometryFactory::forceToMultiPolygon(g));
    }
    CPLErrorReset();
    if (layer_->CreateFeature(&f) != OGRERR_NONE || CPLGetLastErrorType() == CE_Failure)
      throw HostError("cannot write record " + std::to_string(written_) + " of " + shown_ + ": " +
                      gdal::lastError("write failed"));
    return written_++;
  }

  void close() override {
    if (!dataset_) return;
    CPLErrorReset();
    const bool committed = dataset_->CommitTransaction() == OGRERR_NONE;
    std::string cause = committed ? std::string() : gdal::lastError("the commit failed");
    if (!committed) dataset_->RollbackTransaction();
    feature_.reset();
    dataset_.reset();
    if (!committed) throw HostError("cannot complete " + shown_ + ": " + cause);
  }

 private:
  void setField(int i, const Value& value) {
    const FieldInfo& field = fields_[static_cast<std::size_t>(i)];
    if (isNull(value)) return feature_->SetFieldNull(i);
    if (const auto* s = std::get_if<std::string>(&value)) {
      if (field.type != kText)
        throw HostError("the text \"" + *s + "\" cannot go into the numeric field \"" + field.name + "\" of " + shown_);
      return feature_->SetField(i, s->c_str());
    }
    double number = 0;
    if (const auto* n = std::get_if<std::int64_t>(&value)) {
      if (field.type == kLong) return feature_->SetField(i, static_cast<GIntBig>(*n));
      number = static_cast<double>(*n);
    } else {
      number = std::get<double>(value);
    }
    if (!std::isfinite(number))
      throw HostError("the field \"" + field.name + "\" of " + shown_ + " cannot hold a number that is not finite");
    if (field.type == kLong) return feature_->SetField(i, static_cast<GIntBig>(std::llround(number)));
    feature_->SetField(i, number);
  }

  Dataset dataset_;
  OGRLayer* layer_;
  std::vector<FieldInfo> fields_;
  std::string shown_;
  std::unique_ptr<OGRFeature> feature_;
  std::int64_t written_ = 0;
};

class GeoPackageOutput final : public OutputWorkspace {
 public:
  explicit GeoPackageOutput(std::filesystem::path path) : path_(std::move(path)) {}

  const char* layerWord() const override { return "layer"; }

  bool isLayerOf(const std::string& name, const PolygonLayer& layer) const override {
    const LayerSource& s = layer.source();
    return s.kind == LayerSource::Kind::GeoPackage && lower(s.layer) == lower(name) && sameFile(s.location, path_);
  }

  std::unique_ptr<PolygonLayerWriter> createPolygonLayer(const std::string& name,
                                                          const std::vector<FieldInfo>& fields) override {
    if (name.empty()) throw HostError("a GeoPackage layer needs a name");
    for (const auto& f : fields) ogrType(f);
    const std::string shown = "the layer \"" + name + "\" of \"" + path_.string() + "\"";
    Dataset ds = openForUpdate();
    CPLErrorReset();
    if (ds->StartTransaction(FALSE) != OGRERR_NONE)
      throw HostError("cannot begin writing \"" + path_.string() + "\": " + gdal::lastError("locked"));
    auto fail = [&](const std::string& what) -> std::unique_ptr<PolygonLayerWriter> {
      std::string cause = gdal::lastError("unknown cause");
      ds->RollbackTransaction();
      throw HostError(what + " " + shown + ": " + cause);
    };
    // The earlier layer of the name goes in the same transaction.
    for (int i = 0; i < ds->GetLayerCount(); ++i)
      if (lower(ds->GetLayer(i)->GetName()) == lower(name) && ds->DeleteLayer(i) != OGRERR_NONE)
        return fail("cannot replace");
    const char* options[] = {"GEOMETRY_NAME=geom", "FID=fid", nullptr};
    // No coordinate system: the GeoPackage's undefined Cartesian one (a
    // layer given none would get the undefined geographic one, in degrees).
    OGRSpatialReference undefined;
    undefined.SetFromUserInput("LOCAL_CS[\"Undefined Cartesian SRS\"]");
    OGRLayer* layer = ds->CreateLayer(name.c_str(), &undefined, wkbMultiPolygon, const_cast<char**>(options));
    if (!layer) return fail("cannot create");
    for (const auto& f : fields) {
      OGRFieldDefn defn(f.name.c_str(), ogrType(f));
      defn.SetWidth(f.length);
      defn.SetPrecision(f.precision);
      if (layer->CreateField(&defn, FALSE) != OGRERR_NONE) return fail("cannot add the field \"" + f.name + "\" to");
    }
    return std::make_unique<GeoPackageLayerWriter>(std::move(ds), layer, fields, shown);
  }

  std::int64_t recordCount(const std::string& name) const override {
    gdal::init();
    const char* const drivers[] = {"GPKG", nullptr};
    Dataset ds(static_cast<GDALDataset*>(
        GDALOpenEx(path_.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers, nullptr, nullptr)));
    OGRLayer* layer = ds ? ds->GetLayerByName(name.c_str()) : nullptr;
    const std::int64_t count = layer ? layer->GetFeatureCount(TRUE) : -1;
    if (count < 0)
      throw HostError("cannot count the records of the layer \"" + name + "\" of \"" + path_.string() + "\": " +
                      gdal::lastError("no such layer"));
    return count;
  }

  std::shared_ptr<PolygonLayer> openLayer(const std::string& name) const override {
    auto layer = PolygonLayer::open(LayerSource{LayerSource::Kind::GeoPackage, path_.string(), name});
    layer->setName(name);
    return layer;
  }

 private:
  Dataset openForUpdate() const {
    gdal::init();
    CPLErrorReset();
    std::error_code ec;
    if (std::filesystem::exists(path_, ec)) {
      const char* const drivers[] = {"GPKG", nullptr};
      auto* ds = static_cast<GDALDataset*>(
          GDALOpenEx(path_.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, drivers, nullptr, nullptr));
      if (!ds)
        throw HostError("\"" + path_.string() + "\" is not a GeoPackage that can be written: " +
                        gdal::lastError("unknown cause"));
      return Dataset(ds);
    }
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GPKG");
    if (!driver) throw HostError("the GeoPackage driver is not available");
    auto* ds = driver->Create(path_.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    if (!ds) throw HostError("cannot create \"" + path_.string() + "\": " + gdal::lastError("unknown cause"));
    return Dataset(ds);
  }

  std::filesystem::path path_;
};

}  // namespace

OutputWorkspace::Target OutputWorkspace::forOutput(const std::string& fullName, const std::string& defaultLayer) {
  const std::string title = std::filesystem::path(fullName).filename().string();
  // Only the end is cut from the full name, so a folder whose own name
  // contains the title keeps it.
  const std::string folder = fullName.substr(0, fullName.size() - title.size());
  const std::string lowered = lower(title);
  const auto colon = lowered.find(".gpkg:");
  if (colon != std::string::npos || (lowered.size() > 5 && lowered.compare(lowered.size() - 5, 5, ".gpkg") == 0)) {
    const std::string file = colon == std::string::npos ? title : title.substr(0, colon + 5);
    const std::string layer = colon == std::string::npos ? defaultLayer : title.substr(colon + 6);
    if (layer.empty()) throw HostError("\"" + fullName + "\" names no GeoPackage layer");
    ShapefileWorkspace::open(folder.empty() ? "." : folder);  // the folder must exist
    return {std::make_unique<GeoPackageOutput>(std::filesystem::path(folder) / file), layer};
  }
  std::string name = title;
  if (title.size() >= 4 && title.compare(title.size() - 4, 4, ".shp") == 0) name = title.substr(0, title.size() - 4);
  if (name.empty()) throw HostError("\"" + fullName + "\" names no shapefile");
  return {std::make_unique<ShapefileOutput>(ShapefileWorkspace::open(folder), fullName), name};
}

}  // namespace quilta
