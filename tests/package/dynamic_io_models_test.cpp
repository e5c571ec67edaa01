// Dynamic I/O models: a component whose Dynamic() declares "nb" inputs
// through an input model set, re-run by the SDK on every property change,
// in the real engine (connections, removals, samples); the model set's own
// bookkeeping; the failed-check reports.
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "daxo_component.h"
#include "daxo_dynamic_io_models.h"
#include "daxo_io.h"
#include "sdk_test_support.h"

namespace velquor::test {
namespace {

using DAXO::DynamicInputModel;
using DAXO::DynamicInputModelSet;

/// Declares in_0 .. in_<nb-1> through its model set (in_0 of Float64 when
/// "kind" is 1, Integer32 otherwise; no type name); reads in_0 while living.
class Dyn : public DAXOComponent {
 public:
  Dyn(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}

  void Dynamic() override {
    models.Reset();
    long nb = 0;
    long kind = 0;
    Get(*Property("nb"), nb);
    Get(*Property("kind"), kind);
    if (nb < 1) Error("Number of inputs has to be >= 1");
    for (long i = 0; i < nb; ++i) {
      const DAXOTypeInfoValue type = (i == 0 && kind == 1) ? DAXO::Float64 : DAXO::Integer32;
      models.NewInput(*this, "in_" + std::to_string(i), type, "", DAXO::NeverSkippingReader);
    }
  }
  void Core() override {
    DAXOIOElt* e = StartReading(*models.Inputs().front());
    if (e == nullptr) return;
    values.push_back(*e->Integer32(0));
    if (static_cast<int>(values.size()) >= expected) CommitSuicide();
  }

  DynamicInputModelSet models;
  std::vector<int> values;  // the component thread's until it is dead
  int expected = 0;
};

/// Writes 1 .. count on "out" (Integer32, no type name), then ends.
class Source : public DAXOComponent {
 public:
  Source(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  void Core() override {
    if (written >= count) {
      CommitSuicide();
      return;
    }
    DAXOIOElt* e = StartWriting(Output(0), 10L * (written + 1));
    if (e == nullptr) return;
    *e->Integer32(0) = ++written;
    StopWriting(e);
  }
  int count = 0;
  int written = 0;
};

DAXOPropertyDefinition g_dynProperties[] = {
    {"nb", new DAXOPropertyValue(2L), nullptr, false, false, false, false},
    {"kind", new DAXOPropertyValue(0L), nullptr, false, false, false, false},
    {},
};
DAXOOutputDefinition g_sourceOutputs[] = {
    {"out", 0, DAXOTypeInfo(DAXO::Integer32), 1, 8, 1, 0},
    {},
};

class DynamicInputModels : public PropertyTest {
 protected:
  DynamicInputModels()
      : dynModel(Model<Dyn>("Dyn", true, nullptr, nullptr, DAXO::Threaded)),
        sourceModel(Model<Source>("Source", true, nullptr, g_sourceOutputs, DAXO::Threaded)) {
    dynModel.nbProperties = DAXOComponentDefinition::CountUntilZeroRow;
    dynModel.properties = g_dynProperties;
    EXPECT_TRUE(engine.AddModel(dynModel));
    EXPECT_TRUE(engine.AddModel(sourceModel));
  }

  Dyn* MakeDyn() {
    auto* d = Make<Dyn>("Dyn", "dyn");
    d->CallDynamic();  // the shape the engine would ask for after creation
    return d;
  }
  Source* MakeSource(const std::string& name, int count = 0) {
    auto* s = Make<Source>("Source", name);
    s->count = count;
    return s;
  }
  static std::vector<std::string> InputNames(DAXOComponent& c) {
    std::vector<std::string> names;
    for (int i = 0; i < c.NbInputs(); ++i) names.emplace_back(c.Input(i).ShortName());
    return names;
  }
  bool Removed(const std::string& name) {
    const std::vector<std::string> notices = engine.RemovalNotices();
    return std::find(notices.begin(), notices.end(), name) != notices.end();
  }
  /// Runs `call`; expects it to throw DAXO::ErrorException and to report the
  /// failed check of `operation` at error level, with where it failed.
  template <class F>
  void ExpectAssertion(F call, const std::string& operation, const std::string& condition) {
    ExpectError(call, "External report : [" + std::to_string(getpid()) + "." +
                          std::to_string(DAXO::GetCurrentThreadId()) +
                          "] daxo_dynamic_io_models:*/" + operation + " : " + condition);
  }

  DAXOComponentDefinition dynModel, sourceModel;
};

TEST_F(DynamicInputModels, RaisingAndLoweringTheCountKeepsTheInputsThatStayWithTheirConnections) {
  Dyn* dyn = MakeDyn();
  Source* s0 = MakeSource("s0", 5);
  MakeSource("s1");
  MakeSource("s2");
  ASSERT_EQ(InputNames(*dyn), (std::vector<std::string>{"in_0", "in_1"}));
  // Inputs declared without a type name accept outputs whose type has none.
  ASSERT_TRUE(engine.Connect("s0.out", "dyn.in_0"));
  ASSERT_TRUE(engine.Connect("s1.out", "dyn.in_1"));
  DAXOInput* in0 = &dyn->Input(0);
  DAXOInput* in1 = &dyn->Input(1);
  const char* in0Definition = dyn->models.Model("in_0").Definition().name;

  dyn->Set(*dyn->Property("nb"), 3L);
  ASSERT_EQ(InputNames(*dyn), (std::vector<std::string>{"in_0", "in_1", "in_2"}));
  EXPECT_EQ(&dyn->Input(0), in0);
  EXPECT_EQ(&dyn->Input(1), in1);
  EXPECT_EQ(dyn->models.Model("in_0").Definition().name, in0Definition);
  EXPECT_EQ(in0->ConnectedOutput(), &s0->Output(0));
  EXPECT_TRUE(in1->IsConnected());
  EXPECT_FALSE(dyn->Input(2).IsConnected());
  ASSERT_TRUE(engine.Connect("s2.out", "dyn.in_2"));

  dyn->Set(*dyn->Property("nb"), 1L);
  ASSERT_EQ(InputNames(*dyn), (std::vector<std::string>{"in_0"}));
  EXPECT_EQ(&dyn->Input(0), in0);
  EXPECT_EQ(in0->ConnectedOutput(), &s0->Output(0));
  EXPECT_TRUE(Removed("dyn.in_1"));
  EXPECT_TRUE(Removed("dyn.in_2"));
  // The undeclared models wait, unused, for the next reset; their inputs
  // are gone and are not handed out.
  DynamicInputModelSet& models = dyn->models;
  EXPECT_EQ(models.Size(), 3u);
  EXPECT_EQ(models.usedModelCount(), 1u);
  EXPECT_TRUE(models.Model("in_2").isUnused());
  EXPECT_EQ(dyn->models.Inputs(), (std::vector<DAXOInput*>{in0}));

  dyn->Set(*dyn->Property("nb"), 2L);
  EXPECT_EQ(models.Size(), 2u);
  EXPECT_EQ(&dyn->Input(0), in0);
  EXPECT_NE(dyn->models.Inputs()[1], nullptr);
  EXPECT_FALSE(dyn->Input(1).IsConnected()) << "in_1 was declared anew";

  // The connection kept through all of this still carries samples.
  dyn->expected = 5;
  ASSERT_TRUE(engine.StartDiagram());
  EXPECT_EQ(engine.RunDiagram(kGenerous), RunEnd::AllDead);
  EXPECT_EQ(dyn->values, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(DynamicInputModels, AnotherTypeBuildsANewStateAndANewInput) {
  Dyn* dyn = MakeDyn();
  MakeSource("s0");
  ASSERT_TRUE(engine.Connect("s0.out", "dyn.in_0"));
  DAXOInput* in1 = &dyn->Input(1);
  const char* in1Definition = dyn->models.Model("in_1").Definition().name;

  dyn->Set(*dyn->Property("kind"), 1L);
  DynamicInputModelSet& models = dyn->models;
  EXPECT_EQ(models.Model("in_0").TypeInfoValue(), DAXO::Float64);
  EXPECT_EQ(models.Model("in_0").Definition().typeFilter->maskX, DAXO::Float64);
  EXPECT_FALSE(dyn->Input(0).IsConnected()) << "the Integer32 connection went with the old input";
  EXPECT_FALSE(engine.Connect("s0.out", "dyn.in_0")) << "the new filter is in force";
  EXPECT_EQ(&dyn->Input(1), in1);
  EXPECT_EQ(models.Model("in_1").Definition().name, in1Definition);
  EXPECT_EQ(InputNames(*dyn), (std::vector<std::string>{"in_0", "in_1"}));
}

TEST_F(DynamicInputModels, AFailedDynamicLeavesNoStaleInputBehind) {
  Dyn* dyn = MakeDyn();
  reports->Clear();
  dyn->Set(*dyn->Property("nb"), 0L);
  EXPECT_NE(dyn->State() & DAXO::ErrorState, 0u);
  EXPECT_TRUE(reports->Contains([](const ReportRecord& r) {
    return r.text == "component dyn: Number of inputs has to be >= 1";
  }));
  EXPECT_EQ(dyn->NbInputs(), 0);
  EXPECT_TRUE(dyn->models.Inputs().empty()) << "models of removed inputs hand out nothing";
  EXPECT_EQ(dyn->models.usedModelCount(), 0u);

  dyn->Set(*dyn->Property("nb"), 2L);
  EXPECT_EQ(InputNames(*dyn), (std::vector<std::string>{"in_0", "in_1"}));
  EXPECT_EQ(dyn->models.Size(), 2u);
  EXPECT_EQ(dyn->models.Inputs().size(), 2u);
}

TEST_F(DynamicInputModels, ResetDropsUnusedAndStatelessModelsAndPartitionKeepsFirstAddedOrder) {
  DynamicInputModelSet set;
  for (const char* name : {"a", "b", "c"}) {
    set.getOrAddModel(name) =
        DynamicInputModel(std::make_unique<DynamicInputModel::State>(name, DAXO::Integer32, "", 0));
    set.getOrAddModel(name).setUnused(false);
  }
  set.getOrAddModel("never built");
  EXPECT_EQ(set.Size(), 4u);
  EXPECT_EQ(&set.getOrAddModel("b"), &set.Model("b")) << "found by name, not added again";

  set.Reset();  // drops the stateless model, marks the others unused
  ASSERT_EQ(set.Size(), 3u);
  EXPECT_EQ(set.usedModelCount(), 0u);
  set.Model("c").setUnused(false);
  set.Model("a").setUnused(false);
  set.partitionModels();
  std::vector<std::string> order;
  for (const DynamicInputModel& m : set.Models()) order.push_back(m.ShortName());
  EXPECT_EQ(order, (std::vector<std::string>{"a", "c", "b"}));
  EXPECT_EQ(&set.Model(std::size_t{1}), &set.Model("c"));

  set.Reset();  // b was left undeclared
  EXPECT_FALSE(set.HasModel("b"));
  EXPECT_EQ(set.Size(), 2u);
}

TEST_F(DynamicInputModels, FailedChecksReportWhereAndWhatAndThrow) {
  DynamicInputModelSet set;
  DynamicInputModel& empty = set.getOrAddModel("x");
  ExpectAssertion([&] { (void)empty.isUnused(); }, "isUnused", "Assertion Failed: IsValid()");
  ExpectAssertion([&] { empty.setUnused(true); }, "setUnused", "Assertion Failed: IsValid()");
  ExpectAssertion([&] { (void)empty.ShortName(); }, "ShortName", "Assertion Failed: IsValid()");
  ExpectAssertion([&] { (void)empty.Input(); }, "Input", "Assertion Failed: IsValid()");
  ExpectAssertion([&] { (void)set.Model("x"); }, "Model", "Assertion Failed: it != m_models.end()");

  DynamicInputModel noInput(
      std::make_unique<DynamicInputModel::State>("y", DAXO::Integer32, "", 0));
  ExpectAssertion([&] { (void)noInput.Instance(); }, "Instance",
                  "Assertion Failed: m_input != nullptr");
  EXPECT_EQ(noInput.TypeName(), "");
  EXPECT_EQ(noInput.Definition().typeFilter->nameFilter, nullptr);
}

}  // namespace
}  // namespace velquor::test
