#pragma once
// quilta metrics: the landscape metric catalogue of a layer as a long table.

namespace quilta::cli {

// Runs `quilta metrics ...`; argv[0] is "metrics". Returns the exit status:
// 0 the table was written, 1 the input was refused or could not be read or
// the table not written, 2 usage error.
int runMetrics(int argc, char** argv);

}  // namespace quilta::cli
