#pragma once
// Names for the temporary files a writer makes beside what it replaces or
// creates (a rewritten attribute table, a new shapefile before it is
// complete), and the removal of those that killed writers left behind.

#include <filesystem>
#include <string>

namespace quilta {

// A fresh name for temporary files of this process: ".quilta-PID-N", to which
// the caller adds its extension. Short whatever the name of what it stands
// for, hidden, and unique within the process.
std::string temporaryName();

// Removes the files of `folder` named by temporaryName() for a process that no
// longer runs: what writers killed before they could finish left there.
void removeAbandonedTemporaries(const std::filesystem::path& folder);

}  // namespace quilta
