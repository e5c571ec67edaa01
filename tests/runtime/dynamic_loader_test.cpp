// Loading libraries and symbols; finding the file that holds a symbol.
#include <dlfcn.h>

#include "daxo_dynamic_loader.h"
#include "daxo_system.h"
#include "runtime_test_support.h"

// The executable's own definition of the library's hook (exported), which
// a library loaded without deep binding would reach instead of its own.
extern "C" __attribute__((visibility("default"))) int daxo_test_lib_hook() {
  return 2;
}

namespace {

using daxo_test::Str;
using IntFunction = int (*)();

TEST(DAXODynamicLoader, LoadsALibraryAndItsSymbols) {
  DAXODynamicLoader loader;
  ASSERT_TRUE(loader.Open(DAXO_TEST_LIB)) << Str(loader.GetErrorMessage());
  EXPECT_TRUE(loader.IsOpen());
  auto answer = reinterpret_cast<IntFunction>(loader.LoadSymbol("daxo_test_lib_answer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(Str(DAXO::GetSymbolFilePath(reinterpret_cast<void*>(answer))), DAXO_TEST_LIB);

  EXPECT_EQ(loader.LoadSymbol("no_such_symbol"), nullptr);
  EXPECT_NE(Str(loader.GetErrorMessage()).find("no_such_symbol"), std::string::npos);
  EXPECT_TRUE(loader.Close());
  EXPECT_FALSE(loader.IsOpen());
  EXPECT_TRUE(loader.Close());  // nothing open
  EXPECT_EQ(loader.LoadSymbol("daxo_test_lib_answer"), nullptr);

  // System libraries load by their bare name.
  ASSERT_TRUE(loader.Open("libm.so.6")) << Str(loader.GetErrorMessage());
  auto cosine = reinterpret_cast<double (*)(double)>(loader.LoadSymbol("cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_EQ(cosine(0.0), 1.0);
}

TEST(DAXODynamicLoader, LibrarySymbolsTakePrecedenceOverTheProcess) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizer builds load without deep binding";
#endif
  DAXODynamicLoader loader;
  ASSERT_TRUE(loader.Open(DAXO_TEST_LIB));
  auto callsHook = reinterpret_cast<IntFunction>(loader.LoadSymbol("daxo_test_lib_calls_hook"));
  ASSERT_NE(callsHook, nullptr);
  EXPECT_EQ(callsHook(), 1);
  loader.Close();
}

TEST(DAXODynamicLoader, GlobalVisibilityOnlyWhenAsked) {
  DAXODynamicLoader loader;
  ASSERT_TRUE(loader.Open(DAXO_TEST_LIB, false));
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "daxo_test_lib_answer"), nullptr);
  ASSERT_TRUE(loader.Close());
  ASSERT_TRUE(loader.Open(DAXO_TEST_LIB, true));
  EXPECT_NE(dlsym(RTLD_DEFAULT, "daxo_test_lib_answer"), nullptr);
  loader.Close();
}

TEST(DAXODynamicLoader, FailedLoadTellsWhy) {
  DAXODynamicLoader loader;
  EXPECT_FALSE(loader.Open("libdaxo_does_not_exist.so"));
  EXPECT_FALSE(loader.IsOpen());
  EXPECT_NE(Str(loader.GetErrorMessage()).find("libdaxo_does_not_exist.so"), std::string::npos);
  EXPECT_FALSE(loader.Open(nullptr));
  EXPECT_FALSE(loader.GetErrorMessage() == "");
}

TEST(DAXOSystemSymbols, FindsTheFileHoldingAnAddressAndNoRuntimeRootWithoutAnEngine) {
  // Asked of libc itself: sanitizer runtimes interpose their own printf.
  void* libc = dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD);
  ASSERT_NE(libc, nullptr);
  void* printfAddress = dlsym(libc, "printf");
  dlclose(libc);
  ASSERT_NE(printfAddress, nullptr);
  EXPECT_NE(Str(DAXO::GetSymbolFilePath(printfAddress)).find("libc.so"), std::string::npos);
  EXPECT_EQ(Str(DAXO::GetSymbolFilePath(nullptr)), "");
  EXPECT_EQ(Str(DAXO::GetRuntimeRootDirectory()), "") << "without the engine library";
}

}  // namespace
