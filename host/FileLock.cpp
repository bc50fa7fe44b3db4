#include "host/FileLock.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace quilta {

std::string writeLockHolder(const std::filesystem::path& path, long long byte) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  char device[32];
  std::snprintf(device, sizeof device, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    if (line.find("->") != std::string::npos) continue;  // a process waiting for a lock holds none
    std::istringstream fields(line);
    std::string id, kind, advisory, access, pid, file, start, end;
    fields >> id >> kind >> advisory >> access >> pid >> file >> start >> end;
    if (access != "WRITE" || file != device || pid == std::to_string(getpid())) continue;
    const long long from = std::atoll(start.c_str());
    const long long to = end == "EOF" ? INT64_MAX : std::atoll(end.c_str());
    if (byte < from || byte > to) continue;
    if (pid == "-1") return "another program";
    std::ifstream commFile("/proc/" + pid + "/comm");
    std::string comm;
    std::getline(commFile, comm);
    return "process " + pid + (comm.empty() ? "" : " (" + comm + ")");
  }
  return {};
}

}  // namespace quilta
