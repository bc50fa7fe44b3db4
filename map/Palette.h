#pragma once
// The colours of thematic maps: a qualitative palette for categories (twelve
// distinct colours, then the same colours again under a hatching pattern), a
// sequential palette for graduated classes (light for low values, dark for
// high ones), and the grey of "no value".

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quilta::map {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// How a fill is drawn: the colour alone, or the colour with hatching over it.
enum class FillPattern { Solid, Diagonal, BackDiagonal, Cross };

struct Symbol {
  Rgb fill;
  FillPattern pattern = FillPattern::Solid;
  friend bool operator==(const Symbol&, const Symbol&) = default;
};

// Number of distinct colours of the qualitative palette.
inline constexpr std::size_t kQualitativeColours = 12;
// Number of patterns the qualitative palette cycles through.
inline constexpr std::size_t kPatterns = 4;

// The symbol of category `index` (0-based): colour index mod 12, solid for
// the first twelve, then one pattern per further round of twelve; after 48
// categories the symbols repeat.
Symbol qualitativeSymbol(std::size_t index);

// `classes` colours from light to dark along one sequential ramp (at least
// one; the ramp's end colours are always used).
std::vector<Rgb> sequentialColours(int classes);

// The fill of patches without a value (-999 or an empty field).
inline constexpr Rgb kNoValueGrey{0xbd, 0xbd, 0xbd};

// The fill of a layer drawn in one colour: one colour per layer, by the order
// in which layers joined the map.
Rgb layerColour(std::size_t index);

}  // namespace quilta::map
