// Where the tool looks for package files (*.pck): the folders named in
// VELQUOR_PACKAGE_PATH (colon-separated, searched first), the build tree's
// packages folder, the install tree's, and lib/velquor/packages beside the
// folder of the running executable (a relocated install).
//
// Threading: plain functions; they read the environment and the file system.
#pragma once

#include <string>
#include <vector>

namespace velquor::tool {

/// The folders to search, in order, without duplicates or missing folders.
std::vector<std::string> PackageFolders();
/// The first `fileName` found in `folders`; empty when none.
std::string FindPackage(const std::string& fileName, const std::vector<std::string>& folders);
/// Every package file in `folders`, the first of each file name only, in
/// folder order and by name within a folder.
std::vector<std::string> AllPackages(const std::vector<std::string>& folders);
/// "a:b:c" for messages.
std::string JoinFolders(const std::vector<std::string>& folders);

}  // namespace velquor::tool
