// The package entry points, seen as the engine sees them: a built package
// loaded with dlopen. Kernels here are distinct dummy addresses: binding only
// stores the pointer and nothing in these paths calls the kernel.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "daxo_definitions.h"
#include "daxo_dynamic_loader.h"
#include "daxo_kernel.h"
#include "daxo_package.h"
#include "test_pck_probe.h"
// Shared with the runtime tests: ThreadGroup.
#include "../runtime/runtime_test_support.h"

namespace {

constexpr int kInterface = 0x80538;

void* DummyKernel(int n) {
  return reinterpret_cast<void*>(0x1000 * (n + 1));
}

struct Package {
  using Init = int (*)(void*, int);
  using GetDefs = int (*)(const char*, void**, int);

  explicit Package(const char* path) {
    // Never closed: the package's registry lives as long as the process.
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(handle, nullptr) << dlerror();
    if (handle == nullptr) return;
    init = reinterpret_cast<Init>(dlsym(handle, "DAXOPckInit"));
    get = reinterpret_cast<GetDefs>(dlsym(handle, "DAXOGetModulesDefStruct"));
  }

  DAXOTestPackageProbe* Probe() const {
    void* entry = nullptr;
    EXPECT_EQ(get("DAXOTestProbe", &entry, 1), 1);
    return static_cast<DAXOTestPackageProbe*>(entry);
  }

  Init init = nullptr;
  GetDefs get = nullptr;
};

const char* Tag(void* userArgument) {
  return static_cast<const DAXOComponentDefinition*>(userArgument)->name;
}

TEST(DAXOPckInit, RefusesAWrongVersionThenBindsTheFirstKernelOnly) {
  Package package(DAXO_TEST_PCK);
  ASSERT_NE(package.init, nullptr);
  DAXOTestPackageProbe* probe = package.Probe();
  ASSERT_NE(probe, nullptr);
  ASSERT_EQ(probe->boundKernel(), nullptr);

  // The bound kernel and the count of registry initialisations.
  auto state = [probe] { return std::pair(probe->boundKernel(), probe->registeringCalls); };
  EXPECT_EQ(package.init(DummyKernel(1), kInterface - 1), 0);
  EXPECT_EQ(package.init(nullptr, kInterface), 0);
  EXPECT_EQ(state(), (std::pair<void*, int>(nullptr, 0)));
  EXPECT_EQ(package.init(DummyKernel(1), kInterface), 4);
  EXPECT_EQ(state(), std::pair(DummyKernel(1), 1));
  EXPECT_EQ(package.init(DummyKernel(2), kInterface), 4);
  EXPECT_EQ(state(), std::pair(DummyKernel(1), 1));
}

TEST(DAXOPckInit, ConcurrentCallsBindOneKernelAndInitializeOnce) {
  Package package(DAXO_TEST_PCK_CONCURRENT);
  ASSERT_NE(package.init, nullptr);
  constexpr int kThreads = 8;
  std::vector<int> results(kThreads, -1);
  daxo_test::ThreadGroup(kThreads, [&](int i) {
    results[i] = package.init(DummyKernel(i), kInterface);
  }).Join();

  for (int result : results) EXPECT_EQ(result, 4);
  DAXOTestPackageProbe* probe = package.Probe();
  EXPECT_EQ(probe->registeringCalls, 1);
  std::set<void*> offered;
  for (int i = 0; i < kThreads; ++i) offered.insert(DummyKernel(i));
  EXPECT_TRUE(offered.count(probe->boundKernel()));
}

TEST(DAXOGetModulesDefStruct, CountsAndFetchesTheDeclaredModels) {
  Package package(DAXO_TEST_PCK);
  ASSERT_NE(package.get, nullptr);
  EXPECT_EQ(package.get(nullptr, nullptr, 0), 3);
  EXPECT_EQ(package.get("DAXOComponent", nullptr, 0), 2);
  EXPECT_EQ(package.get("NoSuchGroup", nullptr, 0), -1);

  void* const sentinel = reinterpret_cast<void*>(0x5);
  std::vector<void*> table(8, sentinel);
  ASSERT_EQ(package.get("DAXOComponent", table.data(), 8), 2);
  EXPECT_EQ(std::string(Tag(table[0])) + "," + Tag(table[1]), "model-a,model-b");
  EXPECT_EQ(table[2], sentinel);

  std::vector<void*> untouched(2, sentinel);
  EXPECT_EQ(package.get("DAXOComponent", untouched.data(), 0), 0);
  EXPECT_EQ(package.get("DAXOComponent", untouched.data(), -1), 0);
  EXPECT_EQ(package.get("NoSuchGroup", untouched.data(), 2), 0);
  EXPECT_EQ(untouched[0], sentinel);
  ASSERT_EQ(package.get("DAXOComponent", untouched.data(), 1), 1);
  EXPECT_STREQ(Tag(untouched[0]), "model-a");
  EXPECT_EQ(untouched[1], sentinel);

  EXPECT_EQ(package.get(nullptr, table.data(), 8), 3);
  // An oversized capacity is no promise of room to allocate.
  EXPECT_EQ(package.get("DAXOComponent", table.data(), INT_MAX), 2);
}

TEST(DAXOModuleDeclaration, KeepsTheModelTagsInTheLibraryFile) {
  std::ifstream file(DAXO_TEST_PCK, std::ios::binary);
  ASSERT_TRUE(file);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_NE(bytes.find("$!DAXO_MODULE!DAXOComponent!TestModelA!$!1.0.0!$"), std::string::npos);
  EXPECT_NE(bytes.find("$!DAXO_MODULE!DAXOComponent!TestModelB!$!2.3.1!$"), std::string::npos);
}

// The calls below run the entry objects linked into this test, with this
// process's own registry and kernel binding.
class ForwardPckInitToLibrary : public ::testing::Test {
 protected:
  void TearDown() override { DAXOPrivate::kernel = nullptr; }
};

TEST_F(ForwardPckInitToLibrary, ReportsEachFailure) {
  // Without a bound kernel there is nothing to forward: the package refuses.
  const struct {
    const char* library;
    const char* report;
    int result;
  } cases[] = {
      {nullptr, "External : DAXO::ForwardPckInitToLibrary: Dynamic library is not loaded",
       0x7FFFFFFF},
      {"libm.so.6",
       "DAXO::ForwardPckInitToLibrary: Failed to load 'DAXOPckInit' from the dynamic library",
       0x7FFFFFFF},
      {DAXO_TEST_PCK_FORWARD, "DAXO::ForwardPckInitToLibrary: DAXOPckInit call failed", 0},
  };
  for (const auto& c : cases) {
    DAXODynamicLoader loader;
    ASSERT_TRUE(c.library == nullptr || loader.Open(c.library));
    int result = -1;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(DAXO::ForwardPckInitToLibrary(loader, &result));
    EXPECT_NE(testing::internal::GetCapturedStderr().find(c.report), std::string::npos) << c.report;
    EXPECT_EQ(result, c.result);
  }
}

TEST_F(ForwardPckInitToLibrary, BindsTheOtherPackageToThisKernel) {
  DAXODynamicLoader loader;
  ASSERT_TRUE(loader.Open(DAXO_TEST_PCK_FORWARD));
  DAXOPrivate::kernel = static_cast<DAXOKernel*>(DummyKernel(7));
  int result = 0;
  EXPECT_TRUE(DAXO::ForwardPckInitToLibrary(loader, &result));
  EXPECT_EQ(result, 4);
  EXPECT_TRUE(DAXO::ForwardPckInitToLibrary(loader, nullptr));
  Package package(DAXO_TEST_PCK_FORWARD);
  EXPECT_EQ(package.Probe()->boundKernel(), DummyKernel(7));
}

int throwsLeft = 0;
void ThrowWhileAsked(void*) {
  if (throwsLeft > 0) {
    --throwsLeft;
    throw 3;
  }
}

TEST(DAXOPckInitInProcess, FailedInitializationLeavesThePackageUnboundAndUnlocked) {
  DAXOModuleManagement::Uninitialize();
  new DAXOModuleDefinition("thrower", "G", nullptr, nullptr, ThrowWhileAsked);
  throwsLeft = 1;
  EXPECT_THROW(DAXOPckInit(DummyKernel(3), kInterface), int);
  EXPECT_EQ(DAXOPrivate::kernel, nullptr);
  // Would deadlock if the failed call had kept the mutex.
  EXPECT_EQ(DAXOPckInit(DummyKernel(3), kInterface), 4);
  EXPECT_EQ(DAXOPrivate::kernel, DummyKernel(3));
  DAXOPrivate::kernel = nullptr;
  DAXOModuleManagement::Uninitialize();

  DAXO::Exit();  // no kernel bound: nothing to do
  EXPECT_EQ(DAXOPrivate::kernel, nullptr);
}

}  // namespace
