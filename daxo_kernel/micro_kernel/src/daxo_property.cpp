// DAXOPropertyImplementation: accessors under the owner's value locks and
// forwarders to the owner's typed Set / Get.
#include "daxo_property.h"

#include <cstring>

#include "daxo_module.h"
#include "daxo_mutex.h"

DAXOPropertyImplementation::DAXOPropertyImplementation(const DAXOString& fullName,
                                                       const char* definitionName,
                                                       DAXOModule* ownerModule)
    : name(fullName), definition(definitionName), owner(ownerModule) {}

DAXOPropertyImplementation::~DAXOPropertyImplementation() = default;

DAXOInt64 DAXOPropertyImplementation::IntegerValue() {
  DAXOModule::ValueGuard guard(*owner);
  if (value.type == DAXO::PropertyTypeEnum) return value.value.enumeration->selected;
  return value.type == DAXO::PropertyTypeInteger ? value.value.integer : 0;
}

DAXOString DAXOPropertyImplementation::StringValue() {
  DAXOModule::ValueGuard guard(*owner);
  if (value.type == DAXO::PropertyTypeEnum) return value.value.enumeration->SelectedValue();
  if (value.type == DAXO::PropertyTypeString && value.value.string != nullptr) {
    return *value.value.string;
  }
  return DAXOString();
}

bool DAXOPropertyImplementation::BoolValue() {
  DAXOModule::ValueGuard guard(*owner);
  return value.type == DAXO::PropertyTypeBool && value.value.boolean;
}

DAXOFloat64 DAXOPropertyImplementation::FloatValue() {
  DAXOModule::ValueGuard guard(*owner);
  return value.type == DAXO::PropertyTypeFloat ? value.value.floating : 0.0;
}

DAXOEnumStruct DAXOPropertyImplementation::EnumValues() {
  DAXOModule::ValueGuard guard(*owner);
  if (value.type == DAXO::PropertyTypeEnum) return *value.value.enumeration;
  return DAXOEnumStruct();
}

int DAXOPropertyImplementation::Type() {
  DAXOModule::ValueGuard guard(*owner);
  return value.type;
}

bool DAXOPropertyImplementation::SetMutable(bool flag) {
  DAXOModule::ValueGuard guard(*owner);
  mutableFlag = flag;
  return IsMutable();
}

bool DAXOPropertyImplementation::PropertyChanged() {
  DAXOModule::ValueGuard guard(*owner);
  return changed;
}

void DAXOPropertyImplementation::AcknowledgePropertyChanged() {
  DAXOModule::ValueGuard guard(*owner);
  changed = false;
  changedEvent.Reset();
}

void DAXOPropertyImplementation::Set(bool v) {
  owner->Set(*this, v);
}
void DAXOPropertyImplementation::Set(DAXOInt64 v) {
  owner->Set(*this, v);
}
void DAXOPropertyImplementation::Set(DAXOInt32 v) {
  owner->Set(*this, static_cast<long>(v));
}
void DAXOPropertyImplementation::Set(DAXOFloat64 v) {
  owner->Set(*this, v);
}
void DAXOPropertyImplementation::Set(const char* v) {
  owner->Set(*this, DAXOString(v));
}
void DAXOPropertyImplementation::Set(const DAXOString& v) {
  owner->Set(*this, v);
}
void DAXOPropertyImplementation::Set(DAXOEnumStruct v) {
  owner->Set(*this, static_cast<const DAXOEnumStruct&>(v));
}
void DAXOPropertyImplementation::Set(const DAXOString& values, int selected) {
  owner->Set(*this, values, selected);
}

void DAXOPropertyImplementation::Get(bool& v) {
  owner->Get(*this, v);
}
void DAXOPropertyImplementation::Get(DAXOInt64& v) {
  owner->Get(*this, v);
}
void DAXOPropertyImplementation::Get(DAXOInt32& v) {
  long wide = 0;
  owner->Get(*this, wide);
  v = static_cast<DAXOInt32>(wide);
}
void DAXOPropertyImplementation::Get(DAXOFloat64& v) {
  owner->Get(*this, v);
}
void DAXOPropertyImplementation::Get(DAXOString& v) {
  owner->Get(*this, v);
}
void DAXOPropertyImplementation::Get(DAXOEnumStruct& v) {
  owner->Get(*this, v);
}
void DAXOPropertyImplementation::Get(DAXOArray<DAXOString>& values, DAXOInt32& selected) {
  DAXOEnumStruct e;
  owner->Get(*this, e);
  values.Clear();
  for (int i = 0; i < e.Count(); ++i) values.Append(e.Value(i));
  selected = e.selected;
}

void DAXOPropertyImplementation::SetSetCallback(DAXOPropertySetCallback callback) {
  DAXOModule::ValueGuard guard(*owner);
  setCallback = callback;
}

void DAXOPropertyImplementation::SetGetCallback(DAXOPropertyGetCallback callback) {
  DAXOModule::ValueGuard guard(*owner);
  getCallback = callback;
}

void DAXOPropertyImplementation::Lock(bool locked) {
  DAXOModule::ValueGuard guard(*owner);
  definition.locked = locked;
}

void DAXOPropertyImplementation::Rename(const char* oldName, const char* newName) {
  if (oldName == nullptr) return;
  const int n = static_cast<int>(std::strlen(oldName));
  if (name.Length() <= n || std::strncmp(name, oldName, n) != 0 || name[n] != '.') return;
  DAXOString renamed(newName);
  renamed += static_cast<const char*>(name) + n;
  name = renamed;
}
