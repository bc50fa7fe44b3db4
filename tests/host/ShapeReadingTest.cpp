// The shapes of a shapefile as the layer reads them: every vertex the very
// number the file holds, in the file's order, ring by ring and part by part,
// whether the shape is built from its vertices directly (plain polygons and
// multipolygons) or through the vector library's export (any other shape).

#include <gtest/gtest.h>
#include <ogrsf_frmts.h>

#include <memory>
#include <string>
#include <vector>

#include "host/Geometry.h"
#include "host/PolygonLayer.h"
#include "tests/support/Fixtures.h"
#include "tests/support/RandomPatches.h"

namespace quilta::test {
namespace {

// The rings of an OGR polygon or multipolygon as Polygon::rings() lists them.
std::vector<Polygon::Ring> ringsOf(const OGRGeometry* g) {
  std::vector<Polygon::Ring> out;
  auto ring = [&](const OGRLinearRing* r) {
    Polygon::Ring points;
    for (int i = 0; i < r->getNumPoints(); ++i) points.emplace_back(r->getX(i), r->getY(i));
    out.push_back(points);
  };
  auto polygon = [&](const OGRPolygon* p) {
    if (p->IsEmpty()) return;
    ring(p->getExteriorRing());
    for (int i = 0; i < p->getNumInteriorRings(); ++i) ring(p->getInteriorRing(i));
  };
  if (!g || g->IsEmpty()) return out;
  if (wkbFlatten(g->getGeometryType()) == wkbPolygon) {
    polygon(g->toPolygon());
  } else {
    for (const OGRGeometry* part : g->toMultiPolygon()) polygon(part->toPolygon());
  }
  return out;
}

void expectShapesAsInTheFile(const std::filesystem::path& shp) {
  auto layer = PolygonLayer::open(shp);
  const std::vector<Polygon>& shapes = layer->featureTable().shapes();

  GDALAllRegister();
  std::unique_ptr<GDALDataset> ds(GDALDataset::Open(shp.string().c_str(), GDAL_OF_VECTOR));
  ASSERT_TRUE(ds);
  OGRLayer* ogr = ds->GetLayer(0);
  ASSERT_EQ(static_cast<std::size_t>(ogr->GetFeatureCount()), shapes.size());
  ogr->ResetReading();
  std::size_t compared = 0;
  while (OGRFeature* raw = ogr->GetNextFeature()) {
    std::unique_ptr<OGRFeature> feature(raw);
    const auto fid = static_cast<std::size_t>(feature->GetFID());
    ASSERT_LT(fid, shapes.size());
    const auto expected = ringsOf(feature->GetGeometryRef());
    const auto read = shapes[fid].rings();
    ASSERT_EQ(read.size(), expected.size()) << "feature " << fid;
    for (std::size_t r = 0; r < read.size(); ++r)
      for (std::size_t i = 0; i < read[r].size(); ++i) {
        ASSERT_EQ(read[r][i].first, expected[r][i].first) << "feature " << fid << " ring " << r << " vertex " << i;
        ASSERT_EQ(read[r][i].second, expected[r][i].second) << "feature " << fid << " ring " << r << " vertex " << i;
      }
    compared += read.size();
  }
  EXPECT_GT(compared, shapes.size()) << "holes and parts were among the shapes";
}

TEST(ShapeReadingTest, PolygonsWithHolesAndMultipolygonsKeepEveryVertexAsTheFileHasIt) {
  TempDir dir;
  std::vector<Row> rows;
  for (const auto& p : randomPatches(31, 12, 10, 3))
    rows.push_back({p.wkt, {Value(std::in_place_type<std::string>, p.cls)}});
  writeShapefile(dir / "land.shp", {{"cover", 'S', 20}}, rows);
  expectShapesAsInTheFile(dir / "land.shp");
}

TEST(ShapeReadingTest, ShapesWithHeightsGoThroughTheExportWithTheSameVertices) {
  TempDir dir;
  {
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
    std::unique_ptr<GDALDataset> ds(driver->Create((dir / "z.shp").string().c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    OGRLayer* layer = ds->CreateLayer("z", nullptr, wkbMultiPolygon25D, nullptr);
    for (const char* wkt : {"POLYGON Z ((0 0 1,0 10 2,10 10 3,10 0 4,0 0 1),(2 2 0,2 4 0,4 4 0,2 2 0))",
                            "MULTIPOLYGON Z (((20 0 0,20 5 0,25 5 0,20 0 0)),((30 0 1,30 5 1,35 5 1,30 0 1)))"}) {
      OGRGeometry* g = nullptr;
      ASSERT_EQ(OGRGeometryFactory::createFromWkt(wkt, nullptr, &g), OGRERR_NONE);
      std::unique_ptr<OGRFeature> f(OGRFeature::CreateFeature(layer->GetLayerDefn()));
      f->SetGeometryDirectly(g);
      ASSERT_EQ(layer->CreateFeature(f.get()), OGRERR_NONE);
    }
  }
  expectShapesAsInTheFile(dir / "z.shp");
}

}  // namespace
}  // namespace quilta::test
