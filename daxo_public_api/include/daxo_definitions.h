// Definition records of component models: what a component author fills in,
// as static tables, to describe a model's inputs, outputs, properties and
// actions, and the component definition that ties them together.
//
// Tables are static arrays that end with an all-zero row ({}); a component
// definition may give -1 (0xFFFFFFFF) as a table's count, which
// ResolveCounts turns into the number of rows before the terminating one.
// Example rows:
//   {"output", 0, DAXOTypeInfo(DAXO::AnyType), 0, 16, 1, 1}            output
//   {"nb_inputs", new DAXOPropertyValue(1L), nullptr, false, false, false, true, 0}
//   {"rename", new DAXOActionFunction{nullptr, &RenameFn}, true}       action
// Property and action records own their value / action function (deleted
// with the record, duplicated by copies).
//
// Threading: records are built by static initialisers, live until the
// package is unloaded and are only read while components exist; nothing
// here locks.
#pragma once

#include <cstdint>

#include "daxo_property_value.h"
#include "daxo_type_filter.h"
#include "daxo_type_info.h"

using DAXOUInt32 = std::uint32_t;
using DAXOUInt16 = std::uint16_t;
using DAXOInt32 = std::int32_t;
using DAXOInt64 = long;  // the `long` of DAXOTimestamp and of integer properties
using DAXOFloat64 = double;

class DAXOComponent;
class DAXOModule;
struct DAXOComponentDefinition;

namespace DAXO {

// Reader types of an input (how it takes elements from the output's FIFO).
constexpr int FifoReader = 0;
constexpr int NeverSkippingReader = 1;
constexpr int LastOrNextReader = 2;
constexpr int Wait4NextReader = 3;
constexpr int SamplingReader = 4;

// Threading models of a component model (DAXOComponentDefinition::kind bits).
constexpr DAXOUInt32 Threaded = 0x1;
constexpr DAXOUInt32 Sequential = 0x2;

// Property subtype bits (DAXOPropertyDefinition::subtype).
constexpr int PropertySubTypeNone = 0x0;
constexpr int PropertySubTypeTime = 0x1;
constexpr int PropertySubTypeCode = 0x2;
constexpr int PropertySubTypeColor = 0x4;
constexpr int PropertySubTypeHexa = 0x8;
constexpr int PropertySubTypeFile = 0x10;
constexpr int PropertySubTypePath = 0x20;
constexpr int PropertySubTypeMustExist = 0x40;
constexpr int PropertySubTypeHidden = 0x80;
constexpr int PropertySubTypeBeginSubSection = 0x100;
constexpr int PropertySubTypeEndSubSection = 0x200;

}  // namespace DAXO

struct DAXOInputDefinition {
  const char* name = nullptr;
  int reserved = 0;
  const DAXOTypeFilterBase* typeFilter = nullptr;  // not owned
  int readerType = 0;                              // DAXO::FifoReader .. DAXO::SamplingReader
  int subsampling = 0;
};

/// Copies (construction and assignment) copy every field, the type deeply.
struct DAXOOutputDefinition {
  const char* name = nullptr;
  int reserved = 0;
  DAXOTypeInfo type;
  int size = 0;  // default buffer size of the output's I/O elements
  int fifoSize = 0;
  int subsampling = 0;
  int shareable = 0;  // used as a flag
};

/// Owns `value`: the destructor deletes it, copies duplicate it.
struct DAXOPropertyDefinition {
  const char* name;
  DAXOPropertyValue* value;  // owned; the default value
  const char* unit;
  bool needs2BeInitialized;
  bool canBeModifiedAfterStart;
  bool readOnly;
  bool locked;
  int subtype;  // DAXO::PropertySubType... bits

  /// Fields in declaration order; the record takes ownership of `value`.
  DAXOPropertyDefinition(const char* name = nullptr, DAXOPropertyValue* value = nullptr,
                         const char* unit = nullptr, bool needs2BeInitialized = false,
                         bool canBeModifiedAfterStart = false, bool readOnly = false,
                         bool locked = false, int subtype = DAXO::PropertySubTypeNone);
  DAXOPropertyDefinition(const DAXOPropertyDefinition& other);
  DAXOPropertyDefinition(DAXOPropertyDefinition&& other) noexcept;
  DAXOPropertyDefinition& operator=(const DAXOPropertyDefinition& other);
  DAXOPropertyDefinition& operator=(DAXOPropertyDefinition&& other) noexcept;
  ~DAXOPropertyDefinition();

  /// The same record without a value (a property keeps its own value apart
  /// from the definition it copies).
  DAXOPropertyDefinition CopyWithoutValue() const;
};

using DAXOActionCallback = void (*)(DAXOModule* owner, int index);
using DAXOActionCallbackWithArgument = void (*)(DAXOModule* owner, int index, const char* argument);

struct DAXOActionFunction {
  DAXOActionCallback action;
  DAXOActionCallbackWithArgument actionWithArgument;

  /// Calls the function with argument when set, else the plain one, else
  /// nothing. Whatever the called function throws passes through.
  void Run(DAXOModule* owner, int index, const char* argument) const;
};

/// Owns `action`: the destructor deletes it, copies duplicate it.
struct DAXOActionDefinition {
  const char* name;
  DAXOActionFunction* action;  // owned
  bool allowedWhenDead;        // may run while the component is dead
  char reserved[3];

  /// Fields in declaration order; the record takes ownership of `action`.
  DAXOActionDefinition(const char* name = nullptr, DAXOActionFunction* action = nullptr,
                       bool allowedWhenDead = false);
  DAXOActionDefinition(const DAXOActionDefinition& other);
  DAXOActionDefinition(DAXOActionDefinition&& other) noexcept;
  DAXOActionDefinition& operator=(const DAXOActionDefinition& other);
  DAXOActionDefinition& operator=(DAXOActionDefinition&& other) noexcept;
  ~DAXOActionDefinition();

  /// True when the action takes a text argument.
  bool NeedArgument() const { return action != nullptr && action->actionWithArgument != nullptr; }
};

using DAXOComponentInstantiationFunction = DAXOComponent* (*)(const char* instanceName,
                                                              DAXOComponentDefinition& definition);
/// Called with the definition's user argument when the model is registered
/// with (unregistered from) the engine.
using DAXORegisteringFunction = void (*)(void* userArgument);
using DAXOUnregisteringFunction = void (*)(void* userArgument);

/// A component model. Not owning: the tables are static arrays of the author.
struct DAXOComponentDefinition {
  /// Table counts of this value are resolved by ResolveCounts.
  static constexpr DAXOUInt32 CountUntilZeroRow = 0xFFFFFFFF;

  const char* name = nullptr;
  const char* version = nullptr;
  DAXOComponentInstantiationFunction instantiate = nullptr;
  DAXORegisteringFunction registering = nullptr;      // may be null
  DAXOUnregisteringFunction unregistering = nullptr;  // may be null
  DAXOUInt32 maxInstances = 0;                        // 0: no limit
  DAXOUInt32 nbInputs = 0;
  DAXOInputDefinition* inputs = nullptr;
  DAXOUInt32 nbOutputs = 0;
  DAXOOutputDefinition* outputs = nullptr;
  DAXOUInt32 nbProperties = 0;
  DAXOPropertyDefinition* properties = nullptr;
  DAXOUInt32 nbActions = 0;
  DAXOActionDefinition* actions = nullptr;
  DAXOUInt16 priority = 0;  // default of the "priority" property
  DAXOUInt32 kind = 0;      // DAXO::Threaded and/or DAXO::Sequential
  bool threaded = false;    // default threading model
  DAXOInt32 reserved = 0;

  /// Turns each count of CountUntilZeroRow into the number of rows before
  /// the first row with a null name (0 for a null table). Other counts are
  /// left alone, so calling it again changes nothing. Call it once, before
  /// any component of the model is constructed (e.g. when the model is
  /// registered); it writes the record without a lock.
  void ResolveCounts();
};
