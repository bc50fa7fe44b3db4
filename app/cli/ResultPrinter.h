#pragma once
// Prints a result window on the command line: as an aligned table for people,
// or as one JSON object per line for programs. Values appear exactly as the
// window shows them.

#include <ostream>
#include <string>
#include <string_view>

namespace quilta {
class ResultWindow;
}

namespace quilta::cli {

// The caption, the layer name, the class rows under their column headers,
// then the landscape values with their labels and units and the warning text
// of the window when it shows one; a blank line ends the window.
void printTable(std::ostream& out, const ResultWindow& window);

// One line:
//   {"window": name, "caption": text, "layer": text, "columns": [text...],
//    "rows": [[text...]...], "landscape": [{"control", "label", "unit",
//    "text", "value"}...], "warning": text or null}
// "value" is the shown text read as a number (locale decimal separator), or
// null when it is not one.
void printJson(std::ostream& out, const ResultWindow& window);

// `text` as a JSON string literal: quotes, backslashes and control characters
// escaped, well-formed UTF-8 passed through, any other byte replaced by
// U+FFFD, so the literal is always valid UTF-8.
std::string jsonString(std::string_view text);
// The number a shown value stands for as a JSON number, or "null".
std::string jsonNumber(const std::string& shown);

}  // namespace quilta::cli
