// Properties of a module in the real engine: creation and registration, the
// guarded and direct writes with their checks and messages, typed reads,
// callbacks, re-declaration with the dynamic cursor, and engine lookups; and
// component construction from a model definition with the callbacks of the
// standard component properties.
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "sdk_test_support.h"

namespace velquor::test {
namespace {

using Def = DAXOPropertyDefinition;

const Def kInteger = AnyTimeProperty("x", new DAXOPropertyValue(5L));
const Def kOther = AnyTimeProperty("y", new DAXOPropertyValue(11L));
// name, value, unit, needs2BeInitialized, canBeModifiedAfterStart, readOnly
const Def kReadOnlyBeforeStart{"ro", new DAXOPropertyValue(1L), nullptr, false, false, true};
const Def kLockedEnum = AnyTimeProperty("e", new DAXOPropertyValue("a|b|c", 1), true);
const Def kFreeEnum = AnyTimeProperty("f", new DAXOPropertyValue("a|b|c", 1));
const Def kOneValue = AnyTimeProperty("one", new DAXOPropertyValue("only", 0));
const Def kNoArray = AnyTimeProperty("none", new DAXOPropertyValue(DAXOEnumStruct()));
const Def kText{"s", new DAXOPropertyValue("hello"), nullptr, true, true};
const Def kFile = AnyTimeProperty("file", new DAXOPropertyValue(""), false,
                                  DAXO::PropertySubTypeFile | DAXO::PropertySubTypeMustExist);
const Def kPath = AnyTimeProperty("dir", new DAXOPropertyValue(""), false,
                                  DAXO::PropertySubTypePath | DAXO::PropertySubTypeMustExist);

using ModuleProperties = PropertyTest;

TEST_F(ModuleProperties, StandardPropertiesAreSpecialRegisteredAndGoneWithTheModule) {
  {
    TestModule m("m", true, true);
    EXPECT_STREQ(m.Kind(), "module");
    EXPECT_EQ(m.State(), DAXO::LivingState);
    EXPECT_EQ(m.NbProperties(), 0) << "the built-in properties are not counted";
    for (const char* n : {"processor", "counter", "nbPeriods", "averagePeriod", "minPeriod",
                          "maxPeriod", "contextSwitches", "CPULoad"}) {
      EXPECT_TRUE(m.HasProperty(n)) << n;
    }
    DAXOProperty* processor = DAXO::Property("m.processor");
    ASSERT_NE(processor, nullptr);
    EXPECT_EQ(processor->IntegerValue(), -1);
    EXPECT_EQ(m.Property("nbPeriods")->IntegerValue(), 10);
    EXPECT_STREQ(m.Property("counter")->Name(), "m.counter");

    m.NewProperty(kInteger);
    EXPECT_EQ(m.NbProperties(), 1);
    EXPECT_EQ(m.Property(0), m.Property("x"));
    ExpectError([&] { m.Property(1); }, "Trying to access unknown property #1 of module m");
    EXPECT_TRUE(reports->Contains([](const ReportRecord& r) { return r.engineFlag; }));
    ExpectError([&] { m.Property("nope"); }, "Trying to access unknown property nope of module m");
  }
  EXPECT_EQ(DAXO::Property("m.processor"), nullptr);
  EXPECT_EQ(DAXO::Property("m.x"), nullptr);
  // The names are free again.
  TestModule again("m", true, true);
  EXPECT_NE(DAXO::Property("m.CPULoad"), nullptr);
}

TEST_F(ModuleProperties, ErrorReportsStoresAndThrows) {
  TestModule m("m");
  ExpectError([&] { m.Error("it broke", 4, 9); }, "module m: it broke");
  EXPECT_TRUE(m.State() & DAXO::ErrorState);
  EXPECT_EQ(m.LastErrorCode(), 9);
  EXPECT_STREQ(m.LastErrorMessage(), "it broke");
  m.Start();
  EXPECT_EQ(m.State(), DAXO::LivingState);
}

TEST_F(ModuleProperties, WriteChecksRunInOrder) {
  TestModule m("m");
  DAXOProperty* ro = m.NewProperty(kReadOnlyBeforeStart);
  DAXOProperty* x = m.NewProperty(kInteger);
  const std::string refused = "module m: Failure while trying to set value of property m.";
  // Living: the after-start check comes first.
  ExpectError([&] { ro->Set(2L); }, refused + "ro. This property can't be modified after start.");
  m.Stop();
  ExpectError([&] { ro->Set(2L); }, refused + "ro. This property is read only.");
  EXPECT_FALSE(x->SetMutable(false));
  ExpectError([&] { x->Set(2L); }, refused + "x. This property is not mutable.");
  EXPECT_TRUE(x->SetMutable(true));
  ExpectError([&] { x->Set(true); }, "module m: Can't set boolean value for property m.x");
  ExpectError([&] { x->Set(1.5); }, "module m: Can't set float value for property m.x");
  ExpectError([&] { x->Set("text"); }, "module m: Can't set string value for property m.x");
  ExpectError([&] { x->Set(DAXOEnumStruct()); },
              "module m: Can't set enum values for property m.x");
  EXPECT_EQ(x->IntegerValue(), 5) << "failed writes change nothing";
  x->Set(7);
  EXPECT_EQ(x->IntegerValue(), 7);
  EXPECT_EQ(ro->IntegerValue(), 1);

  // A direct write skips the flag checks, not the kind check.
  m.DirectSet(*ro, 3L);
  EXPECT_EQ(ro->IntegerValue(), 3);
  ExpectError([&] { m.DirectSet(*ro, true); },
              "module m: Can't set boolean value for property m.ro");
}

TEST_F(ModuleProperties, IntegerWritesIntoEnumerationsCheckTheIndex) {
  TestModule m("m");
  DAXOProperty* e = m.NewProperty(kFreeEnum);
  reports->Clear();
  e->Set(7L);
  EXPECT_EQ(e->IntegerValue(), 1) << "an index out of range keeps the selection";
  EXPECT_TRUE(Reported("module m: Index 7 not among possible values for enum property m.f [0..2]"));
  e->Set(-1L);
  EXPECT_EQ(e->IntegerValue(), 1);
  e->Set(2L);
  EXPECT_EQ(e->IntegerValue(), 2);

  DAXOProperty* one = m.NewProperty(kOneValue);
  one->Set(3L);
  EXPECT_TRUE(Reported("module m: Index 3 not among possible values for enum property m.one [0]"));

  DAXOProperty* none = m.NewProperty(kNoArray);
  reports->Clear();
  none->Set(-1L);
  EXPECT_FALSE(ErrorReported()) << "-1 fits an enumeration without values";
  none->Set(4L);
  EXPECT_EQ(none->IntegerValue(), -1);
  EXPECT_TRUE(
      Reported("module m: Index 4 not among possible values for enum property m.none [-1]"));
}

TEST_F(ModuleProperties, StringWritesIntoEnumerationsSelectOrReplace) {
  TestModule m("m");
  DAXOProperty* locked = m.NewProperty(kLockedEnum);
  DAXOProperty* free = m.NewProperty(kFreeEnum);
  locked->Set("3|2|x|y|z");
  EXPECT_EQ(locked->EnumValues().ToString(), "3|2|a|b|c") << "a locked enumeration keeps values";
  free->Set("2|1|x|y");
  EXPECT_EQ(free->EnumValues().ToString(), "2|1|x|y");
  free->Set("x");
  EXPECT_EQ(free->IntegerValue(), 0);
  EXPECT_EQ(free->StringValue(), "x");
  reports->Clear();
  free->Set("nope");
  EXPECT_EQ(free->IntegerValue(), -1);
  EXPECT_EQ(free->StringValue(), "") << "no text for an out-of-range selection";
  EXPECT_TRUE(
      Reported("module m: nope does not match any of the possible properties for property m.f"));
  free->Set(DAXOString("3|0|p|q|r"), 2);
  EXPECT_EQ(free->EnumValues().ToString(), "3|2|p|q|r");
  DAXOArray<DAXOString> values;
  DAXOInt32 selected = 0;
  free->Get(values, selected);
  ASSERT_EQ(values.Count(), 3);
  EXPECT_EQ(values[2], "r");
  EXPECT_EQ(selected, 2);

  DAXOProperty* none = m.NewProperty(kNoArray);
  none->Set("x");
  EXPECT_TRUE(Reported("module m: No possible value for property m.none"));
}

TEST_F(ModuleProperties, DirectStringWritesDifferFromGuardedOnes) {
  TestModule m("m");
  DAXOProperty* locked = m.NewProperty(kLockedEnum);
  m.DirectSet(*locked, DAXOString("2|0|x|y"));
  EXPECT_EQ(locked->EnumValues().ToString(), "2|0|x|y") << "a direct write always replaces";
  reports->Clear();
  m.DirectSet(*locked, DAXOString("zz"));
  EXPECT_EQ(locked->IntegerValue(), 0) << "an unknown text keeps the selection";
  EXPECT_TRUE(Reported("module m: \"zz\" not among possible values for enum property m.e"));

  DAXOProperty* none = m.NewProperty(kNoArray);
  none->AcknowledgePropertyChanged();
  m.DirectSet(*none, DAXOString("x"));
  EXPECT_TRUE(Reported("module m: No possible value for enum property m.none"));
  EXPECT_FALSE(none->PropertyChanged()) << "nothing was written";
  EXPECT_FALSE(none->PropertyChangedEvent().State());
}

TEST_F(ModuleProperties, MustExistPathsAreCheckedButStored) {
  TestModule m("m");
  DAXOProperty* file = m.NewProperty(kFile);
  DAXOProperty* dir = m.NewProperty(kPath);
  const std::string folder = ::testing::TempDir();
  const std::string existing = folder + "/h10_property_file_" + std::to_string(getpid()) + ".txt";
  std::FILE* f = std::fopen(existing.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);

  reports->Clear();
  file->Set("/no/such/file");
  EXPECT_EQ(file->StringValue(), "/no/such/file");
  EXPECT_TRUE(Reported("External : /no/such/file does not exist or is not readable."));
  dir->Set(existing.c_str());
  EXPECT_TRUE(Reported("External : " + existing + " is not a directory."));
  reports->Clear();
  file->Set(existing.c_str());
  dir->Set(folder.c_str());
  file->Set("");
  EXPECT_FALSE(ErrorReported());
  std::filesystem::remove(existing);
}

TEST_F(ModuleProperties, TypedReadsCheckTheKind) {
  TestModule m("m");
  DAXOProperty* e = m.NewProperty(kFreeEnum);
  DAXOProperty* s = m.NewProperty(kText);
  long selected = 0;
  m.Get(*e, selected);
  EXPECT_EQ(selected, 1);
  DAXOString text;
  m.Get(*e, text);
  EXPECT_EQ(text, "b");
  DAXOInt32 narrow = 0;
  e->Get(narrow);
  EXPECT_EQ(narrow, 1);
  bool b;
  double d;
  DAXOEnumStruct en;
  ExpectError([&] { m.Get(*e, b); }, "module m: Can't get boolean value from property m.f");
  ExpectError([&] { m.Get(*e, d); }, "module m: Can't get floating point value from property m.f");
  ExpectError([&] { m.Get(*s, selected); }, "module m: Can't get integer value from property m.s");
  ExpectError([&] { m.Get(*s, en); }, "module m: Can't get enum values from property m.s");
  ExpectError([&] { s->Get(selected); }, "module m: Can't get integer value from property m.s");

  // Reading another module's property answers whether the kinds matched.
  TestModule other("o");
  EXPECT_TRUE(DAXOModule::Get(m, *e, text));
  EXPECT_FALSE(DAXOModule::Get(m, *s, selected));
  EXPECT_TRUE(DAXOModule::Get(m, *s, text));
  EXPECT_EQ(text, "hello");
}

int g_setCalls = 0;
long g_seenByCallback = 0;

TEST_F(ModuleProperties, CallbacksRunAfterTheWriteAndMayReadTheSameModule) {
  TestModule m("m");
  DAXOProperty* s = m.NewProperty(kText);
  DAXOProperty* x = m.NewProperty(kInteger);
  m.NewProperty(kOther);
  g_setCalls = 0;
  x->SetSetCallback([](DAXOProperty& p) {
    ++g_setCalls;
    // The property lock is recursive: the same module's values are readable.
    g_seenByCallback = p.IntegerValue() + p.Owner()->Property("y")->IntegerValue();
  });
  x->AcknowledgePropertyChanged();
  x->Set(4L);
  EXPECT_EQ(g_setCalls, 1);
  EXPECT_EQ(g_seenByCallback, 15);
  EXPECT_TRUE(x->PropertyChanged());
  m.DirectSet(*x, 6L);
  EXPECT_EQ(g_setCalls, 1) << "no callback for a direct write";

  x->SetGetCallback([](DAXOProperty&, void* value) { *static_cast<long*>(value) += 100; });
  long read = 0;
  x->Get(read);
  EXPECT_EQ(read, 106);

  // A throwing callback: the value is stored, the changed flag untouched and
  // the lock released.
  s->SetSetCallback([](DAXOProperty&) { throw 42; });
  s->AcknowledgePropertyChanged();
  EXPECT_EQ(Thrown([&] { s->Set("bye"); }), 42);
  EXPECT_FALSE(s->PropertyChanged());
  DAXOString value;
  std::thread reader([&] { value = s->StringValue(); });
  reader.join();
  EXPECT_EQ(value, "bye");
}

TEST_F(ModuleProperties, BuiltInCallbacksUseTheModuleThreads) {
  TestModule m("m", true, true);
  long load = -1;
  m.Property("CPULoad")->Get(load);
  EXPECT_EQ(load, 0) << "no threads";
  FakeThread a(5, 1234), b(7, 2000);
  m.AddThread(&a);
  m.AddThread(&b);
  m.Property("CPULoad")->Get(load);
  EXPECT_EQ(load, 32);  // (1234 + 2000 + 50) / 100
  long switches = 0;
  m.Property("contextSwitches")->Get(switches);
  EXPECT_EQ(switches, 12);
  m.Property("processor")->Set(3L);
  EXPECT_EQ(a.processor, 3);
  EXPECT_EQ(b.processor, 3);
  m.RemoveThread(&a);
  m.RemoveThread(&b);
}

const Def kA = AnyTimeProperty("a", new DAXOPropertyValue(1L));
const Def kB = AnyTimeProperty("b", new DAXOPropertyValue(2L));
const Def kC = AnyTimeProperty("c", new DAXOPropertyValue(3L));
const Def kD = AnyTimeProperty("d", new DAXOPropertyValue(4L));
// Another text with the same content: a different definition of "c".
const char kOtherCName[] = "c";
const Def kOtherC = AnyTimeProperty(kOtherCName, new DAXOPropertyValue(30L));

TEST_F(ModuleProperties, RedeclarationReusesReplacesAndRemoves) {
  TestModule m("m", true, true);
  DAXOProperty* a = m.NewProperty(kA);
  m.NewProperty(kB);
  DAXOProperty* c = m.NewProperty(kC);
  a->Set(10L);

  m.BeginPropertyRedeclaration();
  EXPECT_FALSE(m.HasProperty("a")) << "not before the cursor yet";
  EXPECT_TRUE(m.HasProperty("CPULoad"));
  EXPECT_EQ(m.NewProperty(kA), a) << "same definition: re-used";
  EXPECT_EQ(a->IntegerValue(), 10) << "a re-used property keeps its value";
  EXPECT_TRUE(m.HasProperty("a"));
  EXPECT_FALSE(m.HasProperty("c"));
  // "d" is new: inserted before the cursor (which stands on "b").
  DAXOProperty* d = m.NewProperty(kD);
  // "c" from another definition: "b" is skipped and removed, "c" replaced.
  DAXOProperty* c2 = m.NewProperty(kOtherC);
  EXPECT_NE(c2, c);
  EXPECT_EQ(c2->IntegerValue(), 30);
  EXPECT_EQ(DAXO::Property("m.b"), nullptr);
  EXPECT_EQ(DAXO::Property("m.c"), c2);
  m.EndPropertyRedeclaration();

  ASSERT_EQ(m.NbProperties(), 3);
  EXPECT_EQ(m.Property(0), a);
  EXPECT_EQ(m.Property(1), d);
  EXPECT_EQ(m.Property(2), c2);

  // Re-declaring fewer properties removes the rest.
  m.BeginPropertyRedeclaration();
  EXPECT_EQ(m.NewProperty(kA), a);
  m.EndPropertyRedeclaration();
  EXPECT_EQ(m.NbProperties(), 1);
  EXPECT_EQ(DAXO::Property("m.d"), nullptr);
  EXPECT_TRUE(m.HasProperty("a"));
  EXPECT_FALSE(m.HasProperty("d"));
  // Removing through a module that does not own it does nothing.
  TestModule other("o");
  other.RemoveProperty(a);
  EXPECT_EQ(m.NbProperties(), 1);
  m.RemoveProperty(a);
  EXPECT_EQ(m.NbProperties(), 0);
  EXPECT_EQ(DAXO::Property("m.a"), nullptr);
}

TEST_F(ModuleProperties, CreationRefusesBadNamesDefinitionsAndTakenSymbols) {
  TestModule m("m");
  for (const char* bad : {"1bad", "a-b"}) {
    ExpectError([&] { m.NewProperty(kInteger, bad); },
                std::string("module m: Trying to create a property with an invalid name: ") + bad);
  }
  const Def nameless{};
  ExpectError([&] { m.NewProperty(nameless); },
              "module m: Call to NewProperty failed. Bad property definition.");
  int taken = 0;
  ASSERT_TRUE(kernel()->RegisterSymbol("m.dup", DAXOSymbolKind::Property, &taken));
  ExpectError([&] { m.NewProperty(kInteger, "dup"); },
              "module m: Can't create property m.dup. The symbol already exists.");
  EXPECT_FALSE(m.HasProperty("dup"));
  EXPECT_EQ(m.NbProperties(), 0);
  kernel()->UnregisterSymbol("m.dup");
  DAXOProperty* named = m.NewProperty(kInteger, "dup");
  EXPECT_STREQ(named->ShortName(), "dup");
  ExpectError([&] { m.NewProperty(kInteger, "dup"); },
              "module m: Can't create property m.dup. The symbol already exists.");
  EXPECT_EQ(m.NbProperties(), 1);

  m.Die();
  EXPECT_TRUE(m.DieEvent().State());
  EXPECT_EQ(Thrown([&] { m.NewProperty(kOther); }), DAXO::ModuleDied);
}

TEST_F(ModuleProperties, EngineLookupsFindPropertiesByFullName) {
  TestModule m("m");
  m.NewProperty(kText);
  m.NewProperty(kFreeEnum);
  m.NewProperty(kInteger);
  bool found = false;
  EXPECT_EQ(DAXO::GetStringProperty("m.s", &found), "hello");
  EXPECT_TRUE(found);
  EXPECT_EQ(DAXO::GetStringProperty("m.f"), "b");
  EXPECT_EQ(DAXO::GetEnumsProperty("m.f", &found).ToString(), "3|1|a|b|c");
  EXPECT_EQ(DAXO::GetStringProperty("m.x", &found), "");
  EXPECT_FALSE(found);
  EXPECT_EQ(DAXO::GetEnumsProperty("m.zz", &found).Count(), 0);
  EXPECT_FALSE(found);
  ExpectError([] { DAXO::GetStringProperty("m.zz"); },
              "Can't get value of property m.zz. The symbol is undefined.");
  ExpectError([] { DAXO::GetStringProperty("m.x"); },
              "Can't get string value of property m.x. It is not a string or an enum.");
  ExpectError([] { DAXO::GetEnumsProperty("m.s"); },
              "Can't get string value of property m.s. It is not an enum.");
}

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
