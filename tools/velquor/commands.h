// The tool's commands. Each runs on the calling (main) thread, prints its
// messages on standard error and returns the process exit code
// (console.h: 0 success, 1 bad input or component error, 2 usage error,
// 130 interrupted).
#pragma once

#include <string>
#include <vector>

namespace velquor::tool {

struct MergeOptions {
  std::string output;  // "-": standard output
  std::vector<std::string> inputs;
  // Offline defaults: a deep reordering window, large output samples, an
  // hour of latency (capture times span far more than a live stream's), and a
  // short wait once every input has ended.
  long bufferCount = 8192;
  long vectorMaxSize = 4096;
  long vectorMaxLatency = 3600000000L;
  long flushDelay = 1000;
  bool quiet = false;
  bool strict = false;
  bool verbose = false;
  // A capture cut short in its last packet: merge the whole packets before
  // the cut (and report it) rather than fail.
  bool salvageTruncated = false;
  std::string statsJson;
};

int Merge(const MergeOptions& options);
int RunScript(const std::string& path, bool verbose);
/// `what`: empty (every package), a package file or name, or a model name.
int Inspect(const std::string& what);

}  // namespace velquor::tool
