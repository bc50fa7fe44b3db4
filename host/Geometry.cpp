#include "host/Geometry.h"

#include <new>
#include <string>

#include "host/GeosContext.h"
#include "host/HostError.h"

namespace quilta {
namespace geos {
namespace {

// One engine context per thread: a context must not be used by two threads at
// once, and its last error message belongs to the thread that caused it.
struct Context {
  GEOSContextHandle_t handle;
  std::string lastError;
  Context() : handle(GEOS_init_r()) {
    GEOSContext_setErrorMessageHandler_r(handle, onMessage, this);
    GEOSContext_setNoticeMessageHandler_r(handle, [](const char*, void*) {}, nullptr);
  }
  ~Context() {
    GEOS_finish_r(handle);
    gone = true;
  }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  static void onMessage(const char* message, void* self) {
    static_cast<Context*>(self)->lastError = message ? message : "";
  }
  // Set when this thread's context has been destroyed (the thread is ending).
  static thread_local bool gone;
};

thread_local bool Context::gone = false;

// For shapes released after their thread's context is gone (objects destroyed
// at program exit): a context that lives until the process ends.
Context& lastingContext() {
  static Context* ctx = new Context;
  return *ctx;
}

Context& current() {
  if (Context::gone) return lastingContext();
  thread_local Context ctx;
  return ctx;
}

}  // namespace

GEOSContextHandle_t context() { return current().handle; }

void fail(const std::string& what) {
  std::string& lastError = current().lastError;
  // The engine turns running out of memory into a message: it is no fault of
  // the data, and is reported as what it is.
  if (lastError.find("bad_alloc") != std::string::npos) {
    lastError.clear();
    throw std::bad_alloc();
  }
  std::string message = what;
  if (!lastError.empty()) message += ": " + lastError;
  lastError.clear();
  throw HostError(message);
}

}  // namespace geos

namespace {

GEOSGeometry* checked(GEOSGeometry* g, const char* what) {
  if (!g) geos::fail(what);
  return g;
}

struct Deleter {
  void operator()(GEOSGeometry* g) const {
    if (g) GEOSGeom_destroy_r(geos::context(), g);
  }
};

}  // namespace

Polygon::Polygon() : Polygon(checked(GEOSGeom_createEmptyPolygon_r(geos::context()), "empty polygon")) {}

Polygon::Polygon(GEOSGeometry* geometry) : geometry_(geometry, Deleter{}) {}

Polygon Polygon::fromWkt(const std::string& wkt) {
  auto ctx = geos::context();
  GEOSWKTReader* reader = GEOSWKTReader_create_r(ctx);
  GEOSGeometry* g = GEOSWKTReader_read_r(ctx, reader, wkt.c_str());
  GEOSWKTReader_destroy_r(ctx, reader);
  return Polygon(checked(g, "cannot read the shape text"));
}

std::string Polygon::toWkt() const {
  auto ctx = geos::context();
  GEOSWKTWriter* writer = GEOSWKTWriter_create_r(ctx);
  GEOSWKTWriter_setTrim_r(ctx, writer, 1);
  char* text = GEOSWKTWriter_write_r(ctx, writer, geometry_.get());
  GEOSWKTWriter_destroy_r(ctx, writer);
  if (!text) geos::fail("cannot write the shape text");
  std::string out(text);
  GEOSFree_r(ctx, text);
  return out;
}

bool Polygon::isEmpty() const { return GEOSisEmpty_r(geos::context(), geometry_.get()) == 1; }

bool Polygon::isValid() const { return GEOSisValid_r(geos::context(), geometry_.get()) == 1; }

double Polygon::area() const {
  double a = 0;
  if (!GEOSArea_r(geos::context(), geometry_.get(), &a)) geos::fail("cannot measure the area");
  return a;
}

double Polygon::length() const {
  double l = 0;
  if (!GEOSLength_r(geos::context(), geometry_.get(), &l)) geos::fail("cannot measure the boundary length");
  return l;
}

double Polygon::distance(const Polygon& other) const {
  if (isEmpty() || other.isEmpty()) throw HostError("cannot measure a distance to an empty shape");
  double d = 0;
  if (!GEOSDistance_r(geos::context(), geometry_.get(), other.geometry_.get(), &d))
    geos::fail("cannot measure the distance between two shapes");
  return d;
}

bool Polygon::intersects(const Polygon& other) const {
  char r = GEOSIntersects_r(geos::context(), geometry_.get(), other.geometry_.get());
  if (r == 2) geos::fail("cannot test whether two shapes intersect");
  return r == 1;
}

Polygon Polygon::buffer(double distance) const {
  // Sixteen segments per quarter circle keep rounded corners within 0.5 % of
  // the true arc, close enough for areas while staying cheap.
  return Polygon(checked(GEOSBuffer_r(geos::context(), geometry_.get(), distance, 16), "cannot buffer the shape"));
}

int Polygon::ringCount() const {
  auto ctx = geos::context();
  const GEOSGeometry* g = geometry_.get();
  if (GEOSisEmpty_r(ctx, g)) return 0;
  int parts = GEOSGetNumGeometries_r(ctx, g);
  int rings = 0;
  for (int i = 0; i < parts; ++i) {
    const GEOSGeometry* part = GEOSGetGeometryN_r(ctx, g, i);
    if (GEOSGeomTypeId_r(ctx, part) != GEOS_POLYGON || GEOSisEmpty_r(ctx, part)) continue;
    rings += 1 + GEOSGetNumInteriorRings_r(ctx, part);
  }
  return rings;
}

std::vector<Polygon> Polygon::exteriorParts() const {
  auto ctx = geos::context();
  const GEOSGeometry* g = geometry_.get();
  std::vector<Polygon> parts;
  if (GEOSisEmpty_r(ctx, g)) return parts;
  int n = GEOSGetNumGeometries_r(ctx, g);
  for (int i = 0; i < n; ++i) {
    const GEOSGeometry* part = GEOSGetGeometryN_r(ctx, g, i);
    if (GEOSGeomTypeId_r(ctx, part) != GEOS_POLYGON || GEOSisEmpty_r(ctx, part)) continue;
    parts.emplace_back(checked(GEOSGeom_clone_r(ctx, part), "cannot copy a shape part"));
  }
  return parts;
}

Polygon::Box Polygon::bounds() const {
  Box box;
  if (isEmpty()) return box;
  auto ctx = geos::context();
  if (!GEOSGeom_getXMin_r(ctx, geometry_.get(), &box.minX) || !GEOSGeom_getYMin_r(ctx, geometry_.get(), &box.minY) ||
      !GEOSGeom_getXMax_r(ctx, geometry_.get(), &box.maxX) || !GEOSGeom_getYMax_r(ctx, geometry_.get(), &box.maxY))
    geos::fail("cannot read the bounds of a shape");
  return box;
}

std::vector<Polygon::Ring> Polygon::rings() const {
  auto ctx = geos::context();
  const GEOSGeometry* g = geometry_.get();
  std::vector<Ring> out;
  if (GEOSisEmpty_r(ctx, g)) return out;
  auto read = [&](const GEOSGeometry* ring) {
    const GEOSCoordSequence* seq = GEOSGeom_getCoordSeq_r(ctx, ring);
    unsigned int size = 0;
    if (!seq || !GEOSCoordSeq_getSize_r(ctx, seq, &size)) geos::fail("cannot read the vertices of a ring");
    Ring r(size);
    for (unsigned int i = 0; i < size; ++i)
      if (!GEOSCoordSeq_getXY_r(ctx, seq, i, &r[i].first, &r[i].second)) geos::fail("cannot read a vertex");
    out.push_back(std::move(r));
  };
  int parts = GEOSGetNumGeometries_r(ctx, g);
  for (int i = 0; i < parts; ++i) {
    const GEOSGeometry* part = GEOSGetGeometryN_r(ctx, g, i);
    if (GEOSGeomTypeId_r(ctx, part) != GEOS_POLYGON || GEOSisEmpty_r(ctx, part)) continue;
    read(GEOSGetExteriorRing_r(ctx, part));
    int holes = GEOSGetNumInteriorRings_r(ctx, part);
    for (int h = 0; h < holes; ++h) read(GEOSGetInteriorRingN_r(ctx, part, h));
  }
  return out;
}

std::pair<Polygon::Ring::value_type, Polygon::Ring::value_type> Polygon::nearestPoints(const Polygon& other) const {
  if (isEmpty() || other.isEmpty()) throw HostError("cannot measure a distance to an empty shape");
  auto ctx = geos::context();
  GEOSCoordSequence* seq = GEOSNearestPoints_r(ctx, geometry_.get(), other.geometry_.get());
  if (!seq) geos::fail("cannot find the nearest points of two shapes");
  std::pair<Ring::value_type, Ring::value_type> out;
  const bool read = GEOSCoordSeq_getXY_r(ctx, seq, 0, &out.first.first, &out.first.second) &&
                    GEOSCoordSeq_getXY_r(ctx, seq, 1, &out.second.first, &out.second.second);
  GEOSCoordSeq_destroy_r(ctx, seq);
  if (!read) geos::fail("cannot read the nearest points of two shapes");
  return out;
}

}  // namespace quilta
