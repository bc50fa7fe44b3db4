#include "ResultPrinter.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <vector>

#include "results/ResultWindows.h"
#include "session/NumberText.h"

namespace quilta::cli {
namespace {

// The length of the well-formed UTF-8 sequence at `at` (no overlong forms, no
// surrogates, nothing beyond U+10FFFF), or 0 when there is none.
std::size_t utf8SequenceLength(std::string_view s, std::size_t at) {
  const auto byte = [&](std::size_t k) { return at + k < s.size() ? static_cast<unsigned char>(s[at + k]) : 0u; };
  const unsigned b0 = byte(0);
  const auto continuation = [&](std::size_t k, unsigned lo = 0x80, unsigned hi = 0xBF) {
    const unsigned b = byte(k);
    return at + k < s.size() && b >= lo && b <= hi;
  };
  if (b0 < 0x80) return 1;
  if (b0 >= 0xC2 && b0 <= 0xDF) return continuation(1) ? 2 : 0;
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    const unsigned lo = b0 == 0xE0 ? 0xA0 : 0x80, hi = b0 == 0xED ? 0x9F : 0xBF;
    return continuation(1, lo, hi) && continuation(2) ? 3 : 0;
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    const unsigned lo = b0 == 0xF0 ? 0x90 : 0x80, hi = b0 == 0xF4 ? 0x8F : 0xBF;
    return continuation(1, lo, hi) && continuation(2) && continuation(3) ? 4 : 0;
  }
  return 0;
}

// Width on a terminal: one column per UTF-8 character.
std::size_t columnsOf(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string padded(const std::string& text, std::size_t width, bool right) {
  const std::size_t w = columnsOf(text);
  const std::string fill(width > w ? width - w : 0, ' ');
  return right ? fill + text : text + fill;
}

// Window texts end lines with CR LF; a terminal wants LF.
std::string terminalLines(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The warning text a window shows beside its values, if any.
const TextBox* warningOf(const ResultWindow& window) {
  const auto* form = dynamic_cast<const frmForm*>(&window);
  return form && form->txtArtefact.visible && !form->txtArtefact.text.empty() ? &form->txtArtefact : nullptr;
}

}  // namespace

void printTable(std::ostream& out, const ResultWindow& window) {
  out << window.caption << "\n" << window.lblLayerName.caption << window.txtLayername.text << "\n\n";

  const ListView& list = window.lstViewClass;
  const std::size_t columns = list.columns.size();
  std::vector<std::size_t> widths(columns, 0);
  for (std::size_t c = 0; c < columns; ++c) widths[c] = columnsOf(list.columns[c]);
  for (const auto& row : list.rows)
    for (std::size_t c = 0; c < columns && c < row.size(); ++c) widths[c] = std::max(widths[c], columnsOf(row[c]));
  // The class column reads left to right, the value columns line up on the right.
  auto printRow = [&](const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t c = 0; c < columns; ++c) {
      const std::string cell = c < cells.size() ? cells[c] : std::string();
      if (c) line += "  ";
      line += padded(cell, widths[c], c > 0);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << "\n";
  };
  out << window.lblClassLevel.caption << "\n";
  printRow(list.columns);
  for (const auto& row : list.rows) printRow(row);

  const auto values = window.landscapeValues();
  if (!values.empty()) {
    out << "\n" << window.lblLandscapeLevel.caption << "\n";
    std::size_t labelWidth = 0;
    for (const auto& v : values) labelWidth = std::max(labelWidth, columnsOf(v.label));
    for (const auto& v : values) {
      if (v.label.empty()) {
        // An information text without a label of its own.
        if (!v.box->text.empty()) out << terminalLines(v.box->text) << "\n";
        continue;
      }
      std::string line = padded(v.label, labelWidth, false) + "  " + v.box->text;
      if (!v.unit.empty()) line += " " + v.unit;
      out << line << "\n";
    }
  }
  if (const TextBox* warning = warningOf(window)) out << "\n" << terminalLines(warning->text) << "\n";
  out << "\n";
}

void printJson(std::ostream& out, const ResultWindow& window) {
  std::string json = "{\"window\":" + jsonString(window.name()) + ",\"caption\":" + jsonString(window.caption) +
                     ",\"layer\":" + jsonString(window.txtLayername.text) + ",\"columns\":[";
  const ListView& list = window.lstViewClass;
  for (std::size_t c = 0; c < list.columns.size(); ++c) json += (c ? "," : "") + jsonString(list.columns[c]);
  json += "],\"rows\":[";
  for (std::size_t r = 0; r < list.rows.size(); ++r) {
    json += r ? ",[" : "[";
    // As many cells as the list has columns, like the class report.
    for (std::size_t c = 0; c < std::max<std::size_t>(list.columns.size(), 1); ++c)
      json += (c ? "," : "") + jsonString(c < list.rows[r].size() ? list.rows[r][c] : std::string());
    json += "]";
  }
  json += "],\"landscape\":[";
  const auto values = window.landscapeValues();
  for (std::size_t i = 0; i < values.size(); ++i) {
    const auto& v = values[i];
    json += (i ? ",{" : "{") + std::string("\"control\":") + jsonString(v.control) +
            ",\"label\":" + jsonString(v.label) + ",\"unit\":" + jsonString(v.unit) +
            ",\"text\":" + jsonString(v.box->text) + ",\"value\":" + jsonNumber(v.box->text) + "}";
  }
  const TextBox* warning = warningOf(window);
  json += "],\"warning\":" + (warning ? jsonString(warning->text) : std::string("null")) + "}";
  out << json << "\n";
}

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    if (static_cast<unsigned char>(ch) >= 0x80) {
      // JSON is UTF-8: a byte that starts no well-formed sequence (a text
      // read in the wrong code page) becomes U+FFFD, never passed on raw.
      if (const std::size_t n = utf8SequenceLength(text, i)) {
        out.append(text.substr(i, n));
        i += n - 1;
      } else {
        out += "\ufffd";
      }
      continue;
    }
    switch (ch) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(ch) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(ch)));
          out += escaped;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

std::string jsonNumber(const std::string& shown) {
  const std::optional<double> value = text::parse(shown);
  if (!value) return "null";
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, *value);
  return std::string(buf, res.ptr);
}

}  // namespace quilta::cli
