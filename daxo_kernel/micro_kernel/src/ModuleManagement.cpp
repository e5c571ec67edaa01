// The module registry: groups, definitions, module base and the static
// registry operations. See daxo_module_management.h for the contracts.
//
// Every group object alive in the process (registered or not) is tracked in
// `liveGroups`, so that destroying a group or a definition can drop every
// pointer to it, wherever it is held. The tracking list is created on first
// use and freed once the last group is gone: groups may be created by
// static initialisers of other translation units before any dynamic
// initialiser of this one has run, and may outlive the static destructors.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "daxo_module_management.h"
#include "daxo_string.h"

DAXOList<DAXOModuleGroupDefinition*>* DAXOModuleManagement::groups = nullptr;
bool DAXOModuleManagement::initialized = false;

namespace {

using GroupList = DAXOList<DAXOModuleGroupDefinition*>;
using DefinitionList = DAXOList<DAXOModuleDefinition*>;

GroupList* liveGroups = nullptr;

const char kNullGroupName[] =
    "DAXOModuleGroupDefinition construction : the group name can't be NULL\n";

char* CopyName(const char* text) {
  if (text == nullptr) return nullptr;
  const size_t n = std::strlen(text) + 1;
  char* copy = new char[n];
  std::memcpy(copy, text, n);
  return copy;
}

bool SameName(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return std::strcmp(a, b) == 0;
}

GroupList& Registry() {
  if (DAXOModuleManagement::groups == nullptr) {
    DAXOModuleManagement::groups = new GroupList;
  }
  return *DAXOModuleManagement::groups;
}

/// Unlinks every item of `list` that holds `value`.
template <class T>
void UnlinkAll(DAXOList<T>& list, const T& value) {
  DAXOListIterator it = list.Begin();
  while (!list.Finished(it)) {
    if (list.Value(it) == value) {
      list.Erase(it);
    } else {
      ++it;
    }
  }
}

/// Every reference to `from` in a child list becomes a reference to `to`.
void RepointChildReferences(DAXOModuleGroupDefinition* from, DAXOModuleGroupDefinition* to) {
  for (DAXOListIterator g = liveGroups->Begin(); !liveGroups->Finished(g); ++g) {
    GroupList& children = liveGroups->Value(g)->childGroups;
    for (DAXOListIterator c = children.Begin(); !children.Finished(c); ++c) {
      if (children.Value(c) == from) children.Value(c) = to;
    }
  }
}

// The groups on the branch being walked, innermost first: a child already
// on it closes a cycle and is not walked again.
struct Branch {
  const DAXOModuleGroupDefinition* group;
  const Branch* outer;

  bool Holds(const DAXOModuleGroupDefinition* g) const {
    for (const Branch* b = this; b != nullptr; b = b->outer) {
      if (b->group == g) return true;
    }
    return false;
  }
};

// The registered group a child reference stands for, or null when it is not
// registered or is already on the branch.
DAXOModuleGroupDefinition* ResolveChild(const DAXOModuleGroupDefinition* child,
                                        const Branch& branch) {
  DAXOModuleGroupDefinition* registered = DAXOModuleManagement::FindGroup(child->name);
  if (registered == nullptr || branch.Holds(registered)) return nullptr;
  return registered;
}

int CountModules(const DAXOModuleGroupDefinition* group, bool recursive, const Branch* outer) {
  int count = group->modules.Length();
  if (!recursive) return count;
  const Branch branch{group, outer};
  for (DAXOListIterator c = group->childGroups.Begin(); !group->childGroups.Finished(c); ++c) {
    if (const auto* child = ResolveChild(group->childGroups.Value(c), branch)) {
      count += CountModules(child, true, &branch);
    }
  }
  return count;
}

int CountGroups(const DAXOModuleGroupDefinition* group, const Branch* outer) {
  int count = 1;
  const Branch branch{group, outer};
  for (DAXOListIterator c = group->childGroups.Begin(); !group->childGroups.Finished(c); ++c) {
    if (const auto* child = ResolveChild(group->childGroups.Value(c), branch)) {
      count += CountGroups(child, &branch);
    }
  }
  return count;
}

int ListModules(const DAXOModuleGroupDefinition* group, DAXOModuleDefinition** table, int capacity,
                bool recursive, const Branch* outer) {
  int n = 0;
  for (DAXOListIterator m = group->modules.Begin(); !group->modules.Finished(m) && n < capacity;
       ++m) {
    table[n++] = group->modules.Value(m);
  }
  if (!recursive) return n;
  const Branch branch{group, outer};
  for (DAXOListIterator c = group->childGroups.Begin();
       !group->childGroups.Finished(c) && n < capacity; ++c) {
    if (const auto* child = ResolveChild(group->childGroups.Value(c), branch)) {
      n += ListModules(child, table + n, capacity - n, true, &branch);
    }
  }
  return n;
}

int ListGroups(DAXOModuleGroupDefinition* group, DAXOModuleGroupDefinition** table, int capacity,
               bool recursive, const Branch* outer) {
  int n = 0;
  table[n++] = group;
  if (!recursive) return n;
  const Branch branch{group, outer};
  for (DAXOListIterator c = group->childGroups.Begin();
       !group->childGroups.Finished(c) && n < capacity; ++c) {
    if (auto* child = ResolveChild(group->childGroups.Value(c), branch)) {
      n += ListGroups(child, table + n, capacity - n, true, &branch);
    }
  }
  return n;
}

}  // namespace

// --- DAXOModuleGroupDefinition ------------------------------------------------

DAXOModuleGroupDefinition::DAXOModuleGroupDefinition(const char* groupName, void (*registering)(),
                                                     void (*unregistering)(),
                                                     const char* parentName)
    : name(nullptr), registeringFunction(nullptr), unregisteringFunction(nullptr) {
  if (groupName == nullptr) throw kNullGroupName;
  name = CopyName(groupName);
  if (liveGroups == nullptr) liveGroups = new GroupList;
  liveGroups->PushBack(this);
  try {
    if (DAXOModuleGroupDefinition* old = DAXOModuleManagement::FindGroup(name)) {
      // Take the old group over. Its items are moved, not copied, so the old
      // group's destructor finds nothing left to destroy.
      while (!old->childGroups.Empty()) {
        childGroups.LinkBack(old->childGroups.Unlink(old->childGroups.First()));
      }
      while (!old->modules.Empty()) {
        DAXOBasicListItem* item = old->modules.Unlink(old->modules.First());
        DefinitionList::ValueOf(item)->groupName = name;
        modules.LinkBack(item);
      }
      // Whoever referenced the old group by name now finds this one.
      RepointChildReferences(old, this);
      DAXOModuleManagement::RemoveGroup(old, true);
    }
    Registry().PushBack(this);
    if (parentName != nullptr) {
      DAXOModuleGroupDefinition* parent = DAXOModuleManagement::FindGroup(parentName);
      if (parent == nullptr) parent = DAXOModuleManagement::CreateNewGroup(parentName);
      parent->AddChildGroup(this);
    }
    registeringFunction = registering;
    unregisteringFunction = unregistering;
    if (registering != nullptr) registering();
  } catch (...) {
    // No destructor runs for a constructor that throws: without this the
    // registry would keep a pointer to freed memory.
    TearDown(false);
    throw;
  }
}

DAXOModuleGroupDefinition::~DAXOModuleGroupDefinition() {
  TearDown(true);
}

void DAXOModuleGroupDefinition::TearDown(bool callUnregistering) {
  // Forget every pointer to this group before anything user-supplied runs.
  if (DAXOModuleManagement::groups != nullptr) {
    UnlinkAll(*DAXOModuleManagement::groups, this);
  }
  UnlinkAll(*liveGroups, this);
  for (DAXOListIterator g = liveGroups->Begin(); !liveGroups->Finished(g); ++g) {
    UnlinkAll(liveGroups->Value(g)->childGroups, this);
  }
  if (liveGroups->Empty()) {
    delete liveGroups;
    liveGroups = nullptr;
  }

  while (!modules.Empty()) {
    DAXOModuleDefinition* definition = modules.FirstValue();
    modules.PopFront();
    delete definition;
  }
  delete[] name;
  name = nullptr;
  if (callUnregistering && unregisteringFunction != nullptr) unregisteringFunction();
  childGroups.Clear();
}

void DAXOModuleGroupDefinition::AddModule(DAXOModuleDefinition* definition) {
  if (definition == nullptr) return;
  definition->groupName = name;
  modules.PushBack(definition);
}

void DAXOModuleGroupDefinition::RemoveModule(DAXOModuleDefinition* definition) {
  modules.Remove(modules.Find(definition));
}

void DAXOModuleGroupDefinition::RemoveModule(const char* modelName) {
  for (DAXOListIterator m = modules.Begin(); !modules.Finished(m); ++m) {
    if (*modules.Value(m) == modelName) {
      modules.Remove(m);
      return;
    }
  }
}

void DAXOModuleGroupDefinition::AddChildGroup(DAXOModuleGroupDefinition* child) {
  if (child != nullptr) childGroups.PushBack(child);
}

void DAXOModuleGroupDefinition::RemoveChildGroup(DAXOModuleGroupDefinition* child) {
  childGroups.Remove(childGroups.Find(child));
}

void DAXOModuleGroupDefinition::RemoveChildGroup(const char* childName) {
  for (DAXOListIterator c = childGroups.Begin(); !childGroups.Finished(c); ++c) {
    if (*childGroups.Value(c) == childName) {
      childGroups.Remove(c);
      return;
    }
  }
}

DAXOModuleDefinition* DAXOModuleGroupDefinition::FindModule(const char* modelName,
                                                            bool recursive) const {
  for (DAXOListIterator m = modules.Begin(); !modules.Finished(m); ++m) {
    if (*modules.Value(m) == modelName) return modules.Value(m);
  }
  if (!recursive) return nullptr;
  for (DAXOListIterator c = childGroups.Begin(); !childGroups.Finished(c); ++c) {
    if (DAXOModuleDefinition* found = childGroups.Value(c)->FindModule(modelName, false)) {
      return found;
    }
  }
  return nullptr;
}

bool DAXOModuleGroupDefinition::operator==(const char* otherName) const {
  return SameName(name, otherName);
}

// --- DAXOModuleDefinition -------------------------------------------------

DAXOModuleDefinition::DAXOModuleDefinition(const char* modelName, const char* group,
                                           InstantiationFunction instantiation, void* argument,
                                           RegistrationFunction registering,
                                           RegistrationFunction unregistering)
    : name(nullptr),
      groupName(nullptr),
      instantiationFunction(instantiation),
      registeringFunction(registering),
      unregisteringFunction(unregistering),
      userArgument(argument) {
  DAXOModuleGroupDefinition* owner = DAXOModuleManagement::FindGroup(group);
  if (owner == nullptr) {
    owner = DAXOModuleManagement::CreateNewGroup(group);
  } else if (owner->FindModule(modelName, false) != nullptr) {
    // snprintf truncates a message that would not fit the buffer.
    char message[100];
    std::snprintf(message, sizeof message, "Module %s already referenced in the category %s\n",
                  modelName != nullptr ? modelName : "(null)", owner->name);
    throw DAXOStackedString<40>(message);
  }
  name = CopyName(modelName);
  owner->AddModule(this);
  if (DAXOModuleManagement::initialized && registeringFunction != nullptr) {
    try {
      registeringFunction(userArgument);
    } catch (...) {
      owner->RemoveModule(this);
      delete[] name;
      throw;
    }
  }
}

DAXOModuleDefinition::~DAXOModuleDefinition() {
  // By identity: the group name may no longer name the group that holds us.
  if (liveGroups != nullptr) {
    for (DAXOListIterator g = liveGroups->Begin(); !liveGroups->Finished(g); ++g) {
      UnlinkAll(liveGroups->Value(g)->modules, this);
    }
  }
  delete[] name;
  name = nullptr;
  if (unregisteringFunction != nullptr) unregisteringFunction(userArgument);
}

DAXOModuleBase* DAXOModuleDefinition::Instantiate(const char* instanceName) {
  if (instantiationFunction == nullptr) return nullptr;
  DAXOModuleBase* module = instantiationFunction(instanceName, userArgument);
  if (module != nullptr) module->moduleDefinition = this;
  return module;
}

bool DAXOModuleDefinition::operator==(const char* otherName) const {
  return SameName(name, otherName);
}

// --- DAXOModuleBase -------------------------------------------------------

DAXOModuleBase::DAXOModuleBase(const char* moduleName) : name(CopyName(moduleName)) {}

DAXOModuleBase::~DAXOModuleBase() {
  delete[] name;
}

void DAXOModuleBase::Rename(const char* oldName, const char* newName) {
  // Build the new name before freeing the old one: either argument may
  // point into it.
  char* renamed = nullptr;
  if (SameName(name, oldName)) {
    renamed = CopyName(newName);
  } else if (name != nullptr && oldName != nullptr && newName != nullptr) {
    const size_t oldLength = std::strlen(oldName);
    if (std::strncmp(name, oldName, oldLength) != 0 || name[oldLength] != '.') return;
    const char* suffix = name + oldLength;  // starts with the '.'
    const size_t newLength = std::strlen(newName);
    const size_t suffixLength = std::strlen(suffix);
    renamed = new char[newLength + suffixLength + 1];
    std::memcpy(renamed, newName, newLength);
    std::memcpy(renamed + newLength, suffix, suffixLength + 1);
  } else {
    return;
  }
  delete[] name;
  name = renamed;
}

// --- DAXOModuleManagement -------------------------------------------------

void DAXOModuleManagement::Initialize(const char*) {
  GroupList& list = Registry();
  initialized = true;
  for (DAXOListIterator g = list.Begin(); !list.Finished(g); ++g) {
    DefinitionList& modules = list.Value(g)->modules;
    for (DAXOListIterator m = modules.Begin(); !modules.Finished(m); ++m) {
      DAXOModuleDefinition* definition = modules.Value(m);
      if (definition->registeringFunction != nullptr) {
        definition->registeringFunction(definition->userArgument);
      }
    }
  }
}

void DAXOModuleManagement::Uninitialize() {
  ClearAll();
  delete groups;
  groups = nullptr;
  initialized = false;
}

void DAXOModuleManagement::ClearAll() {
  if (groups == nullptr) return;
  while (groups != nullptr && !groups->Empty()) {
    // The destructor unlinks the group (and any duplicate entry) itself.
    delete groups->FirstValue();
  }
}

void DAXOModuleManagement::AllocationDone() {
  Registry();
}

DAXOModuleDefinition* DAXOModuleManagement::AddModule(DAXOModuleGroupDefinition* group,
                                                      DAXOModuleDefinition* definition) {
  if (group == nullptr || definition == nullptr) return definition;
  group->AddModule(definition);
  if (initialized && definition->registeringFunction != nullptr) {
    definition->registeringFunction(definition->userArgument);
  }
  return definition;
}

DAXOModuleGroupDefinition* DAXOModuleManagement::CreateNewGroup(const char* groupName) {
  return new DAXOModuleGroupDefinition(groupName);
}

void DAXOModuleManagement::ReferenceNewGroup(DAXOModuleGroupDefinition* group) {
  if (group != nullptr) Registry().PushBack(group);
}

bool DAXOModuleManagement::ReferenceChildGroup(const char* parentName, const char* childName) {
  DAXOModuleGroupDefinition* parent = FindGroup(parentName);
  if (parent == nullptr) parent = CreateNewGroup(parentName);
  DAXOModuleGroupDefinition* child = FindGroup(childName);
  if (child == nullptr) child = CreateNewGroup(childName);
  parent->AddChildGroup(child);
  return true;
}

void DAXOModuleManagement::RemoveGroup(const char* groupName, bool destroy) {
  RemoveGroup(FindGroup(groupName), destroy);
}

void DAXOModuleManagement::RemoveGroup(DAXOModuleGroupDefinition* group, bool destroy) {
  GroupList& list = Registry();
  DAXOListIterator found = list.Find(group);
  if (list.Finished(found)) return;
  list.Remove(found);
  if (destroy) delete group;
}

DAXOModuleGroupDefinition* DAXOModuleManagement::FindGroup(const char* groupName) {
  GroupList& list = Registry();
  for (DAXOListIterator g = list.Begin(); !list.Finished(g); ++g) {
    if (*list.Value(g) == groupName) return list.Value(g);
  }
  return nullptr;
}

DAXOModuleDefinition* DAXOModuleManagement::FindModule(const char* modelName, const char* groupName,
                                                       bool recursive) {
  if (groupName != nullptr) {
    DAXOModuleGroupDefinition* group = FindGroup(groupName);
    return group != nullptr ? group->FindModule(modelName, recursive) : nullptr;
  }
  GroupList& list = Registry();
  for (DAXOListIterator g = list.Begin(); !list.Finished(g); ++g) {
    if (DAXOModuleDefinition* found = list.Value(g)->FindModule(modelName, false)) return found;
  }
  return nullptr;
}

void* DAXOModuleManagement::GetModuleDefinition(const char* modelName, const char* groupName) {
  DAXOModuleDefinition* definition = FindModule(modelName, groupName, true);
  return definition != nullptr ? definition->userArgument : nullptr;
}

DAXOModuleBase* DAXOModuleManagement::Instantiate(const char* instanceName, const char* modelName,
                                                  const char* groupName) {
  DAXOModuleDefinition* definition = FindModule(modelName, groupName, true);
  return definition != nullptr ? definition->Instantiate(instanceName) : nullptr;
}

int DAXOModuleManagement::NumberOfReferencedModules(const char* groupName, bool recursive) {
  if (groupName == nullptr) {
    GroupList& list = Registry();
    int count = 0;
    for (DAXOListIterator g = list.Begin(); !list.Finished(g); ++g) {
      count += list.Value(g)->modules.Length();
    }
    return count;
  }
  const DAXOModuleGroupDefinition* group = FindGroup(groupName);
  return group != nullptr ? CountModules(group, recursive, nullptr) : -1;
}

int DAXOModuleManagement::NumberOfReferencedGroups(const char* groupName) {
  if (groupName == nullptr) return Registry().Length();
  const DAXOModuleGroupDefinition* group = FindGroup(groupName);
  return group != nullptr ? CountGroups(group, nullptr) : -1;
}

int DAXOModuleManagement::EnumerateAvailableModules(DAXOModuleDefinition** table, int capacity,
                                                    const char* groupName, bool recursive) {
  if (table == nullptr) return NumberOfReferencedModules(groupName, recursive);
  if (capacity < 1) return 0;
  if (groupName != nullptr) {
    const DAXOModuleGroupDefinition* group = FindGroup(groupName);
    return group != nullptr ? ListModules(group, table, capacity, recursive, nullptr) : 0;
  }
  GroupList& list = Registry();
  int n = 0;
  for (DAXOListIterator g = list.Begin(); !list.Finished(g) && n < capacity; ++g) {
    n += ListModules(list.Value(g), table + n, capacity - n, false, nullptr);
  }
  return n;
}

int DAXOModuleManagement::EnumerateAvailableGroups(DAXOModuleGroupDefinition** table, int capacity,
                                                   const char* groupName, bool recursive) {
  if (table == nullptr) return NumberOfReferencedGroups(groupName);
  if (capacity < 1) return 0;
  if (groupName != nullptr) {
    DAXOModuleGroupDefinition* group = FindGroup(groupName);
    return group != nullptr ? ListGroups(group, table, capacity, recursive, nullptr) : 0;
  }
  GroupList& list = Registry();
  int n = 0;
  for (DAXOListIterator g = list.Begin(); !list.Finished(g) && n < capacity; ++g) {
    table[n++] = list.Value(g);
  }
  return n;
}

bool DAXOModuleManagement::SortModuleDefinitionTable(DAXOModuleDefinition** table, int count,
                                                     bool (*compare)(DAXOModuleDefinition*,
                                                                     DAXOModuleDefinition*),
                                                     bool ascending) {
  if (count < 2 || table == nullptr || compare == nullptr) return true;
  for (int i = 0; i < count - 1; ++i) {
    for (int j = i + 1; j < count; ++j) {
      if (compare(table[i], table[j]) != ascending) {
        DAXOModuleDefinition* held = table[i];
        table[i] = table[j];
        table[j] = held;
      }
    }
  }
  return true;
}
