#include "host/WorkerPool.h"

namespace quilta {

unsigned allCores() { return std::max(1u, std::thread::hardware_concurrency()); }

}  // namespace quilta
