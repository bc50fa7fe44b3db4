#pragma once
// Who holds a lock that keeps writers out of a file, as the system's table of
// file locks tells: shared by the stores that lock files (SQLite's locks on a
// GeoPackage, the lock a shapefile's writer holds on its table).

#include <filesystem>
#include <string>

namespace quilta {

// The process other than this one that holds a write lock (of any kind:
// a byte-range lock, a whole-file lock) covering byte `byte` of `path`, as
// "process 123 (name)", or "another program" when the lock names no process;
// empty when no such lock is listed or the table cannot be read.
std::string writeLockHolder(const std::filesystem::path& path, long long byte);

}  // namespace quilta
