// The module registry: the package-wide catalogue of module models.
//
// A model is described by a DAXOModuleDefinition (name, owning group, how to
// instantiate it, an opaque user argument; for a component model the user
// argument is the address of its DAXOComponentDefinition). Definitions are
// filed in named groups (DAXOModuleGroupDefinition); a group may reference
// other groups as children, which forms the category tree the engine shows.
// DAXOModuleManagement holds the list of registered groups and the
// operations on it. DAXOModuleBase is the root of every instantiated module.
//
// Lifecycle: definitions are created by static initialisers while the
// library loads, before any engine is bound, so every operation works
// without the engine and creates the (empty) group list on first use. The
// registry owns its groups; a group owns its definitions. Registering
// functions run once the registry is initialised (Initialize, called when
// the package is bound); unregistering functions run at destruction.
//
// References never dangle: destroying a group (directly, by RemoveGroup,
// ClearAll or when a same-named group takes it over) drops every reference
// to it, from the registry list and from every group's child list; a group
// that takes another over inherits the references to it. Destroying a
// definition unlinks it from every group that lists it. Counting and
// enumeration resolve a child through the registry by its name, so a child
// that is not registered (removed without destruction) adds nothing, and a
// child that is already being walked higher up the same branch (a cycle made
// with ReferenceChildGroup) is skipped instead of recursing for ever.
//
// Threading: no lock. Registration runs in static initialisers on the
// loading thread; Initialize runs under the package-initialisation mutex;
// the engine enumerates and instantiates afterwards from one thread.
// Concurrent registration and lookup are not supported.
#pragma once

#include "daxo_list.h"

class DAXOModuleBase;
class DAXOModuleDefinition;

/// A named group of module definitions.
class DAXOModuleGroupDefinition {
 public:
  /// Registers a group named `name` (copied). If a group of that name is
  /// registered, this one takes it over: its child references and its
  /// definitions (in order) move here and the old group is destroyed (its
  /// unregistering function runs). With `parentName`, the group becomes a
  /// child of that group, which is created if absent. `registering` runs
  /// at the end of construction. Throws the C string "DAXOModuleGroupDefinition
  /// construction : the group name can't be NULL\n" for a null name; an
  /// exception from `registering` propagates after the group has been taken
  /// out of the registry again.
  explicit DAXOModuleGroupDefinition(const char* name, void (*registering)() = nullptr,
                                     void (*unregistering)() = nullptr,
                                     const char* parentName = nullptr);
  /// Destroys the group's definitions front to back, then calls the
  /// unregistering function. Child groups are only dereferenced, never
  /// destroyed. Also drops every reference to this group (see the banner).
  virtual ~DAXOModuleGroupDefinition();
  DAXOModuleGroupDefinition(const DAXOModuleGroupDefinition&) = delete;
  DAXOModuleGroupDefinition& operator=(const DAXOModuleGroupDefinition&) = delete;

  /// Appends `definition` (the group owns it from then on) and points its
  /// group name at this group's name.
  void AddModule(DAXOModuleDefinition* definition);
  /// Unlink the first matching definition (by identity / by name) without
  /// destroying it; the caller owns it afterwards.
  void RemoveModule(DAXOModuleDefinition* definition);
  void RemoveModule(const char* modelName);
  /// Appends a reference to `child` (not owned; duplicates allowed).
  void AddChildGroup(DAXOModuleGroupDefinition* child);
  /// Drop the first matching child reference (by identity / by name).
  void RemoveChildGroup(DAXOModuleGroupDefinition* child);
  void RemoveChildGroup(const char* childName);
  /// The first definition named `modelName` among this group's own, then,
  /// when `recursive`, among those of its direct children (one level, child
  /// order); null if none.
  DAXOModuleDefinition* FindModule(const char* modelName, bool recursive) const;
  /// True when both names are null or both are equal strings.
  bool operator==(const char* otherName) const;

  char* name;                                        // owned; never null
  void (*registeringFunction)();                     // may be null
  void (*unregisteringFunction)();                   // may be null
  DAXOList<DAXOModuleDefinition*> modules;           // owned, registration order
  DAXOList<DAXOModuleGroupDefinition*> childGroups;  // references, not owned

 private:
  friend class DAXOModuleManagement;
  /// Everything the destructor does; `callUnregistering` is false when
  /// undoing a construction whose registering function failed.
  void TearDown(bool callUnregistering);
};

/// The description of one module model.
class DAXOModuleDefinition {
 public:
  using InstantiationFunction = DAXOModuleBase* (*)(const char* instanceName, void* userArgument);
  using RegistrationFunction = void (*)(void* userArgument);

  /// Files the definition in the group `groupName`, creating the group if
  /// absent (so a null group name throws the group constructor's C string).
  /// Throws a DAXOStackedString<40> "Module <name> already referenced in the
  /// category <group>\n" (at most 99 characters) when the group already has
  /// a definition of that name; nothing is added then. Calls `registering`
  /// with the user argument at once when the registry is initialised
  /// (otherwise Initialize does); if it throws, the definition is taken out
  /// of its group again and the exception propagates.
  DAXOModuleDefinition(const char* modelName, const char* groupName,
                       InstantiationFunction instantiation = nullptr, void* userArgument = nullptr,
                       RegistrationFunction registering = nullptr,
                       RegistrationFunction unregistering = nullptr);
  /// Unlinks the definition from every group that lists it, then calls the
  /// unregistering function with the user argument.
  virtual ~DAXOModuleDefinition();
  DAXOModuleDefinition(const DAXOModuleDefinition&) = delete;
  DAXOModuleDefinition& operator=(const DAXOModuleDefinition&) = delete;

  /// A new module named `instanceName`, or null when there is no
  /// instantiation function or it returned null. The caller owns the module;
  /// its definition pointer is set to this definition.
  DAXOModuleBase* Instantiate(const char* instanceName);
  /// True when both names are null or both are equal strings.
  bool operator==(const char* otherName) const;

  char* name;             // owned copy of the model name; may be null
  const char* groupName;  // the holding group's own name; valid while a group holds it
  InstantiationFunction instantiationFunction;  // may be null
  RegistrationFunction registeringFunction;     // may be null
  RegistrationFunction unregisteringFunction;   // may be null
  void* userArgument;                           // opaque to the registry
};

/// The root of every instantiated module.
class DAXOModuleBase {
 public:
  DAXOModuleBase() = default;
  /// A module named with a copy of `moduleName` (may be null).
  explicit DAXOModuleBase(const char* moduleName);
  virtual ~DAXOModuleBase();
  DAXOModuleBase(const DAXOModuleBase&) = delete;
  DAXOModuleBase& operator=(const DAXOModuleBase&) = delete;

  /// Follows a rename of `oldName` to `newName`: a module named `oldName`
  /// takes `newName` (null: no name); one named `oldName` + "." + suffix
  /// takes `newName` + "." + suffix (unchanged when `newName` is null); any
  /// other name stays. A null `oldName` matches only a module without name.
  /// Either argument may point into this module's own name.
  virtual void Rename(const char* oldName, const char* newName);

  DAXOModuleDefinition* moduleDefinition = nullptr;  // set by Instantiate
  char* name = nullptr;                              // owned; may be null
};

/// The registry itself: static members only.
class DAXOModuleManagement {
 public:
  DAXOModuleManagement() = delete;

  /// Marks the registry initialised and calls, in registry order and within
  /// each group in order, the registering function of every definition that
  /// has one. The argument is not used. An exception from a registering
  /// function propagates (the registry stays marked initialised).
  static void Initialize(const char* unused);
  /// Destroys every group (ClearAll) and the list itself; not initialised.
  static void Uninitialize();
  /// Unlinks and destroys every group, front to back.
  static void ClearAll();
  /// Makes sure the (possibly empty) group list exists.
  static void AllocationDone();

  /// Appends `definition` to `group` (ignored when either is null) and, when
  /// the registry is initialised, calls its registering function. Returns
  /// `definition`.
  static DAXOModuleDefinition* AddModule(DAXOModuleGroupDefinition* group,
                                         DAXOModuleDefinition* definition);
  /// A new registered group without functions and parent (takes over a
  /// registered group of the same name; throws for a null name).
  static DAXOModuleGroupDefinition* CreateNewGroup(const char* groupName);
  /// Appends `group` to the registry list, without a duplicate check.
  static void ReferenceNewGroup(DAXOModuleGroupDefinition* group);
  /// Makes `childName` a child of `parentName`, creating either group if
  /// absent. No duplicate check. Returns true.
  static bool ReferenceChildGroup(const char* parentName, const char* childName);
  /// Unlinks the first registered group of that name / that group and
  /// destroys it when `destroy` is set; otherwise the caller owns it.
  static void RemoveGroup(const char* groupName, bool destroy);
  static void RemoveGroup(DAXOModuleGroupDefinition* group, bool destroy);

  /// The first registered group named `groupName`, or null.
  static DAXOModuleGroupDefinition* FindGroup(const char* groupName);
  /// With a null group name, the first definition named `modelName` over all
  /// groups in registry order; otherwise the named group's FindModule.
  static DAXOModuleDefinition* FindModule(const char* modelName, const char* groupName,
                                          bool recursive);
  /// The user argument of the definition found as FindModule finds it (one
  /// level of children included), or null.
  static void* GetModuleDefinition(const char* modelName, const char* groupName);
  /// Instantiates the definition found as GetModuleDefinition finds it;
  /// null when there is none or it cannot instantiate.
  static DAXOModuleBase* Instantiate(const char* instanceName, const char* modelName,
                                     const char* groupName);

  /// Null group: the sum of every group's own count. Unregistered group: -1.
  /// Otherwise the group's own count plus, when `recursive`, the recursive
  /// count of each registered child.
  static int NumberOfReferencedModules(const char* groupName, bool recursive);
  /// Null group: the number of registered groups. Unregistered group: -1.
  /// Otherwise 1 plus the count of each registered child.
  static int NumberOfReferencedGroups(const char* groupName);
  /// With a null table, the matching count above. Otherwise writes up to
  /// `capacity` entries: every definition (every group) in registry order
  /// for a null group name; for a named group its own definitions (itself)
  /// and then, when `recursive`, each child's enumeration depth first. Returns
  /// the number written (0 for a capacity below 1 or an unregistered group).
  static int EnumerateAvailableModules(DAXOModuleDefinition** table, int capacity,
                                       const char* groupName, bool recursive);
  static int EnumerateAvailableGroups(DAXOModuleGroupDefinition** table, int capacity,
                                      const char* groupName, bool recursive);
  /// Exchange sort: for every i < j, swaps entries i and j when
  /// `compare(table[i], table[j])` differs from `ascending`. With a "sorts
  /// before" comparison and `ascending` true the result is in ascending
  /// order. Returns true.
  static bool SortModuleDefinitionTable(DAXOModuleDefinition** table, int count,
                                        bool (*compare)(DAXOModuleDefinition*,
                                                        DAXOModuleDefinition*),
                                        bool ascending);

  static DAXOList<DAXOModuleGroupDefinition*>* groups;  // null until first use; owned
  static bool initialized;
};
