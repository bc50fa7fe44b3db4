#pragma once
// The one exception type of the system: a host operation that failed (I/O, a
// refused schema change, a broken contract). It is caught only at the edges: an
// operation's error trap, the command line's main, a desktop slot.

#include <stdexcept>
#include <string>

namespace quilta {

class HostError : public std::runtime_error {
 public:
  explicit HostError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace quilta
