// Actions: named operations of a module that the engine (or a user) runs,
// with or without a text argument.
//
// Threading: DoIt runs on the caller's thread; the action function decides
// what it locks. Actions are created and removed under the module lock
// (daxo_module.h), like the other elements.
#pragma once

#include "daxo_definitions.h"
#include "daxo_string.h"

class DAXOModule;

class DAXOAction {
 public:
  virtual const char* Name() = 0;
  virtual const char* ShortName() = 0;
  /// Whether the action takes a text argument.
  virtual bool NeedArgument() = 0;
  /// Runs the action (see DAXOActionImplementation::DoIt).
  virtual void DoIt(const char* argument = nullptr) = 0;
  virtual DAXOModule* Owner() = 0;
  virtual ~DAXOAction() = default;
};

class DAXOActionImplementation : public DAXOAction {
 public:
  DAXOActionImplementation(DAXOModule* owner, const char* fullName, int index)
      : name(fullName), owner(owner), index(index) {}

  const char* Name() override { return name; }
  const char* ShortName() override { return shortName; }
  bool NeedArgument() override { return definition.NeedArgument(); }
  /// Runs the action function (with the argument when it takes one) with
  /// the owner and the action's index. An action not allowed while its
  /// component is dead reports "This action is not allowed when the
  /// component is not running." and runs nothing while the owner is dead.
  /// Whatever the function throws passes through.
  void DoIt(const char* argument = nullptr) override;
  DAXOModule* Owner() override { return owner; }

  DAXOString name;
  DAXOString shortName;
  DAXOActionDefinition definition;  // own copy, with its own action function
  DAXOModule* owner;
  int index;
};
