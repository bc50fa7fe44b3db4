#include "host/ShapefileCheck.h"

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "host/HostError.h"

namespace quilta::shapefile {
namespace {

constexpr std::size_t kHeaderSize = 100;
constexpr std::int32_t kFileCode = 9994;
constexpr std::int32_t kVersion = 1000;
constexpr std::int32_t kNullShape = 0;

std::int32_t bigEndian(const unsigned char* p) {
  return static_cast<std::int32_t>((std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                                   (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]});
}
std::int32_t littleEndian(const unsigned char* p) {
  return static_cast<std::int32_t>((std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) |
                                   (std::uint32_t{p[1]} << 8) | std::uint32_t{p[0]});
}
double littleEndianDouble(const unsigned char* p) {
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | p[i];
  double d = 0;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

bool knownShapeType(std::int32_t type) {
  switch (type) {
    case 0: case 1: case 3: case 5: case 8: case 11: case 13: case 15: case 18: case 21: case 23: case 25:
    case 28: case 31: return true;
    default: return false;
  }
}
bool polygonType(std::int32_t type) { return type == 5 || type == 15 || type == 25; }

std::string quoted(const std::filesystem::path& p) { return "\"" + p.string() + "\""; }

struct Header {
  std::int32_t shapeType = 0;
  std::uint64_t declaredBytes = 0;  // the file length the header declares
  std::uint64_t actualBytes = 0;
};

Header readHeader(const std::filesystem::path& path) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) throw HostError("cannot read " + quoted(path) + ": " + ec.message());
  std::ifstream in(path, std::ios::binary);
  std::array<unsigned char, kHeaderSize> h{};
  if (size < kHeaderSize || !in.read(reinterpret_cast<char*>(h.data()), kHeaderSize))
    throw HostError(quoted(path) + " is damaged: it is too short for the header of a shape file");
  if (bigEndian(&h[0]) != kFileCode)
    throw HostError(quoted(path) + " is damaged: its file code is " + std::to_string(bigEndian(&h[0])) +
                    " instead of 9994");
  if (littleEndian(&h[28]) != kVersion)
    throw HostError(quoted(path) + " is damaged: its version is " + std::to_string(littleEndian(&h[28])) +
                    " instead of 1000");
  Header header;
  header.shapeType = littleEndian(&h[32]);
  if (!knownShapeType(header.shapeType))
    throw HostError(quoted(path) + " is damaged: its header declares the unknown shape type " +
                    std::to_string(header.shapeType));
  header.declaredBytes = 2 * static_cast<std::uint64_t>(static_cast<std::uint32_t>(bigEndian(&h[24])));
  header.actualBytes = size;
  if (header.declaredBytes != header.actualBytes)
    throw HostError(quoted(path) + " is damaged: its header declares " + std::to_string(header.declaredBytes) +
                    " bytes but the file has " + std::to_string(header.actualBytes));
  return header;
}

}  // namespace

void checkHeaders(const std::filesystem::path& shp, const std::filesystem::path& shx, std::int64_t records) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(shx, ec)) throw HostError(quoted(shp) + " has no index file (.shx)");
  const Header main = readHeader(shp);
  const Header index = readHeader(shx);
  if (main.shapeType != index.shapeType)
    throw HostError(quoted(shx) + " declares the shape type " + std::to_string(index.shapeType) + " but " +
                    quoted(shp) + " declares " + std::to_string(main.shapeType));
  if ((index.actualBytes - kHeaderSize) % 8 != 0)
    throw HostError(quoted(shx) + " is damaged: its records are not 8 bytes each");
  const auto features = static_cast<std::int64_t>((index.actualBytes - kHeaderSize) / 8);
  if (features != records)
    throw HostError("the shape files and the attribute table disagree: " + quoted(shx) + " lists " +
                    std::to_string(features) + " features but the table has " + std::to_string(records) + " records");
}

bool declaresPolygons(const std::filesystem::path& shp) { return polygonType(readHeader(shp).shapeType); }

void checkPolygonRecords(const std::filesystem::path& shp, const std::filesystem::path& shx) {
  const Header main = readHeader(shp);
  if (!polygonType(main.shapeType)) return;
  std::ifstream index(shx, std::ios::binary);
  std::ifstream file(shp, std::ios::binary);
  std::vector<char> indexBuffer(1 << 16), fileBuffer(1 << 20);
  index.rdbuf()->pubsetbuf(indexBuffer.data(), static_cast<std::streamsize>(indexBuffer.size()));
  file.rdbuf()->pubsetbuf(fileBuffer.data(), static_cast<std::streamsize>(fileBuffer.size()));
  index.seekg(kHeaderSize);
  std::uint64_t position = 0;  // where the shape file's stream stands
  file.seekg(0);
  std::vector<unsigned char> content;
  std::array<unsigned char, 8> entry{};
  for (std::int64_t fid = 0; index.read(reinterpret_cast<char*>(entry.data()), 8); ++fid) {
    auto damaged = [&](const std::string& why) {
      return HostError(quoted(shp) + " is damaged: feature " + std::to_string(fid) + " " + why);
    };
    const std::uint64_t offset = 2 * static_cast<std::uint64_t>(static_cast<std::uint32_t>(bigEndian(&entry[0])));
    const std::uint64_t length = 2 * static_cast<std::uint64_t>(static_cast<std::uint32_t>(bigEndian(&entry[4])));
    if (offset < kHeaderSize || offset + 8 + length > main.actualBytes)
      throw damaged("lies outside the file (the index gives the offset " + std::to_string(offset) + ")");
    if (offset != position) {
      file.seekg(static_cast<std::streamoff>(offset));
      position = offset;
    }
    std::array<unsigned char, 8> recordHeader{};
    content.resize(length);
    if (!file.read(reinterpret_cast<char*>(recordHeader.data()), 8) ||
        !file.read(reinterpret_cast<char*>(content.data()), static_cast<std::streamsize>(length)))
      throw damaged("cannot be read");
    position += 8 + length;
    if (bigEndian(&recordHeader[0]) != fid + 1)
      throw damaged("carries the record number " + std::to_string(bigEndian(&recordHeader[0])));
    if (2 * static_cast<std::uint64_t>(static_cast<std::uint32_t>(bigEndian(&recordHeader[4]))) != length)
      throw damaged("has a length other than the index gives");
    if (length < 4) throw damaged("has no shape type");
    const std::int32_t type = littleEndian(content.data());
    if (type == kNullShape) continue;
    if (type != main.shapeType)
      throw damaged("has the shape type " + std::to_string(type) + " in a file of shape type " +
                    std::to_string(main.shapeType) + " (polygons)");
    if (length < 44) throw damaged("is too short for a polygon");
    const std::int32_t parts = littleEndian(&content[36]);
    const std::int32_t points = littleEndian(&content[40]);
    if (parts < 0 || points < 0 || 44 + 4 * std::uint64_t(parts) + 16 * std::uint64_t(points) > length)
      throw damaged("declares " + std::to_string(parts) + " parts and " + std::to_string(points) +
                    " points, more than its " + std::to_string(length) + " bytes hold");
    const unsigned char* xy = &content[44 + 4 * static_cast<std::size_t>(parts)];
    for (std::int32_t k = 0; k < 2 * points; ++k) {
      if (!std::isfinite(littleEndianDouble(xy + 8 * static_cast<std::size_t>(k))))
        throw damaged("has a vertex whose coordinates are not finite numbers (vertex " + std::to_string(k / 2 + 1) +
                      ")");
    }
  }
}

}  // namespace quilta::shapefile
