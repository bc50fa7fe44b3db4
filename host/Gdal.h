#pragma once
// Start-up of the vector data library for the host layer. Private to host/.

#include <string>

namespace quilta::gdal {

// Registers the drivers and routes the library's messages away from the
// console (they reach users through HostError). Safe to call repeatedly.
void init();

// The library's last error message, or `fallback` when it has none.
std::string lastError(const std::string& fallback);

}  // namespace quilta::gdal
