// Component construction from a model definition and the callbacks of the
// standard component properties, in the real engine.
#include "sdk_test_support.h"

namespace velquor::test {
namespace {

class Idle : public DAXOComponent {
 public:
  Idle(const char* name, DAXOComponentDefinition& definition) : DAXOComponent(name, definition) {}
  void Core() override {}
};

DAXOPropertyDefinition g_rows[] = {
    {"nb_inputs", new DAXOPropertyValue(2L), nullptr, false, false, false, true},
    {"mode", new DAXOPropertyValue("fast|slow", 1), nullptr, true, true, false, false},
    {},
};

DAXOComponentDefinition Model(const char* version, DAXOUInt32 maxInstances = 0) {
  DAXOComponentDefinition d = velquor::test::Model<Idle>("Model", true);
  d.version = version;
  d.maxInstances = maxInstances;
  d.nbProperties = DAXOComponentDefinition::CountUntilZeroRow;
  d.properties = g_rows;
  d.priority = 64;
  return d;
}

using ComponentConstruction = PropertyTest;

TEST_F(ComponentConstruction, StandardPropertiesComeBeforeTheDefinitionRows) {
  DAXOComponentDefinition model = Model("1.4.0");
  Idle c("c", model);
  EXPECT_STREQ(c.Kind(), "component");
  EXPECT_EQ(c.State(), DAXO::DeadState);
  EXPECT_TRUE(c.IsThreaded());
  EXPECT_EQ(c.Property("priority")->IntegerValue(), 64);
  EXPECT_TRUE(c.Property("autoStart")->BoolValue());
  EXPECT_EQ(c.Property("componentModelVersion")->StringValue(), "1.4.0");
  EXPECT_EQ(c.Property("primaryThreadID")->IntegerValue(), -1);
  EXPECT_TRUE(c.HasProperty("CPULoad"));
  ASSERT_EQ(c.NbProperties(), 2) << "only the definition's rows are the component's own";
  EXPECT_STREQ(c.Property(0)->Name(), "c.nb_inputs");
  EXPECT_EQ(c.Property(1)->StringValue(), "slow");
  EXPECT_EQ(DAXO::GetStringProperty("c.mode"), "slow");
  ExpectError([&] { c.Property("componentModelVersion")->Set("2.0"); },
              "component c: Failure while trying to set value of property "
              "c.componentModelVersion. This property is read only.");
  EXPECT_EQ(c.GetLocation()->x, -1);
  EXPECT_EQ(c.GetLocation()->z, 0);

  DAXOComponentDefinition unversioned = Model(nullptr);
  Idle u("u", unversioned);
  EXPECT_EQ(u.Property("componentModelVersion")->StringValue(), "");
}

TEST_F(ComponentConstruction, StandardCallbacksApplyTheirValues) {
  DAXOComponentDefinition model = Model("1");
  Idle c("c", model);
  FakeThread thread(0, 0);
  c.AddThread(&thread);
  c.Property("threaded")->Set(false);
  EXPECT_FALSE(c.IsThreaded());

  c.Property("priority")->Set(200L);
  EXPECT_EQ(thread.priority, 200);
  for (long invalid : {300L, 256L, -1L}) {
    ExpectError([&] { c.Property("priority")->Set(invalid); },
                "component c: Invalid priority value. Component's priority should be set between "
                "0 and 255.");
    EXPECT_EQ(c.Property("priority")->IntegerValue(), 128) << invalid;
  }
  EXPECT_EQ(thread.priority, 200) << "an invalid value reaches no thread";

  c.Property("autoStart")->Set(false);
  EXPECT_EQ(c.State() & DAXO::StartAutomaticallyState, 0u);
  c.Property("autoStart")->Set(true);
  EXPECT_NE(c.State() & DAXO::StartAutomaticallyState, 0u);
  c.RemoveThread(&thread);
}

TEST_F(ComponentConstruction, DestructionGivesBackTheInstanceAndComplainsWhenAlive) {
  DAXOComponentDefinition model = Model("1", 3);
  {
    Idle c("c", model);
    c.DAXOModule::Start();  // living, without a main thread
  }
  EXPECT_EQ(model.maxInstances, 4u);
  EXPECT_TRUE(reports->Contains([](const ReportRecord& r) {
    return r.text == "The destructor of component c was called though c is still alive." &&
           r.level == DAXO::Error && r.code == 1 && r.engineFlag;
  }));
  EXPECT_EQ(DAXO::Property("c.mode"), nullptr);
  reports->Clear();
  model.maxInstances = 0xFFFFFFFF;
  { Idle quiet("q", model); }
  EXPECT_EQ(model.maxInstances, 1u);
  EXPECT_FALSE(ErrorReported()) << "a dead component goes quietly";

  // A row the engine refuses ends the construction with the error; the
  // names registered so far are given back.
  int taken = 0;
  ASSERT_TRUE(kernel()->RegisterSymbol("d.mode", DAXOSymbolKind::Property, &taken));
  ExpectError([&] { Idle d("d", model); },
              "component d: Can't create property d.mode. The symbol already exists.");
  EXPECT_EQ(DAXO::Property("d.nb_inputs"), nullptr);
  EXPECT_EQ(DAXO::Property("d.priority"), nullptr);
  kernel()->UnregisterSymbol("d.mode");
}

}  // namespace
}  // namespace velquor::test
