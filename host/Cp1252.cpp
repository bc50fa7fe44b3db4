#include "host/Cp1252.h"

#include <array>
#include <optional>

namespace quilta {
namespace {

// Code points of bytes 0x80..0x9F. The five bytes Windows-1252 leaves
// undefined map to the C1 control with the same number, so that any byte read
// from a table is written back unchanged.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::string cp1252ToUtf8(std::string_view in) {
  std::string out;
  out.reserve(in.size() + in.size() / 4);
  for (char ch : in) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x80) {
      out.push_back(ch);
    } else if (b < 0xA0) {
      appendUtf8(out, kCp1252High[b - 0x80]);
    } else {
      appendUtf8(out, b);
    }
  }
  return out;
}

namespace {

// Decodes one UTF-8 character at `pos`; returns nullopt (and consumes one byte)
// for a malformed sequence.
std::optional<char32_t> nextUtf8(std::string_view s, std::size_t& pos) {
  const auto b0 = static_cast<unsigned char>(s[pos]);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  int extra = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1F, minimum = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0F, minimum = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07, minimum = 0x10000;
  } else {
    ++pos;
    return std::nullopt;
  }
  if (pos + static_cast<std::size_t>(extra) >= s.size()) {
    ++pos;
    return std::nullopt;
  }
  for (int i = 1; i <= extra; ++i) {
    const auto b = static_cast<unsigned char>(s[pos + static_cast<std::size_t>(i)]);
    if ((b & 0xC0) != 0x80) {
      ++pos;
      return std::nullopt;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return std::nullopt;
  }
  pos += static_cast<std::size_t>(extra) + 1;
  return cp;
}

}  // namespace

void utf8ToCp1252(std::string_view in, std::string& out) {
  out.clear();
  std::size_t pos = 0;
  while (pos < in.size()) {
    const auto b = static_cast<unsigned char>(in[pos]);
    if (b < 0x80) {
      out.push_back(in[pos++]);
      continue;
    }
    const std::optional<char32_t> cp = nextUtf8(in, pos);
    char byte = '?';
    if (cp) {
      if (*cp >= 0xA0 && *cp <= 0xFF) {
        byte = static_cast<char>(*cp);
      } else {
        for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
          if (kCp1252High[i] == *cp) {
            byte = static_cast<char>(0x80 + i);
            break;
          }
        }
      }
    }
    out.push_back(byte);
  }
}

std::string utf8ToCp1252(std::string_view text) {
  std::string out;
  utf8ToCp1252(text, out);
  return out;
}

}  // namespace quilta
