#pragma once
// Windows-1252, the code page of attribute tables without a code page file
// and of the text reports.

#include <string>
#include <string_view>

namespace quilta {

std::string cp1252ToUtf8(std::string_view bytes);
// Characters Windows-1252 lacks (and malformed UTF-8) become '?'.
std::string utf8ToCp1252(std::string_view text);
// The same into `out`, reusing its storage.
void utf8ToCp1252(std::string_view text, std::string& out);

}  // namespace quilta
