#include "engine_properties.h"

namespace velquor {

namespace {
const char kEmpty[] = "";
}

EngineProperties::EngineProperties(const char* version) {
  SetBool("Engine.sequentialStart", false);
  SetInteger("Engine.shutdownTimeout", 10000000L);
  SetString("Engine.version", version);
}

void EngineProperties::Store(const std::string& name, Value value) {
  m_values[name] = value;
}

void EngineProperties::SetBool(const std::string& name, bool value) {
  MutexLock lock(m_lock);
  Store(name, Value{Type::Bool, value ? 1L : 0L, 0.0, nullptr});
}

void EngineProperties::SetInteger(const std::string& name, long value) {
  MutexLock lock(m_lock);
  Store(name, Value{Type::Integer, value, 0.0, nullptr});
}

void EngineProperties::SetFloat(const std::string& name, double value) {
  MutexLock lock(m_lock);
  Store(name, Value{Type::Float, 0, value, nullptr});
}

void EngineProperties::SetString(const std::string& name, const std::string& value) {
  auto text = std::make_unique<std::string>(value);
  MutexLock lock(m_lock);
  m_texts.push_back(std::move(text));
  Store(name, Value{Type::String, 0, 0.0, m_texts.back().get()});
}

const EngineProperties::Value* EngineProperties::Find(const std::string& name, bool* found) const {
  auto it = m_values.find(name);
  const Value* value = it == m_values.end() ? nullptr : &it->second;
  if (found != nullptr) *found = value != nullptr;
  return value;
}

bool EngineProperties::GetBool(const std::string& name, bool* found) const {
  MutexLock lock(m_lock);
  const Value* value = Find(name, found);
  if (value == nullptr) return false;
  switch (value->type) {
    case Type::Bool:
    case Type::Integer:
      return value->integer != 0;
    case Type::Float:
      return value->real != 0.0;
    case Type::String:
      break;
  }
  return false;
}

long EngineProperties::GetInteger(const std::string& name, bool* found) const {
  MutexLock lock(m_lock);
  const Value* value = Find(name, found);
  if (value == nullptr) return 0;
  switch (value->type) {
    case Type::Bool:
    case Type::Integer:
      return value->integer;
    case Type::Float:
      return static_cast<long>(value->real);
    case Type::String:
      break;
  }
  return 0;
}

double EngineProperties::GetFloat(const std::string& name, bool* found) const {
  MutexLock lock(m_lock);
  const Value* value = Find(name, found);
  if (value == nullptr) return 0.0;
  switch (value->type) {
    case Type::Bool:
    case Type::Integer:
      return static_cast<double>(value->integer);
    case Type::Float:
      return value->real;
    case Type::String:
      break;
  }
  return 0.0;
}

const char* EngineProperties::GetString(const std::string& name, bool* found) const {
  MutexLock lock(m_lock);
  const Value* value = Find(name, found);
  if (value == nullptr || value->type != Type::String) return kEmpty;
  return value->text->c_str();
}

}  // namespace velquor
