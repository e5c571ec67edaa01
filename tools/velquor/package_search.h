// Where the tool looks for package files (*.pck): the folders named in
// VELQUOR_PACKAGE_PATH (colon-separated, searched first), then the packages
// it was built with. The tool that runs from the build tree (the binary the
// build wrote) takes the build tree's packages folder; any other copy is an
// installed one and takes lib/velquor/packages of the tree it was installed
// in, found from its own file, so an install works wherever its prefix is
// and never mixes in the packages of the tree it was built in.
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
