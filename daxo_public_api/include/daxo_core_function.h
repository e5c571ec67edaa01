// Engine functions: modules the engine loads beside the diagram, not inside
// it. An engine function has a name and properties like a component, but no
// inputs, outputs or main thread; the engine creates it on demand
// (DAXO::LoadCoreFunction, or a script's `function` line), starts it, and
// ends and destroys it when it is unloaded and nobody uses it any more.
// Components find one by name (DAXO::CoreFunction) and take its interface
// (GetInterface, which counts one more user) until they release it.
//
// A package declares an engine-function model with a
// DAXOCoreFunctionDefinition in the registry group "DAXOCoreFunction"
// (DAXO::CoreFunctionGroup), as it declares a component model in
// "DAXOComponent":
//
//   DAXOCoreFunctionDefinition clockOffset{"ClockOffset", "1.0.0", &NewClockOffset, ...};
//   DAXO_DECLARE_MODULE(ClockOffset, "DAXOCoreFunction", "ClockOffset", "1.0.0", &clockOffset);
//
// Lifecycle, as the engine drives it (every call through a virtual function,
// so that it runs the package's own copy of the SDK): the definition's
// instantiate function builds it (the constructor creates the definition's
// properties), the engine may set properties, EngineStart() makes it living,
// EngineEnd() asks it to die and waits for its extra threads, then the engine
// deletes it. Unloading is refused while the use count is above 0.
//
// Threading: GetInterface / ReleaseInterface from any thread (the use count
// is atomic). The configuration operations are the model's own; the
// defaults do nothing. The engine calls EngineStart / EngineEnd and the
// destructor from one thread at a time, with its diagram lock held around
// construction and destruction (daxo_lock_order.h, level 1).
#pragma once

#include <atomic>

#include "daxo_definitions.h"
#include "daxo_module.h"

class DAXOCoreFunction;
struct DAXOCoreFunctionDefinition;

namespace DAXO {
/// The registry group of engine-function models.
inline constexpr const char* CoreFunctionGroup = "DAXOCoreFunction";
}  // namespace DAXO

using DAXOCoreFunctionInstantiationFunction =
    DAXOCoreFunction* (*)(const char* instanceName, DAXOCoreFunctionDefinition& definition);

/// An engine-function model. Not owning: the property table is a static
/// array of the author (a count of CountUntilZeroRow, the default, counts the
/// rows before one with a null name).
struct DAXOCoreFunctionDefinition {
  static constexpr DAXOUInt32 CountUntilZeroRow = 0xFFFFFFFF;

  const char* name = nullptr;
  const char* version = nullptr;
  DAXOCoreFunctionInstantiationFunction instantiate = nullptr;
  DAXOUInt32 nbProperties = CountUntilZeroRow;
  DAXOPropertyDefinition* properties = nullptr;
  /// One line saying what the function offers (shown by `velquor inspect`).
  const char* description = nullptr;

  /// Turns a count of CountUntilZeroRow into the number of rows; calling it
  /// again changes nothing. The engine calls it once, when it reads the
  /// model.
  void ResolveCounts();
};

/// How the engine drives an engine function. Every operation is virtual so
/// that the engine, which carries its own copy of the SDK, runs the
/// package's code.
class DAXOCoreFunctionInterface {
 public:
  virtual ~DAXOCoreFunctionInterface() = default;
  /// Users that took the interface and did not release it yet.
  virtual int UseCount() const = 0;
  /// Makes the function living (tells the engine its state).
  virtual void EngineStart() = 0;
  /// Asks the function to die, waits for its extra threads (at most
  /// "Engine.shutdownTimeout") and marks it dead. The engine deletes it next.
  virtual void EngineEnd() = 0;
};

class DAXOCoreFunction : public DAXOModule, public DAXOCoreFunctionInterface {
 public:
  /// A function named `name` with the "processor" property and, one by one,
  /// the properties of `definition`'s table. Throws DAXO::ErrorException
  /// when the engine refuses a property name.
  DAXOCoreFunction(const char* name, DAXOCoreFunctionDefinition& definition);
  ~DAXOCoreFunction() override;

  /// "engine function".
  const char* Kind() const override;

  // Configuration, the model's own; the defaults do nothing (Save... writes
  // nothing and answers 0 bytes).
  virtual void LoadConfiguration();
  virtual void SaveConfiguration();
  virtual void LoadConfiguration(const char* text, int size);
  virtual int SaveConfiguration(char* buffer, int size);
  /// One more user; the default answers null (a function that offers an
  /// interface returns its address here). Every call must be matched by one
  /// ReleaseInterface.
  virtual void* GetInterface();
  /// One user less.
  virtual void ReleaseInterface();

  int UseCount() const override { return m_useCount.load(); }
  void EngineStart() override;
  void EngineEnd() override;

  DAXOCoreFunctionDefinition& Definition() const { return m_definition; }

 private:
  DAXOCoreFunctionDefinition& m_definition;
  std::atomic<int> m_useCount{0};
};
