#include "map/Palette.h"

#include <algorithm>
#include <cmath>

namespace quilta::map {
namespace {

constexpr Rgb kQualitative[kQualitativeColours] = {
    {0x1f, 0x78, 0xb4},  // blue
    {0xff, 0x7f, 0x00},  // orange
    {0x33, 0xa0, 0x2c},  // green
    {0xe3, 0x1a, 0x1c},  // red
    {0x6a, 0x3d, 0x9a},  // purple
    {0xff, 0xd9, 0x2f},  // yellow
    {0xb1, 0x59, 0x28},  // brown
    {0xf7, 0x81, 0xbf},  // pink
    {0x17, 0xbe, 0xcf},  // cyan
    {0xb2, 0xdf, 0x8a},  // light green
    {0xa6, 0xce, 0xe3},  // light blue
    {0xca, 0xb2, 0xd6},  // lavender
};

// Yellow through green to dark blue: light enough at the low end to stand
// apart from the dark high end, never grey.
constexpr Rgb kRamp[] = {
    {0xed, 0xf8, 0xb1}, {0xc7, 0xe9, 0xb4}, {0x7f, 0xcd, 0xbb}, {0x41, 0xb6, 0xc4},
    {0x1d, 0x91, 0xc0}, {0x22, 0x5e, 0xa8}, {0x25, 0x34, 0x94}, {0x08, 0x1d, 0x58},
};

constexpr Rgb kLayerColours[] = {
    {0x9c, 0xc5, 0x8a}, {0xe8, 0xc1, 0x7a}, {0x8f, 0xb8, 0xd8}, {0xd8, 0x9a, 0x9a}, {0xb9, 0xa6, 0xd6},
};

std::uint8_t mix(std::uint8_t a, std::uint8_t b, double t) {
  return static_cast<std::uint8_t>(std::lround(a + (b - a) * t));
}

}  // namespace

Symbol qualitativeSymbol(std::size_t index) {
  const auto round = (index / kQualitativeColours) % kPatterns;
  return Symbol{kQualitative[index % kQualitativeColours], static_cast<FillPattern>(round)};
}

std::vector<Rgb> sequentialColours(int classes) {
  constexpr std::size_t anchors = std::size(kRamp);
  const int n = std::max(classes, 1);
  std::vector<Rgb> out;
  out.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    // Even steps along the ramp; a single class takes its middle.
    const double at = n == 1 ? 0.5 * (anchors - 1) : static_cast<double>(i) * (anchors - 1) / (n - 1);
    const auto lo = std::min(static_cast<std::size_t>(at), anchors - 2);
    const double t = at - static_cast<double>(lo);
    const Rgb& a = kRamp[lo];
    const Rgb& b = kRamp[lo + 1];
    out.push_back(Rgb{mix(a.r, b.r, t), mix(a.g, b.g, t), mix(a.b, b.b, t)});
  }
  return out;
}

Rgb layerColour(std::size_t index) { return kLayerColours[index % std::size(kLayerColours)]; }

}  // namespace quilta::map
