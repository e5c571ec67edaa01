// The shipped package in the real engine: it loads, binds to the engine's
// kernel, and offers the SortingMultiplexer model with its tables; the
// entry points answer as the engine expects.
#include <dlfcn.h>

#include <cstring>

#include "daxo_definitions.h"
#include "daxo_package.h"
#include "daxo_property_value.h"
#include "engine_test_support.h"

namespace velquor::test {
namespace {

class SortingMultiplexerPackage : public EngineTest {};

TEST_F(SortingMultiplexerPackage, LoadsAndOffersItsModelWithResolvedTables) {
  ASSERT_TRUE(engine.LoadPackage(VELQUOR_SORTING_MULTIPLEXER_PCK));
  const auto models = engine.Models();
  ASSERT_EQ(models.size(), 1u);
  EXPECT_EQ(models[0].name, "SortingMultiplexer");
  EXPECT_EQ(models[0].version, "1.4.0");
  EXPECT_EQ(models[0].package, "velquor_sorting_multiplexer");

  const DAXOComponentDefinition& d = *models[0].definition;
  EXPECT_EQ(d.maxInstances, 0u);
  EXPECT_EQ(d.priority, 128);
  EXPECT_EQ(d.kind, static_cast<DAXOUInt32>(DAXO::Threaded));
  EXPECT_TRUE(d.threaded);
  // The -1 counts were resolved to the rows before each table's zero row.
  EXPECT_EQ(d.nbInputs, 0u);
  EXPECT_EQ(d.nbActions, 0u);
  ASSERT_EQ(d.nbOutputs, 2u);
  EXPECT_STREQ(d.outputs[0].name, "end_of_file");
  EXPECT_EQ(d.outputs[0].type.value, DAXO::Integer64);
  EXPECT_EQ(d.outputs[0].size, 1);
  EXPECT_STREQ(d.outputs[1].name, "output");
  EXPECT_EQ(d.outputs[1].type.value, DAXO::AnyType);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(d.outputs[i].fifoSize, 16);
    EXPECT_EQ(d.outputs[i].subsampling, 1);
    EXPECT_NE(d.outputs[i].shareable, 0);
  }

  struct Row {
    const char* name;
    long value;
    bool modifiableAfterStart;
  };
  const Row rows[] = {{"nb_inputs", 1, false},
                      {"buffer_packet_count", 100, false},
                      {"vector_max_size", 1, true},
                      {"vector_max_latency", 100000, true},
                      {"flush_delay", 500000, true}};
  ASSERT_EQ(d.nbProperties, 6u);
  for (int i = 0; i < 5; ++i) {
    const DAXOPropertyDefinition& p = d.properties[i];
    SCOPED_TRACE(rows[i].name);
    EXPECT_STREQ(p.name, rows[i].name);
    ASSERT_NE(p.value, nullptr);
    EXPECT_EQ(p.value->type, DAXO::PropertyTypeInteger);
    EXPECT_EQ(p.value->value.integer, rows[i].value);
    EXPECT_EQ(p.canBeModifiedAfterStart, rows[i].modifiableAfterStart);
    EXPECT_FALSE(p.needs2BeInitialized);
    EXPECT_FALSE(p.readOnly);
    EXPECT_TRUE(p.locked);
    EXPECT_EQ(p.unit, nullptr);
  }
  // The exact reading rule, fixed while running (its default, off, is what
  // the multiplexer suite's live-rule tests rely on).
  EXPECT_STREQ(d.properties[5].name, "exact_order");
  EXPECT_NE(d.properties[5].value, nullptr);
  EXPECT_FALSE(d.properties[5].canBeModifiedAfterStart);
}

TEST_F(SortingMultiplexerPackage, EntryPointsAnswerAsTheEngineExpects) {
  ASSERT_TRUE(engine.LoadPackage(VELQUOR_SORTING_MULTIPLEXER_PCK));
  void* handle = dlopen(VELQUOR_SORTING_MULTIPLEXER_PCK, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(handle, nullptr);
  auto init = reinterpret_cast<int (*)(void*, int)>(dlsym(handle, "DAXOPckInit"));
  auto get =
      reinterpret_cast<int (*)(const char*, void**, int)>(dlsym(handle, "DAXOGetModulesDefStruct"));
  ASSERT_NE(init, nullptr);
  ASSERT_NE(get, nullptr);

  EXPECT_EQ(init(kernel(), DAXO::PckInterfaceVersion - 1), 0);
  EXPECT_EQ(init(kernel(), DAXO::PckInterfaceVersion), 4) << "a bound package stays bound";

  EXPECT_EQ(get(nullptr, nullptr, 0), 1);
  EXPECT_EQ(get("NoSuchGroup", nullptr, 0), -1);
  void* table[8] = {};
  EXPECT_EQ(get("NoSuchGroup", table, 8), 0);
  EXPECT_EQ(get("DAXOComponent", table, 0), 0);
  EXPECT_EQ(table[0], nullptr) << "capacity 0 writes nothing";
  ASSERT_EQ(get("DAXOComponent", table, 8), 1);
  EXPECT_EQ(table[0], engine.Models()[0].definition);
  EXPECT_EQ(table[1], nullptr);
  dlclose(handle);
}

}  // namespace
}  // namespace velquor::test
