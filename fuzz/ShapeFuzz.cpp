// The shape reading path on arbitrary shapefiles: the .shp, .shx and .dbf
// bytes are put into the vector library's in-memory file system and read as
// a layer is read, shape by shape, into patches; each patch is then measured
// and taken apart as the operations do. Whatever the bytes, reading either
// fails with HostError or gives patches every measure works on.
//
// Input: the length of the .shx (4 bytes, little-endian), the length of the
// .dbf (4 bytes), the .shx, the .dbf, then the .shp (the rest).

#include <cpl_vsi.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "host/Geometry.h"
#include "host/HostError.h"
#include "host/OgrLayer.h"

namespace {

std::uint32_t readU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// One in-memory file over a slice of the input, removed at scope exit.
class MemFile {
 public:
  MemFile(const std::string& path, const std::uint8_t* data, std::size_t size) : path_(path) {
    // The library wants a writable buffer; it is only read here.
    VSILFILE* f = VSIFileFromMemBuffer(path.c_str(), const_cast<GByte*>(data), size, FALSE);
    if (f) VSIFCloseL(f);
  }
  MemFile(const MemFile&) = delete;
  MemFile& operator=(const MemFile&) = delete;
  ~MemFile() { VSIUnlink(path_.c_str()); }

 private:
  std::string path_;
};

void measure(const quilta::Polygon& patch) {
  if (patch.isEmpty()) return;
  const double area = patch.area();
  QUILTA_FUZZ_CHECK(!(area < 0));
  const double length = patch.length();
  QUILTA_FUZZ_CHECK(!(length < 0));
  (void)patch.bounds();
  const int rings = patch.ringCount();
  QUILTA_FUZZ_CHECK(rings >= 0);
  std::size_t drawn = 0;
  for (const auto& ring : patch.rings()) drawn += ring.empty() ? 0 : 1;
  QUILTA_FUZZ_CHECK(drawn <= static_cast<std::size_t>(rings));
  for (const quilta::Polygon& part : patch.exteriorParts()) {
    (void)part.area();
    (void)part.length();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  const std::size_t rest = size - 8;
  const std::size_t shxSize = std::min<std::size_t>(readU32(data), rest);
  const std::size_t dbfSize = std::min<std::size_t>(readU32(data + 4), rest - shxSize);
  const std::uint8_t* shx = data + 8;
  const std::uint8_t* dbf = shx + shxSize;
  const std::uint8_t* shp = dbf + dbfSize;
  const std::size_t shpSize = rest - shxSize - dbfSize;

  const std::string base = "/vsimem/quilta-fuzz/patches";
  const MemFile shpFile(base + ".shp", shp, shpSize);
  const MemFile shxFile(base + ".shx", shx, shxSize);
  const MemFile dbfFile(base + ".dbf", dbf, dbfSize);
  try {
    quilta::ogr::Dataset ds = quilta::ogr::openVector(base + ".shp", "ESRI Shapefile", "patches.shp");
    OGRLayer& layer = *ds->GetLayer(0);
    (void)quilta::ogr::geometryCode(layer.GetGeomType());
    (void)quilta::ogr::unitsOf(layer.GetSpatialRef());
    const GIntBig count = layer.GetFeatureCount();
    // A count from a damaged header is not trusted for the size of the result.
    const std::int64_t records = std::clamp<GIntBig>(count, 0, 1 << 16);
    const auto shapes = quilta::ogr::readShapes(
        layer, records,
        [](GIntBig fid) { return fid >= 0 && fid < (1 << 16) ? static_cast<std::int64_t>(fid) : -1; },
        "patches.shp");
    for (const quilta::Polygon& patch : shapes) measure(patch);
  } catch (const quilta::HostError&) {
    // refused: a file the library cannot read, or a shape it cannot convert
  }
  return 0;
}
