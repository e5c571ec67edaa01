// Properties: the named, typed settings of a module (DAXOProperty, implemented
// by DAXOPropertyImplementation).
//
// A property belongs to the module that created it (its owner) and lives
// until that module removes or destroys it. Every typed Set and Get of a
// property forwards to the owner's virtual DAXOModule::Set / Get of the same
// kind, so a component can override them; the checks, messages and storage
// rules live there (daxo_module.h).
//
// Threading: values are read and written only under the owner's module lock
// and then its property lock (both recursive DAXOMutex2, so a callback may
// look up, read or write properties of the same module). A callback that
// writes another module's property nests that module's locks inside its own:
// two modules whose callbacks write each other can deadlock. The value
// accessors (IntegerValue ... EnumValues) return copies taken under the locks. Names and the
// definition copy are fixed at creation (Rename excepted, which runs while the module is not
// running). Callbacks run on the thread that reads or writes, with the property lock held.
#pragma once

#include "daxo_definitions.h"
#include "daxo_event.h"
#include "daxo_property_value.h"
#include "daxo_string.h"

class DAXOModule;
class DAXOProperty;

/// Called after every guarded write, with the property lock held. It may
/// throw: the exception passes to the writer after the lock is released.
using DAXOPropertySetCallback = void (*)(DAXOProperty& property);
/// Called after every typed read with a pointer to the value being returned
/// (bool*, long*, double*, DAXOString*, DAXOEnumStruct*); it may change it.
using DAXOPropertyGetCallback = void (*)(DAXOProperty& property, void* value);

class DAXOProperty {
 public:
  // Copies of the current value, taken under the property lock.
  /// The integer; for an enumeration its selected index.
  virtual DAXOInt64 IntegerValue() = 0;
  /// The string; for an enumeration the selected value's text (empty when
  /// the selection is out of range).
  virtual DAXOString StringValue() = 0;
  virtual bool BoolValue() = 0;
  virtual DAXOFloat64 FloatValue() = 0;
  virtual DAXOEnumStruct EnumValues() = 0;

  /// Full name: owner name, ".", short name.
  virtual const char* Name() = 0;
  virtual const char* ShortName() = 0;
  virtual const char* Unit() = 0;
  virtual DAXOModule* Owner() = 0;
  /// The value's kind (DAXO::PropertyType...).
  virtual int Type() = 0;
  virtual int SubType() = 0;
  /// False when the definition is read-only or SetMutable(false) was called.
  virtual bool IsMutable() = 0;
  /// Stores the flag and returns IsMutable().
  virtual bool SetMutable(bool mutableFlag) = 0;
  /// True from creation and after every write until acknowledged.
  virtual bool PropertyChanged() = 0;
  /// Clears the changed flag and resets the changed event.
  virtual void AcknowledgePropertyChanged() = 0;
  /// The event set by every write; owned by the property.
  virtual DAXOEvent* GetPropertyChangedEvent() = 0;
  virtual DAXOEvent& PropertyChangedEvent() = 0;

  // Writes: guarded writes through the owner (DAXOModule::Set); failures
  // throw DAXO::ErrorException after the owner's error report.
  virtual void Set(bool value) = 0;
  virtual void Set(DAXOInt64 value) = 0;
  virtual void Set(DAXOInt32 value) = 0;
  virtual void Set(DAXOFloat64 value) = 0;
  virtual void Set(const char* value) = 0;
  virtual void Set(const DAXOString& value) = 0;
  virtual void Set(DAXOEnumStruct value) = 0;
  /// An enumeration from its text form, then `selected`.
  virtual void Set(const DAXOString& values, int selected) = 0;

  // Typed reads through the owner (DAXOModule::Get); a kind mismatch throws
  // DAXO::ErrorException after the owner's error report.
  virtual void Get(bool& value) = 0;
  virtual void Get(DAXOInt64& value) = 0;
  virtual void Get(DAXOInt32& value) = 0;
  virtual void Get(DAXOFloat64& value) = 0;
  virtual void Get(DAXOString& value) = 0;
  virtual void Get(DAXOEnumStruct& value) = 0;
  /// The enumeration's values, in order, and its selection.
  virtual void Get(DAXOArray<DAXOString>& values, DAXOInt32& selected) = 0;

  virtual void SetSetCallback(DAXOPropertySetCallback callback) = 0;
  virtual void SetGetCallback(DAXOPropertyGetCallback callback) = 0;
  /// Sets the definition's `locked` flag (a locked enumeration keeps its
  /// values when written as text).
  virtual void Lock(bool locked) = 0;

  virtual ~DAXOProperty() = default;
};

/// The only implementation. Created and destroyed by its owner module only.
class DAXOPropertyImplementation : public DAXOProperty {
 public:
  /// A property named `fullName` of `owner`, boolean false, with an empty
  /// definition whose name is `definitionName` (not copied).
  DAXOPropertyImplementation(const DAXOString& fullName, const char* definitionName,
                             DAXOModule* owner);
  ~DAXOPropertyImplementation() override;
  DAXOPropertyImplementation(const DAXOPropertyImplementation&) = delete;
  DAXOPropertyImplementation& operator=(const DAXOPropertyImplementation&) = delete;

  DAXOInt64 IntegerValue() override;
  DAXOString StringValue() override;
  bool BoolValue() override;
  DAXOFloat64 FloatValue() override;
  DAXOEnumStruct EnumValues() override;
  const char* Name() override { return name; }
  const char* ShortName() override { return shortName; }
  const char* Unit() override { return definition.unit; }
  DAXOModule* Owner() override { return owner; }
  int Type() override;
  int SubType() override { return definition.subtype; }
  bool IsMutable() override { return !definition.readOnly && mutableFlag; }
  bool SetMutable(bool mutableFlag) override;
  bool PropertyChanged() override;
  void AcknowledgePropertyChanged() override;
  DAXOEvent* GetPropertyChangedEvent() override { return &changedEvent; }
  DAXOEvent& PropertyChangedEvent() override { return changedEvent; }
  void Set(bool value) override;
  void Set(DAXOInt64 value) override;
  void Set(DAXOInt32 value) override;
  void Set(DAXOFloat64 value) override;
  void Set(const char* value) override;
  void Set(const DAXOString& value) override;
  void Set(DAXOEnumStruct value) override;
  void Set(const DAXOString& values, int selected) override;
  void Get(bool& value) override;
  void Get(DAXOInt64& value) override;
  void Get(DAXOInt32& value) override;
  void Get(DAXOFloat64& value) override;
  void Get(DAXOString& value) override;
  void Get(DAXOEnumStruct& value) override;
  void Get(DAXOArray<DAXOString>& values, DAXOInt32& selected) override;
  void SetSetCallback(DAXOPropertySetCallback callback) override;
  void SetGetCallback(DAXOPropertyGetCallback callback) override;
  void Lock(bool locked) override;

  /// Follows the owner's rename (see DAXOModuleBase::Rename): a full name
  /// starting with `oldName` + "." takes `newName` in its place.
  void Rename(const char* oldName, const char* newName);

  // Fields. Names and owner are fixed at creation; value, definition flags,
  // callbacks and the two flags are guarded by the owner's property lock.
  // Not annotated: the owner's class is incomplete here, and the analysis
  // could not tie a property to the module whose locks its writer holds;
  // DAXOModule's write steps carry the requirement instead.
  DAXOString name;
  DAXOString shortName;
  DAXOPropertyValue value;
  DAXOPropertyDefinition definition;  // copy without value
  DAXOEvent changedEvent;
  DAXOModule* owner;
  DAXOPropertyGetCallback getCallback = nullptr;
  DAXOPropertySetCallback setCallback = nullptr;
  bool changed = true;
  bool mutableFlag = true;
};
