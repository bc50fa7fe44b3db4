#!/usr/bin/env bash
# Builds Quilta with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-sanitize/ and runs every test suite there. Leaks reported inside
# third-party libraries (fontconfig, Qt, GDAL, ...) are suppressed by
# tests/sanitize/lsan.supp; a leak, an invalid access or undefined behaviour in
# Quilta's own code fails the test that meets it.
#   test-sanitized.sh [CTEST ARGUMENTS ...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILTA_WERROR=ON -DQUILTA_SANITIZE=ON >/dev/null
cmake --build build-sanitize -j"$(nproc)"
# detect_leaks stays on; abort_on_error gives a core-like stop that ctest
# reports as a failure. The Python of the QGIS suite is not sanitized, but the
# quilta program it starts is, and inherits these options.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/tests/sanitize/lsan.supp:print_suppressions=0"
ctest --test-dir build-sanitize --output-on-failure "$@"
