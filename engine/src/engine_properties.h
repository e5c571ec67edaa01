// EngineProperties: the engine's typed properties (bool, integer, float,
// string) by name. "Engine.sequentialStart" (false), "Engine.shutdownTimeout"
// (10000000 µs) and "Engine.version" exist from construction.
//
// Reading: a missing property reads as false, 0, 0.0 or "" with `found`
// false. Numeric types convert among themselves (a bool reads as 0/1, a
// number as a bool when non-zero); a string property reads as 0 from the
// numeric getters and numbers read as "" from the string getter, with
// `found` true in both cases since the property exists.
//
// String lifetime: GetString hands out a pointer into the engine. Every text
// ever stored stays alive until the engine is destroyed (replaced texts are
// retired, not freed), so a pointer read by one thread stays valid even when
// another thread sets the property meanwhile. The cost is memory growth for
// properties rewritten very often, which the engine's own properties are not.
//
// Threading: every method from any thread; one leaf lock.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine_mutex.h"

namespace velquor {

class EngineProperties {
 public:
  explicit EngineProperties(const char* version);

  void SetBool(const std::string& name, bool value);
  void SetInteger(const std::string& name, long value);
  void SetFloat(const std::string& name, double value);
  void SetString(const std::string& name, const std::string& value);

  bool GetBool(const std::string& name, bool* found) const;
  long GetInteger(const std::string& name, bool* found) const;
  double GetFloat(const std::string& name, bool* found) const;
  /// Valid until the engine is destroyed (see the banner). Never null.
  const char* GetString(const std::string& name, bool* found) const;

 private:
  enum class Type { Bool, Integer, Float, String };
  struct Value {
    Type type = Type::Integer;
    long integer = 0;  // bool and integer
    double real = 0.0;
    const std::string* text = nullptr;  // owned by m_texts
  };

  void Store(const std::string& name, Value value) DAXO_REQUIRES(m_lock);
  const Value* Find(const std::string& name, bool* found) const DAXO_REQUIRES(m_lock);

  mutable Mutex m_lock;  // a leaf
  std::map<std::string, Value> m_values DAXO_GUARDED_BY(m_lock);
  // Every text ever stored.
  std::vector<std::unique_ptr<std::string>> m_texts DAXO_GUARDED_BY(m_lock);
};

}  // namespace velquor
