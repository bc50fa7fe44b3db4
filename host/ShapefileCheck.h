#pragma once
// Checks of the shape files of a shapefile (.shp and its index .shx) before
// anything is read from them or written beside them, so that a damaged file is
// refused with what is wrong instead of being measured as if it were sound.
// The vector data library reads the shapes afterwards; these checks only look
// at what it would accept silently.

#include <cstdint>
#include <filesystem>

namespace quilta::shapefile {

// Checks the headers of `shp` and its index `shx`: file codes, versions,
// declared file lengths against the files' sizes, a known shape type that both
// declare alike, and that the index lists `records` features (the attribute
// table's record count). Throws HostError naming the file and what is wrong.
void checkHeaders(const std::filesystem::path& shp, const std::filesystem::path& shx, std::int64_t records);

// True when the header of `shp` declares polygons (with or without Z or M).
bool declaresPolygons(const std::filesystem::path& shp);

// Checks every record the index lists: it lies inside the file, carries its
// number and length, has the header's shape type or none (a polygon file
// holds polygons only), has as many parts and points as its length allows,
// and every vertex has finite coordinates. Throws HostError naming the file,
// the feature (its 0-based identifier) and what is wrong.
void checkPolygonRecords(const std::filesystem::path& shp, const std::filesystem::path& shx);

}  // namespace quilta::shapefile
