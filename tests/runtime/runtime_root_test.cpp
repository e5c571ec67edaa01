// The runtime root is the folder of the engine library. This executable
// is linked with a stand-in "libvelquor.so" holding daxo_init.
#include <gtest/gtest.h>

#include <string>

#include "daxo_system.h"

extern "C" int daxo_init();

namespace {

TEST(DAXOSystemRuntimeRoot, IsTheFolderOfTheEngineLibrary) {
  EXPECT_EQ(daxo_init(), 0);  // keeps the link to the stand-in
  EXPECT_EQ(std::string(static_cast<const char*>(DAXO::GetRuntimeRootDirectory())),
            DAXO_FAKE_ENGINE_DIR);
  // The runtime unloads what it loaded: the library stays usable for us.
  EXPECT_EQ(daxo_init(), 0);
}

}  // namespace
