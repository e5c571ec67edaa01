// Package folders and package files.
#include "package_search.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <system_error>

namespace velquor::tool {

namespace fs = std::filesystem;

namespace {

bool IsFolder(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

std::string Canonical(const fs::path& path) {
  std::error_code ec;
  const fs::path canonical = fs::canonical(path, ec);
  return ec ? path.string() : canonical.string();
}

}  // namespace

std::vector<std::string> PackageFolders() {
  std::vector<std::string> candidates;
  if (const char* extra = std::getenv("VELQUOR_PACKAGE_PATH")) {
    std::string list = extra;
    std::size_t start = 0;
    while (start <= list.size()) {
      const std::size_t colon = std::min(list.find(':', start), list.size());
      if (colon > start) candidates.push_back(list.substr(start, colon - start));
      start = colon + 1;
    }
  }
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    if (Canonical(self) == Canonical(VELQUOR_BUILD_TOOL_PATH)) {
      candidates.emplace_back(VELQUOR_BUILD_PACKAGE_DIR);
    } else {
      candidates.push_back((self.parent_path() / VELQUOR_TOOL_TO_PACKAGE_DIR).lexically_normal());
    }
  }

  std::vector<std::string> folders;
  std::set<std::string> seen;
  for (const std::string& candidate : candidates) {
    if (!IsFolder(candidate)) continue;
    if (seen.insert(Canonical(candidate)).second) folders.push_back(candidate);
  }
  return folders;
}

std::string FindPackage(const std::string& fileName, const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) {
    const fs::path candidate = fs::path(folder) / fileName;
    std::error_code ec;
    if (fs::is_regular_file(candidate, ec)) return candidate.string();
  }
  return {};
}

std::vector<std::string> AllPackages(const std::vector<std::string>& folders) {
  std::vector<std::string> packages;
  std::set<std::string> names;
  for (const std::string& folder : folders) {
    std::vector<fs::path> here;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code typeError;
      if (it->path().extension() == ".pck" && it->is_regular_file(typeError)) {
        here.push_back(it->path());
      }
    }
    std::sort(here.begin(), here.end());
    for (const fs::path& path : here) {
      if (names.insert(path.filename().string()).second) packages.push_back(path.string());
    }
  }
  return packages;
}

std::string JoinFolders(const std::vector<std::string>& folders) {
  std::string text;
  for (const std::string& folder : folders) text += (text.empty() ? "" : ":") + folder;
  return text.empty() ? "(none)" : text;
}

}  // namespace velquor::tool
