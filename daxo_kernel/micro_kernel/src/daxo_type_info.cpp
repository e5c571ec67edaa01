// DAXOTypeInfo: a type value with optional owned name and unit strings.
#include "daxo_type_info.h"

#include <utility>

namespace {

// Makes `target` a copy of `source`: an absent source deletes the target,
// a present one is copied into the existing string or a new one.
void CopyString(DAXOString*& target, const DAXOString* source) {
  if (source == nullptr) {
    delete target;
    target = nullptr;
  } else if (target == nullptr) {
    target = new DAXOString(*source);
  } else if (target != source) {
    *target = *source;
  }
}

void SetString(DAXOString*& target, const char* text) {
  if (target == nullptr) {
    target = new DAXOString(text);
  } else {
    *target = text;  // null stores the empty string
  }
}

}  // namespace

DAXOTypeInfo::DAXOTypeInfo(DAXOTypeInfoValue v, const char* n, const char* u) : value(v) {
  if (n != nullptr) SetName(n);
  if (u != nullptr) {
    try {
      SetUnit(u);
    } catch (...) {
      delete name;
      throw;
    }
  }
}

DAXOTypeInfo::DAXOTypeInfo(const DAXOTypeInfo& other) : value(other.value) {
  CopyString(name, other.name);
  try {
    CopyString(unit, other.unit);
  } catch (...) {
    delete name;
    throw;
  }
}

DAXOTypeInfo::DAXOTypeInfo(DAXOTypeInfo&& other) noexcept
    : value(other.value),
      name(std::exchange(other.name, nullptr)),
      unit(std::exchange(other.unit, nullptr)) {}

DAXOTypeInfo& DAXOTypeInfo::operator=(const DAXOTypeInfo& other) {
  if (this != &other) {
    value = other.value;
    CopyString(name, other.name);
    CopyString(unit, other.unit);
  }
  return *this;
}

DAXOTypeInfo& DAXOTypeInfo::operator=(DAXOTypeInfo&& other) noexcept {
  if (this != &other) {
    delete name;
    delete unit;
    value = other.value;
    name = std::exchange(other.name, nullptr);
    unit = std::exchange(other.unit, nullptr);
  }
  return *this;
}

DAXOTypeInfo::~DAXOTypeInfo() {
  delete name;
  delete unit;
}

void DAXOTypeInfo::SetName(const char* text) {
  SetString(name, text);
}

void DAXOTypeInfo::SetUnit(const char* text) {
  SetString(unit, text);
}
