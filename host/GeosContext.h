#pragma once
// The geometry engine's context, shared by the whole host layer. Private to
// host/: nothing outside this folder includes it.

#include <geos_c.h>

#include <string>

namespace quilta::geos {

GEOSContextHandle_t context();

// Throws HostError naming `what` and the engine's last error message.
[[noreturn]] void fail(const std::string& what);

}  // namespace quilta::geos
