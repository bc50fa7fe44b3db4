#include "host/TemporaryFiles.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace quilta {

std::string temporaryName() {
  static std::atomic<unsigned> counter{0};
  char name[48];
  std::snprintf(name, sizeof name, ".quilta-%ld-%u", static_cast<long>(::getpid()), ++counter);
  return name;
}

void removeAbandonedTemporaries(const std::filesystem::path& folder) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    long pid = 0;
    unsigned n = 0;
    int consumed = 0;
    if (std::sscanf(name.c_str(), ".quilta-%ld-%u.%n", &pid, &n, &consumed) != 2 || consumed == 0) continue;
    if (pid <= 0 || pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    std::error_code ignored;
    std::filesystem::remove(it->path(), ignored);
  }
}

}  // namespace quilta
