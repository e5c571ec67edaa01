// Package loading through the engine: every failure reports an error naming
// the file; a real package is bound to the engine's kernel and its models are
// listed; duplicate models keep the first package's.
#include <dlfcn.h>

#include <memory>
#include <string>
#include <utility>

#include "engine_test_pck_probe.h"
#include "engine_test_support.h"

namespace velquor::test {
namespace {

class PackageLoader : public EngineTest {
 protected:
  bool ErrorNames(const std::string& file) {
    return reports->Contains([&](const ReportRecord& r) {
      return r.level == 2 && r.engineFlag && r.text.find(file) != std::string::npos;
    });
  }
};

/// Whether a second engine of the process refuses the package at `path`
/// with an error that says `why`.
bool AnotherEngineRefuses(const char* path, const std::string& why) {
  Engine other(EngineOptions{false, false});
  auto said = std::make_shared<MemoryReportSink>();
  other.AddReportSink(said);
  const bool loaded = other.LoadPackage(path, "copy");
  return !loaded && other.Models().empty() && said->Contains([&](const ReportRecord& r) {
    return r.level == 2 && r.text.find(path) != std::string::npos &&
           r.text.find(why) != std::string::npos;
  });
}

TEST_F(PackageLoader, AFileThatIsNoPackageFailsWithAnErrorNamingIt) {
  const std::pair<const char*, const char*> rows[] = {
      {"/nonexistent/velquor/missing.pck", ""},
      {VELQUOR_TEST_NOT_A_LIBRARY, ""},
      {VELQUOR_TEST_NO_ENTRY_LIB, "DAXOPckInit"},
  };
  for (const auto& [path, alsoSaid] : rows) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(kernel()->RegisterPackage(path, nullptr));
    EXPECT_TRUE(ErrorNames(path));
    EXPECT_TRUE(ReportHas(alsoSaid));
  }
  EXPECT_TRUE(engine.Models().empty());
}

TEST_F(PackageLoader, ARealPackageIsBoundAndListsItsModels) {
  ASSERT_TRUE(engine.LoadPackage(VELQUOR_ENGINE_TEST_PCK));
  VelquorEngineTestProbe* probe = Probe(VELQUOR_ENGINE_TEST_PCK);
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(probe->boundKernel(), static_cast<void*>(kernel()));

  const auto models = engine.Models();
  ASSERT_EQ(models.size(), 3u);
  EXPECT_EQ(models[0].name, "EngineTestModelA");
  EXPECT_EQ(models[0].version, "1.2.0");
  EXPECT_EQ(models[0].package, "engine_test_pck");
  EXPECT_EQ(models[1].name, "EngineTestModelB");
  EXPECT_EQ(models[1].version, "0.9.1");

  // The same name twice is refused; a copy under another name offers only
  // models that are taken, so the first package keeps them.
  EXPECT_FALSE(engine.LoadPackage(VELQUOR_ENGINE_TEST_PCK));
  ASSERT_TRUE(engine.LoadPackage(VELQUOR_ENGINE_TEST_PCK_COPY, "copy"));
  EXPECT_TRUE(ErrorNames(VELQUOR_ENGINE_TEST_PCK_COPY));
  ASSERT_EQ(engine.Models().size(), 3u);
  EXPECT_EQ(engine.Models()[0].package, "engine_test_pck");

  EXPECT_TRUE(kernel()->UnregisterPackage("engine_test_pck"));
  EXPECT_TRUE(engine.Models().empty());
  EXPECT_FALSE(kernel()->UnregisterPackage("engine_test_pck"));
  // The library stays loaded while the engine lives.
  EXPECT_NE(Probe(VELQUOR_ENGINE_TEST_PCK), nullptr);
}

TEST_F(PackageLoader, APackageServesOneEngine) {
  // A package keeps the first kernel that binds it: a second engine of the
  // same process must not believe it has it.
  ASSERT_TRUE(engine.LoadPackage(VELQUOR_ENGINE_TEST_PCK));
  EXPECT_TRUE(AnotherEngineRefuses(VELQUOR_ENGINE_TEST_PCK, "another engine"));
  // The first engine is untouched by the second one's end.
  EXPECT_EQ(engine.Models().size(), 3u);
  VelquorEngineTestProbe* probe = Probe(VELQUOR_ENGINE_TEST_PCK);
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(probe->boundKernel(), static_cast<void*>(kernel()));
}

TEST_F(PackageLoader, APackageKeptInMemoryAfterItsEngineServesNoOtherOne) {
  // Something else of the process keeps the library mapped: its package stays
  // bound to the first engine's kernel, which is gone with that engine.
  void* held = nullptr;
  {
    Engine first(EngineOptions{false, false});
    ASSERT_TRUE(first.LoadPackage(VELQUOR_ENGINE_TEST_PCK_COPY, "copy"));
    held = dlopen(VELQUOR_ENGINE_TEST_PCK_COPY, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(held, nullptr);
  }
  EXPECT_TRUE(AnotherEngineRefuses(VELQUOR_ENGINE_TEST_PCK_COPY, "an engine that is gone"));
  dlclose(held);
  // Unloaded for good: the next engine loads it afresh and binds it.
  Engine third(EngineOptions{false, false});
  EXPECT_TRUE(third.LoadPackage(VELQUOR_ENGINE_TEST_PCK_COPY, "copy"));
  EXPECT_EQ(third.Models().size(), 3u);
}

}  // namespace
}  // namespace velquor::test
