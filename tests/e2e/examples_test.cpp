// Every diagram script in examples/ runs with the velquor binary, as the
// README tells a user to run it (from the folder holding examples/), ends by
// itself, and writes each build/ file it names. A renamed property, model or
// sample file breaks an example long before a user finds out.
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "cli_helpers.h"

namespace velquor::test {
namespace {

class Examples : public CliTest {};

/// Every "build/NAME" in `line`, NAME of letters, digits and "_.-".
std::vector<std::string> BuildPaths(const std::string& line) {
  std::vector<std::string> paths;
  const auto nameChar = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '.' || c == '-';
  };
  for (std::size_t at = line.find("build/"); at != std::string::npos;
       at = line.find("build/", at + 1)) {
    std::size_t end = at + 6;
    while (end < line.size() && nameChar(line[end])) ++end;
    if (end > at + 6) paths.push_back(line.substr(at, end - at));
  }
  return paths;
}

TEST_F(Examples, EveryBundledDiagramRunsAndWritesWhatItNames) {
  const fs::path examples = fs::path(VELQUOR_SOURCE_DIR) / "examples";
  fs::create_directory_symlink(examples, dir / "examples");
  fs::create_directories(dir / "build");
  int scripts = 0;
  for (const auto& entry : fs::directory_iterator(examples)) {
    if (entry.path().extension() != ".vq") continue;
    ++scripts;
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    const std::string text = ReadFile(entry.path());
    const Result r = Velquor("run examples/" + name);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("rror"), std::string::npos) << r.err;
    // Each output a line of the script (not a comment) names.
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      if (line.empty() || line[0] == '#') continue;
      for (const std::string& path : BuildPaths(line)) {
        const fs::path written = dir / path;
        EXPECT_TRUE(fs::exists(written) && fs::file_size(written) > 0) << path;
      }
    }
  }
  EXPECT_GE(scripts, 1);
}

}  // namespace
}  // namespace velquor::test
