// The module registry: registration and initialisation, take-over of a
// group, lookups, counting and enumeration through child groups, sorting,
// and the renaming rule of the module base.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "daxo_module_management.h"
#include "daxo_string.h"

namespace {

struct Calls {
  int registering = 0;
  int unregistering = 0;
};

void Register(void* argument) {
  ++static_cast<Calls*>(argument)->registering;
}
void Unregister(void* argument) {
  ++static_cast<Calls*>(argument)->unregistering;
}
void Throw(void*) {
  throw 7;
}

int groupUnregistering = 0;
void CountGroupUnregistering() {
  ++groupUnregistering;
}

DAXOModuleBase* MakeModule(const char* instanceName, void*) {
  return new DAXOModuleBase(instanceName);
}

bool NameBefore(DAXOModuleDefinition* a, DAXOModuleDefinition* b) {
  return std::strcmp(a->name, b->name) < 0;
}

// The text a call throws as an E, or "<returned>".
template <class E, class F>
std::string ThrownText(F call) {
  try {
    call();
  } catch (const E& thrown) {
    return static_cast<const char*>(thrown);
  }
  return "<returned>";
}

template <class Entry>
std::vector<std::string> Names(Entry** table, int n) {
  std::vector<std::string> names;
  for (int i = 0; i < n; ++i) names.emplace_back(table[i]->name);
  return names;
}

// The registry is process-wide: every test starts and ends with it empty.
class DAXOModuleManagementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DAXOModuleManagement::Uninitialize();
    groupUnregistering = 0;
  }
  void TearDown() override { DAXOModuleManagement::Uninitialize(); }

  static DAXOModuleDefinition* Define(const char* model, const char* group) {
    return new DAXOModuleDefinition(model, group);
  }
};

TEST_F(DAXOModuleManagementTest, RegisteringFunctionRunsExactlyOnceBeforeOrAfterInitialize) {
  Calls early, late, added;
  new DAXOModuleDefinition("early", "G", nullptr, &early, Register, Unregister);
  Define("plain", "G");  // no registering function: skipped
  EXPECT_EQ(early.registering, 0);

  DAXOModuleManagement::Initialize(nullptr);
  EXPECT_EQ(early.registering, 1);

  new DAXOModuleDefinition("late", "G", nullptr, &late, Register, Unregister);
  EXPECT_EQ(late.registering, 1);
  auto* extra = new DAXOModuleDefinition("added", "H", nullptr, &added, Register, Unregister);
  DAXOModuleManagement::FindGroup("H")->RemoveModule(extra);
  DAXOModuleManagement::AddModule(DAXOModuleManagement::FindGroup("G"), extra);
  EXPECT_EQ(added.registering, 2);  // once at construction, once when added again
  EXPECT_EQ(early.registering, 1);

  DAXOModuleManagement::Uninitialize();
  EXPECT_FALSE(DAXOModuleManagement::initialized);
  EXPECT_EQ(DAXOModuleManagement::groups, nullptr);
  for (Calls* c : {&early, &late, &added}) EXPECT_EQ(c->unregistering, 1);
}

TEST_F(DAXOModuleManagementTest, DuplicateModelNameThrowsTheMessageAndKeepsOneDefinition) {
  Calls second;
  DAXOModuleDefinition* first = Define("model", "Group");
  DAXOModuleManagement::Initialize(nullptr);
  using Message = DAXOStackedString<40>;
  EXPECT_EQ(ThrownText<Message>([&] {
              new DAXOModuleDefinition("model", "Group", nullptr, &second, Register, Unregister);
            }),
            "Module model already referenced in the category Group\n");
  EXPECT_EQ(DAXOModuleManagement::NumberOfReferencedModules("Group", false), 1);
  EXPECT_EQ(DAXOModuleManagement::FindModule("model", "Group", false), first);
  EXPECT_EQ(second.registering, 0);

  // A message longer than its buffer is cut, never written past it.
  const std::string longName(300, 'x');
  Define(longName.c_str(), "Group");
  EXPECT_EQ(ThrownText<Message>([&] { Define(longName.c_str(), "Group"); }),
            "Module " + std::string(92, 'x'));
}

TEST_F(DAXOModuleManagementTest, FailedConstructionsThrowAndLeaveNothingBehind) {
  const char* expected = "DAXOModuleGroupDefinition construction : the group name can't be NULL\n";
  EXPECT_EQ(ThrownText<const char*>([] { new DAXOModuleGroupDefinition(nullptr); }), expected);
  EXPECT_EQ(ThrownText<const char*>([] { Define("model", nullptr); }), expected);
  EXPECT_EQ(DAXOModuleManagement::NumberOfReferencedGroups(nullptr), 0);

  // A throwing registering function, of a model or of a group.
  DAXOModuleManagement::Initialize(nullptr);
  Calls calls;
  EXPECT_THROW(new DAXOModuleDefinition("model", "G", nullptr, &calls, Throw, Unregister), int);
  EXPECT_EQ(DAXOModuleManagement::NumberOfReferencedModules("G", false), 0);
  EXPECT_EQ(calls.unregistering, 0);

  EXPECT_THROW(new DAXOModuleGroupDefinition(
                   "Bad", [] { throw 8; }, CountGroupUnregistering, "G"),
               int);
  EXPECT_EQ(DAXOModuleManagement::FindGroup("Bad"), nullptr);
  EXPECT_EQ(DAXOModuleManagement::NumberOfReferencedGroups("G"), 1);  // no dangling child
  EXPECT_EQ(groupUnregistering, 0);
}

TEST_F(DAXOModuleManagementTest, NewGroupOfTheSameNameTakesTheOldOneOver) {
  auto* old = new DAXOModuleGroupDefinition("G", nullptr, CountGroupUnregistering);
  Define("a", "G");
  Define("b", "G");
  DAXOModuleManagement::ReferenceChildGroup("G", "Child");
  Define("c", "Child");
  DAXOModuleManagement::ReferenceChildGroup("Parent", "G");
  ASSERT_EQ(DAXOModuleManagement::FindGroup("G"), old);
  const int groupsBefore = DAXOModuleManagement::NumberOfReferencedGroups(nullptr);

  auto* taker = new DAXOModuleGroupDefinition("G");
  EXPECT_EQ(groupUnregistering, 1);
  EXPECT_EQ(DAXOModuleManagement::FindGroup("G"), taker);
  DAXOModuleDefinition* table[4];
  ASSERT_EQ(DAXOModuleManagement::EnumerateAvailableModules(table, 4, "G", false), 2);
  EXPECT_EQ(Names(table, 2), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(table[0]->groupName, taker->name);
  EXPECT_EQ(DAXOModuleManagement::NumberOfReferencedGroups(nullptr), groupsBefore);
  EXPECT_EQ(DAXOModuleManagement::NumberOfReferencedModules("G", true), 3);
  EXPECT_EQ(DAXOModuleManagement::NumberOfReferencedModules("Parent", true), 3);
  EXPECT_EQ(DAXOModuleManagement::FindModule("a", "Parent", true), table[0]);

  // Destroying a group drops the parent's reference to it.
  DAXOModuleManagement::RemoveGroup("G", true);
  EXPECT_EQ(DAXOModuleManagement::NumberOfReferencedGroups("Parent"), 1);
  EXPECT_EQ(DAXOModuleManagement::FindModule("a", "Parent", true), nullptr);
  EXPECT_EQ(DAXOModuleManagement::NumberOfReferencedModules("Child", false), 1);
}

TEST_F(DAXOModuleManagementTest, DestroyedDefinitionsAndGroupsLeaveTheRegistry) {
  Calls calls;
  auto* doomed = new DAXOModuleDefinition("doomed", "G", nullptr, &calls, Register, Unregister);
  Define("kept", "G");
  delete doomed;
  EXPECT_EQ(calls.unregistering, 1);
  EXPECT_EQ(DAXOModuleManagement::NumberOfReferencedModules("G", false), 1);

  DAXOModuleGroupDefinition* group = DAXOModuleManagement::FindGroup("G");
  DAXOModuleManagement::ReferenceNewGroup(group);  // listed twice
  delete group;
  EXPECT_EQ(DAXOModuleManagement::NumberOfReferencedGroups(nullptr), 0);

  auto* loose = new DAXOModuleGroupDefinition("Loose");
  DAXOModuleManagement::RemoveGroup(loose, false);
  EXPECT_EQ(DAXOModuleManagement::FindGroup("Loose"), nullptr);
  delete loose;  // the caller owns a group removed without destruction
}

TEST_F(DAXOModuleManagementTest, EnumerationFillsAtMostTheCapacity) {
  for (const char* name : {"m0", "m1", "m2", "m3", "m4"}) Define(name, "G");
  Define("h0", "H");
  DAXOModuleDefinition* table[8] = {};
  DAXOModuleDefinition* const sentinel = reinterpret_cast<DAXOModuleDefinition*>(0x1);
  for (auto*& entry : table) entry = sentinel;

  EXPECT_EQ(DAXOModuleManagement::EnumerateAvailableModules(nullptr, 0, "G", false), 5);
  EXPECT_EQ(DAXOModuleManagement::EnumerateAvailableModules(table, 3, "G", false), 3);
  EXPECT_EQ(Names(table, 3), (std::vector<std::string>{"m0", "m1", "m2"}));
  EXPECT_EQ(table[3], sentinel);
  EXPECT_EQ(DAXOModuleManagement::EnumerateAvailableModules(table + 3, 0, "G", false), 0);
  EXPECT_EQ(table[3], sentinel);

  EXPECT_EQ(DAXOModuleManagement::EnumerateAvailableModules(nullptr, 0, nullptr, false), 6);
  EXPECT_EQ(DAXOModuleManagement::EnumerateAvailableModules(table, 8, nullptr, false), 6);
  EXPECT_EQ(Names(table, 6), (std::vector<std::string>{"m0", "m1", "m2", "m3", "m4", "h0"}));

  EXPECT_EQ(DAXOModuleManagement::NumberOfReferencedModules("Nowhere", true), -1);
  EXPECT_EQ(DAXOModuleManagement::NumberOfReferencedGroups("Nowhere"), -1);
  EXPECT_EQ(DAXOModuleManagement::EnumerateAvailableModules(table, 8, "Nowhere", true), 0);

  DAXOModuleGroupDefinition* groups[1] = {};
  EXPECT_EQ(DAXOModuleManagement::EnumerateAvailableGroups(groups, 1, nullptr, false), 1);
  EXPECT_STREQ(groups[0]->name, "G");
}

TEST_F(DAXOModuleManagementTest, RecursiveCountingAndEnumerationWalkChildrenDepthFirst) {
  for (auto [model, group] :
       {std::pair{"r1", "Root"}, {"a1", "A"}, {"a2", "A"}, {"x1", "A1"}, {"b1", "B"}}) {
    Define(model, group);
  }
  // The last link, back to the top, must not make the walk endless.
  for (auto [parent, child] :
       {std::pair{"Root", "A"}, {"A", "A1"}, {"Root", "B"}, {"A1", "Root"}}) {
    DAXOModuleManagement::ReferenceChildGroup(parent, child);
  }

  EXPECT_EQ(DAXOModuleManagement::NumberOfReferencedModules("Root", false), 1);
  EXPECT_EQ(DAXOModuleManagement::NumberOfReferencedModules("Root", true), 5);
  EXPECT_EQ(DAXOModuleManagement::NumberOfReferencedModules(nullptr, true), 5);
  EXPECT_EQ(DAXOModuleManagement::NumberOfReferencedGroups("Root"), 4);

  DAXOModuleDefinition* table[8];
  ASSERT_EQ(DAXOModuleManagement::EnumerateAvailableModules(table, 8, "Root", true), 5);
  EXPECT_EQ(Names(table, 5), (std::vector<std::string>{"r1", "a1", "a2", "x1", "b1"}));
  ASSERT_EQ(DAXOModuleManagement::EnumerateAvailableModules(table, 3, "Root", true), 3);
  EXPECT_EQ(Names(table, 3), (std::vector<std::string>{"r1", "a1", "a2"}));

  DAXOModuleGroupDefinition* groups[8];
  ASSERT_EQ(DAXOModuleManagement::EnumerateAvailableGroups(groups, 8, "Root", true), 4);
  EXPECT_EQ(Names(groups, 4), (std::vector<std::string>{"Root", "A", "A1", "B"}));
  EXPECT_EQ(DAXOModuleManagement::EnumerateAvailableGroups(groups, 8, "Root", false), 1);
  EXPECT_EQ(DAXOModuleManagement::EnumerateAvailableGroups(nullptr, 0, "Root", false), 4);

  // A child that is no longer registered adds nothing.
  DAXOModuleGroupDefinition* b = DAXOModuleManagement::FindGroup("B");
  DAXOModuleManagement::RemoveGroup(b, false);
  EXPECT_EQ(DAXOModuleManagement::NumberOfReferencedModules("Root", true), 4);
  EXPECT_EQ(DAXOModuleManagement::NumberOfReferencedGroups("Root"), 3);
  delete b;
}

TEST_F(DAXOModuleManagementTest, SortOrdersByTheComparisonAndTheAscendingFlag) {
  DAXOModuleDefinition* table[4] = {Define("c", "G"), Define("a", "G"), Define("d", "G"),
                                    Define("b", "G")};
  EXPECT_TRUE(DAXOModuleManagement::SortModuleDefinitionTable(table, 4, NameBefore, true));
  EXPECT_EQ(Names(table, 4), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_TRUE(DAXOModuleManagement::SortModuleDefinitionTable(table, 4, NameBefore, false));
  EXPECT_EQ(Names(table, 4), (std::vector<std::string>{"d", "c", "b", "a"}));

  DAXOModuleDefinition* single[1] = {table[0]};
  EXPECT_TRUE(DAXOModuleManagement::SortModuleDefinitionTable(single, 1, NameBefore, true));
  EXPECT_EQ(single[0], table[0]);
}

TEST_F(DAXOModuleManagementTest, LookupsHandOutTheUserArgumentAndInstantiate) {
  int argument = 0;
  new DAXOModuleDefinition("model", "Child", MakeModule, &argument);
  Define("inert", "Parent");
  DAXOModuleManagement::ReferenceChildGroup("Parent", "Child");

  EXPECT_EQ(DAXOModuleManagement::GetModuleDefinition("model", "Parent"), &argument);
  EXPECT_EQ(DAXOModuleManagement::GetModuleDefinition("model", nullptr), &argument);
  EXPECT_EQ(DAXOModuleManagement::GetModuleDefinition("missing", "Parent"), nullptr);
  EXPECT_EQ(DAXOModuleManagement::FindModule("model", "Parent", false), nullptr);

  DAXOModuleBase* module = DAXOModuleManagement::Instantiate("instance", "model", "Parent");
  ASSERT_NE(module, nullptr);
  EXPECT_STREQ(module->name, "instance");
  EXPECT_EQ(module->moduleDefinition, DAXOModuleManagement::FindModule("model", "Child", false));
  delete module;
  EXPECT_EQ(DAXOModuleManagement::Instantiate("instance", "inert", "Parent"), nullptr);
  EXPECT_EQ(DAXOModuleManagement::Instantiate("instance", "missing", nullptr), nullptr);
}

TEST(DAXOModuleBase, RenameFollowsTheOldNameAndItsDottedChildren) {
  DAXOModuleBase exact("A"), dotted("A.x.y"), longer("AB"), other("Bx"), unnamed;
  auto names = [&] {
    std::vector<std::string> all;
    for (DAXOModuleBase* m : {&exact, &dotted, &longer, &other, &unnamed}) {
      all.emplace_back(m->name != nullptr ? m->name : "<null>");
    }
    return all;
  };
  for (DAXOModuleBase* m : {&exact, &dotted, &longer, &other, &unnamed}) m->Rename("A", "B");
  EXPECT_EQ(names(), (std::vector<std::string>{"B", "B.x.y", "AB", "Bx", "<null>"}));
  exact.Rename(nullptr, "C");  // a null old name matches only a module without name
  unnamed.Rename(nullptr, "C");
  dotted.Rename("B", nullptr);
  exact.Rename(exact.name, exact.name);  // arguments aliasing the name itself
  EXPECT_EQ(names(), (std::vector<std::string>{"B", "B.x.y", "AB", "Bx", "C"}));
  exact.Rename("B", nullptr);
  EXPECT_EQ(exact.name, nullptr);
}

}  // namespace
