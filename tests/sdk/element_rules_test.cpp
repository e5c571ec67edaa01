// Creating inputs, outputs and actions: the name rules, a name the engine
// already knows, the special properties by reader type, and a re-declaration
// that inserts an element between two kept ones.
#include <sstream>
#include <string>
#include <vector>

#include "daxo_action.h"
#include "daxo_io.h"
#include "sdk_test_support.h"

namespace velquor::test {
namespace {

DAXOInputDefinition g_inputs[] = {
    {"in", 0, &DAXO::FilterInteger32, DAXO::FifoReader, 1},
    {},
};
DAXOOutputDefinition g_outputs[] = {
    {"out", 0, DAXOTypeInfo(DAXO::Integer32), 1, 4, 1, 0},
    {},
};
void Nothing(DAXOModule*, int) {}
DAXOActionDefinition g_actions[] = {
    {"act", new DAXOActionFunction{&Nothing, nullptr}, true},
    {},
};
DAXOPropertyDefinition g_properties[] = {
    {"names", new DAXOPropertyValue(""), nullptr, false, false, false, false},
    {},
};

/// Declares one input per word of its "names" property, in that order.
class Lanes : public DAXOComponent {
 public:
  Lanes(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  void Dynamic() override {
    DAXOString names;
    Get(*Property("names"), names);
    std::istringstream words{std::string(static_cast<const char*>(names))};
    for (std::string word; words >> word;) NewInput(g_inputs[0], word.c_str());
  }
  void Core() override { DieEvent().Wait(1000); }
};

class Idle : public DAXOComponent {
 public:
  Idle(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  void Core() override { DieEvent().Wait(1000); }
};

class ElementRules : public PropertyTest {
 protected:
  ElementRules() {
    lanes.nbInputs = 0;  // the table serves Dynamic only
    lanes.nbProperties = DAXOComponentDefinition::CountUntilZeroRow;
    lanes.properties = g_properties;
    EXPECT_TRUE(engine.AddModel(lanes));
    EXPECT_TRUE(engine.AddModel(idle));
  }
  static std::string InputNames(DAXOModule& m) {
    std::string names;
    for (int i = 0; i < m.NbInputs(); ++i) names += std::string(m.Input(i).ShortName()) + " ";
    return names;
  }

  DAXOComponentDefinition lanes = Model<Lanes>("Lanes", true, g_inputs, nullptr, DAXO::Threaded);
  DAXOComponentDefinition idle = Model<Idle>("Idle", true, nullptr, g_outputs, DAXO::Threaded);
};

enum class Kind { Input, Output, Action };
struct NameCase {
  Kind kind;
  bool onComponent;  // DAXOComponent's creation call, else DAXOModule's
  const char* name;
  bool accepted;
};

class ElementNames : public ElementRules, public ::testing::WithParamInterface<NameCase> {};

TEST_P(ElementNames, FollowTheirKindsRule) {
  const NameCase& c = GetParam();
  TestModule module("m");
  DAXOComponent* component = nullptr;
  if (c.onComponent) {
    ASSERT_TRUE(engine.CreateComponent("Idle", "c"));
    component = engine.Component("c");
  }
  DAXOModule& owner = component != nullptr ? static_cast<DAXOModule&>(*component)
                                           : static_cast<DAXOModule&>(module);
  const std::string prefix = std::string(component != nullptr ? "component c" : "module m");
  auto create = [&] {
    switch (c.kind) {
      case Kind::Input:
        return component != nullptr ? (void)component->NewInput(g_inputs[0], c.name)
                                    : (void)module.NewInput(g_inputs[0], c.name);
      case Kind::Output:
        return component != nullptr ? (void)component->NewOutput(g_outputs[0], c.name)
                                    : (void)module.NewOutput(g_outputs[0], c.name);
      case Kind::Action:
        return (void)owner.NewAction(g_actions[0], c.name);
    }
  };
  const int before = owner.NbInputs() + owner.NbOutputs() + owner.NbActions();
  if (c.accepted) {
    reports->Clear();
    EXPECT_EQ(Thrown(create), 0);
    EXPECT_FALSE(ErrorReported());
    EXPECT_EQ(owner.NbInputs() + owner.NbOutputs() + owner.NbActions(), before + 1);
    return;
  }
  const char* what = c.kind == Kind::Input ? "input" : c.kind == Kind::Output ? "output" : "action";
  ExpectError(create,
              prefix + ": Trying to create an " + what + " with an invalid name: " + c.name);
  EXPECT_EQ(owner.NbInputs() + owner.NbOutputs() + owner.NbActions(), before);
}

INSTANTIATE_TEST_SUITE_P(Table, ElementNames,
                         ::testing::Values(NameCase{Kind::Input, false, "9lives", false},
                                           NameCase{Kind::Input, false, "a-b", false},
                                           NameCase{Kind::Input, true, "a.b", false},
                                           NameCase{Kind::Input, true, "in_2", true},
                                           NameCase{Kind::Action, false, "_x", false},
                                           NameCase{Kind::Action, false, "go2", true},
                                           // A module's output may carry dots and colons (the
                                           // engine's own objects), a component's may not.
                                           NameCase{Kind::Output, false, "a.b:c", true},
                                           NameCase{Kind::Output, false, "1a", false},
                                           NameCase{Kind::Output, true, "a.b", false},
                                           NameCase{Kind::Output, true, "a:b", false},
                                           NameCase{Kind::Output, true, "a_b9", true}));

// A name the engine already knows is refused and leaves nothing behind:
// not the element, not its special properties, not its registration.
TEST_F(ElementRules, ANameTheEngineKnowsIsRefusedAndLeavesTheListsUnchanged) {
  TestModule m("m");
  int other = 0;
  for (const char* name : {"m.taken", "m.busy", "m.held"}) {
    ASSERT_TRUE(kernel()->RegisterSymbol(name, DAXOSymbolKind::Object, &other));
  }
  m.NewInput(g_inputs[0], "first");

  ExpectError([&] { m.NewInput(g_inputs[0], "taken"); },
              "module m: Can't create input m.taken. The symbol already exists.");
  ExpectError([&] { m.NewOutput(g_outputs[0], "busy"); },
              "module m: Can't create output m.busy. The symbol already exists.");
  ExpectError([&] { m.NewAction(g_actions[0], "held"); },
              "module m: Can't create action m.held. The symbol already exists.");

  EXPECT_EQ(InputNames(m), "first ");
  EXPECT_EQ(m.NbOutputs(), 0);
  EXPECT_EQ(m.NbActions(), 0);
  EXPECT_FALSE(m.HasProperty("taken.subsampling"));
  EXPECT_FALSE(m.HasProperty("busy.fifosize"));
  EXPECT_EQ(engine.FindSymbol("m.taken", DAXOSymbolKind::Object), &other) << "still the engine's";
  EXPECT_EQ(engine.FindSymbol("m.busy.fifosize", DAXOSymbolKind::Property), nullptr);
  // The refused names are free again once the engine lets them go.
  kernel()->UnregisterSymbol("m.taken");
  EXPECT_STREQ(m.NewInput(g_inputs[0], "taken").Name(), "m.taken");
  EXPECT_TRUE(m.HasProperty("taken.subsampling"));

  // The engine hears of a created output once it is whole, never of a
  // refused one.
  EXPECT_TRUE(engine.OutputNotices().empty());
  kernel()->UnregisterSymbol("m.busy");
  m.NewOutput(g_outputs[0], "busy");
  EXPECT_EQ(engine.OutputNotices(), std::vector<std::string>{"m.busy"});
}

// Only the FIFO-family reader types can be switched, so only they have the
// ".readerType" property.
TEST_F(ElementRules, OnlyFifoFamilyInputsHaveAReaderTypeProperty) {
  TestModule m("m");
  for (int type = DAXO::FifoReader; type <= DAXO::SamplingReader; ++type) {
    DAXOInputDefinition definition{"in", 0, &DAXO::FilterInteger32, type, 1};
    const std::string name = "in" + std::to_string(type);
    m.NewInput(definition, name.c_str());
    EXPECT_TRUE(m.HasProperty((name + ".subsampling").c_str())) << type;
    EXPECT_EQ(m.HasProperty((name + ".readerType").c_str()), type <= DAXO::LastOrNextReader)
        << type;
  }
}

TEST_F(ElementRules, ARedeclarationKeepsTheSameInputsAndInsertsOrDropsTheOthers) {
  ASSERT_TRUE(engine.CreateComponent("Idle", "w"));
  ASSERT_TRUE(engine.CreateComponent("Lanes", "l"));
  auto* l = static_cast<Lanes*>(engine.Component("l"));
  l->Set(*l->Property("names"), DAXOString("A C"));
  ASSERT_EQ(InputNames(*l), "A C ");
  ASSERT_TRUE(engine.Connect("w.out", "l.A"));
  ASSERT_TRUE(engine.Connect("w.out", "l.C"));
  DAXOInput* a = &l->Input(0);
  DAXOInput* c = &l->Input(1);

  l->Set(*l->Property("names"), DAXOString("A B C"));
  EXPECT_EQ(InputNames(*l), "A B C ");
  EXPECT_EQ(&l->Input(0), a);
  EXPECT_EQ(&l->Input(2), c);
  EXPECT_TRUE(a->IsConnected());
  EXPECT_TRUE(c->IsConnected());
  EXPECT_FALSE(l->Input(1).IsConnected());
  EXPECT_NE(engine.FindSymbol("l.B", DAXOSymbolKind::Input), nullptr);

  l->Set(*l->Property("names"), DAXOString("A C"));
  EXPECT_EQ(InputNames(*l), "A C ");
  EXPECT_EQ(&l->Input(0), a);
  EXPECT_EQ(&l->Input(1), c);
  EXPECT_TRUE(c->IsConnected());
  EXPECT_EQ(engine.FindSymbol("l.B", DAXOSymbolKind::Input), nullptr);
  EXPECT_EQ(engine.FindSymbol("l.B.subsampling", DAXOSymbolKind::Property), nullptr);
}

}  // namespace
}  // namespace velquor::test
