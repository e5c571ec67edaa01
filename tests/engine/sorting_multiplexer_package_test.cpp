// The shipped package in the real engine: it loads and offers the
// SortingMultiplexer model, its two outputs and its properties with their
// defaults and whether they may change while it runs.
#include "daxo_definitions.h"
#include "daxo_property_value.h"
#include "engine_test_support.h"

namespace velquor::test {
namespace {

using SortingMultiplexerPackage = EngineTest;

TEST_F(SortingMultiplexerPackage, OffersItsModelWithItsOutputsAndPropertyDefaults) {
  ASSERT_TRUE(engine.LoadPackage(VELQUOR_SORTING_MULTIPLEXER_PCK));
  const auto models = engine.Models();
  ASSERT_EQ(models.size(), 1u);
  EXPECT_EQ(models[0].name, "SortingMultiplexer");
  EXPECT_EQ(models[0].version, "1.4.0");
  EXPECT_EQ(models[0].package, "velquor_sorting_multiplexer");

  const DAXOComponentDefinition& d = *models[0].definition;
  EXPECT_TRUE(d.threaded);
  // Inputs are declared from nb_inputs, not listed.
  EXPECT_EQ(d.nbInputs, 0u);
  ASSERT_EQ(d.nbOutputs, 2u);
  EXPECT_STREQ(d.outputs[0].name, "end_of_file");
  EXPECT_EQ(d.outputs[0].type.value, DAXO::Integer64);
  EXPECT_STREQ(d.outputs[1].name, "output");
  EXPECT_EQ(d.outputs[1].type.value, DAXO::AnyType);

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
    EXPECT_EQ(p.value->value.integer, rows[i].value);
    EXPECT_EQ(p.canBeModifiedAfterStart, rows[i].modifiableAfterStart);
  }
  // The exact reading rule, fixed while running (its default, off, is what
  // the multiplexer suite's live-rule tests rely on).
  EXPECT_STREQ(d.properties[5].name, "exact_order");
  EXPECT_NE(d.properties[5].value, nullptr);
  EXPECT_FALSE(d.properties[5].canBeModifiedAfterStart);
}

}  // namespace
}  // namespace velquor::test
