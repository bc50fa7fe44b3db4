#pragma once
// What every fuzz target shares: a check that stops the run with a message
// when a property fails, and a private scratch folder for targets that go
// through files.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace quilta::fuzz {

[[noreturn]] inline void fail(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, condition);
  std::abort();
}

#define QUILTA_FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : ::quilta::fuzz::fail(#condition, __FILE__, __LINE__))

// A folder of its own under the temporary folder ($TMPDIR), made on first use
// and removed when the process ends normally.
inline const std::filesystem::path& scratchDir() {
  struct Dir {
    std::filesystem::path path;
    Dir() {
      std::string pattern = (std::filesystem::temp_directory_path() / "quilta-fuzz-XXXXXX").string();
      if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
      }
      path = pattern;
    }
    ~Dir() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  };
  static const Dir dir;
  return dir.path;
}

}  // namespace quilta::fuzz
