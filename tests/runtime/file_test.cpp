// Paths (DAXOFile), folder functions, folder listing and file lockers.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "daxo_file.h"
#include "daxo_system.h"
#include "runtime_test_support.h"

namespace {

using daxo_test::Str;

// A fresh folder that is also the working directory.
class InTempFolder : public daxo_test::InScratchFolder {
 protected:
  void Touch(const std::string& name) const { ASSERT_TRUE(std::ofstream(Path(name))); }
};

class DAXOFileTest : public InTempFolder {};
class DAXOSystemTest : public InTempFolder {};
class DAXOFolderBrowserTest : public InTempFolder {};
class DAXOFileLockerTest : public InTempFolder {};

TEST(DAXOFile, SplitsNameExtensionAndParent) {
  struct Case {
    const char* path;
    const char* name;
    const char* extension;
    const char* parent;
  };
  // clang-format off
  const Case cases[] = {
      {"a/b/c.txt", "c.txt", "txt", "a/b"}, {"/a/archive.tar.gz", "archive.tar.gz", "gz", "/a"},
      {"/top", "top", "", "/"},             {"dir/sub/", "sub", "", "dir"},
      {"a//b", "b", "", "a"},               {".profile", ".profile", "", ""},
      {"name.", "name.", "", ""},           {"/", "", "", ""},
      {"", "", "", ""},
  };
  // clang-format on
  for (const Case& c : cases) {
    const DAXOFile file(c.path);
    EXPECT_EQ(Str(file.GetName()), c.name) << c.path;
    EXPECT_EQ(Str(file.GetExtension()), c.extension) << c.path;
    EXPECT_EQ(Str(file.GetParentFolder()), c.parent) << c.path;
    EXPECT_EQ(Str(file.GetFullPath()), c.path);
  }
}

TEST(DAXOFile, CompactsPathsByText) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"a/./b//../c", "a/c"}, {"/..", "/"}, {"../x/../../y", "../../y"}, {"a/..", "."},
      {"/a/b/../../..", "/"}, {"", "."},    {"./", "."},                 {"/a/b/", "/a/b"}};
  // clang-format on
  for (const auto& [in, out] : cases) EXPECT_EQ(Str(DAXOFile(in).CompactPath()), out) << in;
  EXPECT_TRUE(DAXOFile("/x").IsAbsolute());
  EXPECT_FALSE(DAXOFile("x/y").IsAbsolute());
}

TEST(DAXOFile, RelativePathClimbsToTheCommonFolder) {
  const DAXOFile file("/a/b/c/d.txt");
  EXPECT_EQ(Str(file.GetRelativePath("/a/b/x")), "../c/d.txt");
  EXPECT_EQ(Str(file.GetRelativePath("/a/b/c/")), "d.txt");
  EXPECT_EQ(Str(file.GetRelativePath("/")), "a/b/c/d.txt");
  EXPECT_EQ(Str(DAXOFile("/a/b").GetRelativePath("/a/b")), ".");
  EXPECT_EQ(Str(DAXOFile("/a").GetRelativePath("/a/b/c")), "../..");
}

TEST_F(DAXOFileTest, RelativePathsResolveAgainstTheWorkingFolder) {
  EXPECT_EQ(Str(DAXOFile("x/../y").GetAbsolutePath()), Path("y"));
  EXPECT_TRUE(DAXOFile("c") == DAXOFile(Path("q/../c").c_str()));
  EXPECT_FALSE(DAXOFile("c") == DAXOFile("d"));
  EXPECT_EQ(Str(DAXOFile(Path("deep/file").c_str()).GetRelativePath(".")), "deep/file");
}

TEST_F(DAXOFileTest, QueriesAndDeletesFilesAndFolders) {
  Touch("f.bin");
  ASSERT_EQ(truncate(Path("f.bin").c_str(), 1234), 0);
  DAXOFile file(Path("f.bin").c_str());
  EXPECT_TRUE(file.Exists() && file.IsReadable() && file.IsWritable() && !file.IsDirectory());
  DAXOFileInfos infos;
  ASSERT_TRUE(file.GetFileInfos(infos));
  EXPECT_EQ(infos.size, 1234);
  EXPECT_TRUE(infos.isRegularFile && !infos.isDirectory);
  const long now = static_cast<long>(time(nullptr)) * 1000000L;
  EXPECT_LT(std::labs(infos.modificationTime - now), 60L * 1000000L);

  ASSERT_EQ(mkdir(Path("d").c_str(), 0777), 0);
  Touch("d/inner");
  DAXOFile folder(Path("d").c_str());
  EXPECT_TRUE(folder.IsDirectory());
  EXPECT_FALSE(folder.Delete());  // not empty
  EXPECT_TRUE(DAXOFile(Path("d/inner").c_str()).Delete() && folder.Delete());
  EXPECT_FALSE(folder.Exists());

  EXPECT_TRUE(file.Delete());
  EXPECT_FALSE(file.Exists() || file.GetFileInfos(infos) || file.Delete());
}

TEST_F(DAXOSystemTest, CreateFolderMakesEveryMissingParent) {
  EXPECT_TRUE(DAXO::CreateFolder(Path("a\\b/c//d/").c_str()));
  EXPECT_TRUE(DAXO::IsFolder(Path("a/b/c/d").c_str()));
  EXPECT_TRUE(DAXO::CreateFolder(Path("a/b").c_str()));  // already there
  EXPECT_TRUE(DAXO::CreateFolder("rel/one") && DAXO::IsFolder(Path("rel/one").c_str()));

  Touch("file");
  EXPECT_FALSE(DAXO::CreateFolder(Path("file/sub").c_str()));
  EXPECT_FALSE(DAXO::CreateFolder("") || DAXO::CreateFolder(nullptr));
  EXPECT_FALSE(DAXO::IsFolder(nullptr) || DAXO::IsFolder(Path("file").c_str()));
}

TEST_F(DAXOSystemTest, WorkingFolderAndDiskSpace) {
  ASSERT_EQ(mkdir(Path("w").c_str(), 0777), 0);
  ASSERT_TRUE(DAXO::SetCurrentFolder(DAXOString("w")));
  EXPECT_EQ(Str(DAXO::GetCurrentFolder()), Path("w"));
  EXPECT_FALSE(DAXO::SetCurrentFolder(DAXOString("does-not-exist")));
  EXPECT_EQ(Str(DAXO::GetCurrentFolder()), Path("w"));

  EXPECT_GT(DAXO::GetDiskFreeSpaceForPath(dir_.c_str()), 0);
  EXPECT_EQ(DAXO::GetDiskFreeSpaceForPath(Path("missing").c_str()), -ENOENT);
  EXPECT_EQ(DAXO::GetDiskFreeSpaceForPath(nullptr), -1);
}

TEST(DAXOSystem, HomeFallsBackToTheTempFolder) {
  EXPECT_EQ(Str(DAXO::GetTempFolder()), "/tmp");
  daxo_test::ScopedEnv env;
  env.Set("HOME", "/home/someone");
  EXPECT_EQ(Str(DAXO::GetUserHomeFolder()), "/home/someone");
  env.Set("HOME", nullptr);
  EXPECT_EQ(Str(DAXO::GetUserHomeFolder()), "/tmp");
}

TEST(DAXOSystem, ProcessMemoryAndBinaryPath) {
  for (void* block : {DAXO::AllocSharedMemory(64), DAXO::AllocSharedMemory(64UL)}) {
    ASSERT_NE(block, nullptr);
    static_cast<char*>(block)[63] = 'x';
    DAXO::DeallocSharedMemory(block);
  }
  EXPECT_EQ(DAXO::AllocSharedMemory(-1), nullptr);
  DAXO::DeallocSharedMemory(nullptr);

  const std::string binary = Str(DAXO::GetCurrentBinaryPath());
  EXPECT_TRUE(binary.ends_with("/file_test")) << binary;
}

TEST(DAXOSystem, PrefaultBacksThePagesOfTheRangeAndKeepsTheirContent) {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t pages = 16;
  void* mapped =
      mmap(nullptr, pages * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapped, MAP_FAILED);
  auto* bytes = static_cast<unsigned char*>(mapped);
  bytes[3 * page + 5] = 42;  // page 3 is backed and written
  const auto resident = [&] {
    std::vector<unsigned char> in(pages);
    EXPECT_EQ(mincore(mapped, pages * page, in.data()), 0);
    std::string map;
    for (unsigned char p : in) map += (p & 1) != 0 ? 'x' : '.';
    return map;
  };
  ASSERT_EQ(resident(), "...x............");
  // From the middle of page 2 to the first byte of page 6: every page
  // holding a byte of it, and no other.
  DAXO::PrefaultMemory(bytes + 2 * page + 100, 4 * page - 99);
  EXPECT_EQ(resident(), "..xxxxx.........");
  EXPECT_EQ(bytes[3 * page + 5], 42);
  EXPECT_EQ(bytes[2 * page + 100], 0);
  // Nothing to do, and never a fault.
  DAXO::PrefaultMemory(nullptr, page);
  DAXO::PrefaultMemory(bytes + 10 * page, 0);
  EXPECT_EQ(resident(), "..xxxxx.........");
  munmap(mapped, pages * page);
}

TEST_F(DAXOFolderBrowserTest, ListsEntriesWithAnOptionalPattern) {
  for (const char* name : {"a.txt", "b.log", "c.txt.bak"}) Touch(name);
  ASSERT_EQ(mkdir(Path("sub").c_str(), 0777), 0);
  ASSERT_EQ(symlink("sub", Path("link").c_str()), 0);

  DAXOFolderBrowser browser;
  ASSERT_TRUE(browser.Open(dir_.c_str()));
  std::vector<std::pair<std::string, bool>> all;
  DAXOString name;
  bool isFolder = false;
  while (browser.GetNextItem(name, &isFolder)) all.emplace_back(Str(name), isFolder);
  std::sort(all.begin(), all.end());
  const std::vector<std::pair<std::string, bool>> expected = {
      {"a.txt", false}, {"b.log", false}, {"c.txt.bak", false}, {"link", true}, {"sub", true}};
  EXPECT_EQ(all, expected);

  ASSERT_TRUE(browser.Open(dir_.c_str(), "\\.txt$"));
  std::vector<std::string> filtered;
  while (browser.GetNextItem(name)) filtered.push_back(Str(name));
  EXPECT_EQ(filtered, std::vector<std::string>{"a.txt"});

  browser.Close();
  EXPECT_FALSE(browser.GetNextItem(name));
  EXPECT_FALSE(browser.Open(dir_.c_str(), "("));  // does not compile
  EXPECT_FALSE(browser.Open(Path("missing").c_str()) || browser.Open(nullptr));
}

// Whether another open file description can take the lock, as another
// process would.
bool OthersCanLock(const std::string& path, bool directory) {
  const int fd = open(path.c_str(), O_RDONLY | (directory ? O_DIRECTORY : 0));
  if (fd < 0) return false;
  const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return free;
}

TEST_F(DAXOFileLockerTest, LockIsExclusiveAgainstOthersAndCountedInside) {
  const std::string path = Path("lockfile");
  DAXOFileLocker first(path.c_str());
  EXPECT_FALSE(first || first.TryUnlock());
  ASSERT_TRUE(first.TryLock());  // creates the file
  EXPECT_TRUE(first);
  EXPECT_EQ(Str(first.GetPath()), path);
  EXPECT_FALSE(OthersCanLock(path, false));

  {
    DAXOFileLocker second("lockfile");  // the same file by a relative name
    ASSERT_TRUE(second.TryLock() && first.TryLock());
    EXPECT_TRUE(first.TryUnlock() && first.TryUnlock());
    EXPECT_FALSE(first);
    EXPECT_FALSE(OthersCanLock(path, false));  // second still holds it
  }                                            // second's destructor gives its reference back
  EXPECT_TRUE(OthersCanLock(path, false));

  // Another holder (as another process would be) keeps every locker out.
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(first.TryLock());
  close(fd);
  EXPECT_TRUE(first.TryLock());
}

TEST_F(DAXOFileLockerTest, DirectoryLockNeedsAnExistingDirectory) {
  DAXOFileLocker missing(Path("nodir").c_str(), true);
  EXPECT_FALSE(missing.TryLock() || DAXOFile(Path("nodir").c_str()).Exists());

  DAXOFileLocker folder(dir_.c_str(), true);
  ASSERT_TRUE(folder.TryLock());
  EXPECT_FALSE(OthersCanLock(dir_, true));
  EXPECT_TRUE(folder.TryUnlock());
  EXPECT_TRUE(OthersCanLock(dir_, true));
}

TEST_F(DAXOFileLockerTest, LockersOnOnePathFromManyThreadsKeepTheCountExact) {
  const std::string path = Path("shared");
  constexpr int kThreads = 4;
  constexpr int kRounds = 300;
  std::atomic<int> failures{0};
  daxo_test::ThreadGroup(kThreads, [&](int) {
    DAXOFileLocker locker(path.c_str());
    for (int i = 0; i < kRounds; ++i) failures += !locker.TryLock() || !locker.TryUnlock();
  }).Join();
  EXPECT_EQ(failures, 0);
  EXPECT_TRUE(OthersCanLock(path, false));  // the last unlock released it
}

}  // namespace
