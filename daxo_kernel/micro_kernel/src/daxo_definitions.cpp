// Definition records: ownership of property values and action functions,
// action dispatch, and the resolution of "until the zero row" table counts.
#include "daxo_definitions.h"

#include <utility>

// --- DAXOPropertyDefinition --------------------------------------------------

DAXOPropertyDefinition::DAXOPropertyDefinition(const char* n, DAXOPropertyValue* v, const char* u,
                                               bool needs, bool modifiable, bool ro, bool lck,
                                               int sub)
    : name(n),
      value(v),
      unit(u),
      needs2BeInitialized(needs),
      canBeModifiedAfterStart(modifiable),
      readOnly(ro),
      locked(lck),
      subtype(sub) {}

DAXOPropertyDefinition::DAXOPropertyDefinition(const DAXOPropertyDefinition& other)
    : DAXOPropertyDefinition(other.CopyWithoutValue()) {
  if (other.value != nullptr) value = new DAXOPropertyValue(*other.value);
}

DAXOPropertyDefinition::DAXOPropertyDefinition(DAXOPropertyDefinition&& other) noexcept
    : name(other.name),
      value(std::exchange(other.value, nullptr)),
      unit(other.unit),
      needs2BeInitialized(other.needs2BeInitialized),
      canBeModifiedAfterStart(other.canBeModifiedAfterStart),
      readOnly(other.readOnly),
      locked(other.locked),
      subtype(other.subtype) {}

DAXOPropertyDefinition& DAXOPropertyDefinition::operator=(const DAXOPropertyDefinition& other) {
  if (this != &other) *this = DAXOPropertyDefinition(other);
  return *this;
}

DAXOPropertyDefinition& DAXOPropertyDefinition::operator=(DAXOPropertyDefinition&& other) noexcept {
  if (this != &other) {
    delete value;
    name = other.name;
    value = std::exchange(other.value, nullptr);
    unit = other.unit;
    needs2BeInitialized = other.needs2BeInitialized;
    canBeModifiedAfterStart = other.canBeModifiedAfterStart;
    readOnly = other.readOnly;
    locked = other.locked;
    subtype = other.subtype;
  }
  return *this;
}

DAXOPropertyDefinition::~DAXOPropertyDefinition() {
  delete value;
}

DAXOPropertyDefinition DAXOPropertyDefinition::CopyWithoutValue() const {
  return DAXOPropertyDefinition(name, nullptr, unit, needs2BeInitialized, canBeModifiedAfterStart,
                                readOnly, locked, subtype);
}

// --- actions -------------------------------------------------------------------

void DAXOActionFunction::Run(DAXOModule* owner, int index, const char* argument) const {
  if (actionWithArgument != nullptr) {
    actionWithArgument(owner, index, argument);
  } else if (action != nullptr) {
    action(owner, index);
  }
}

DAXOActionDefinition::DAXOActionDefinition(const char* n, DAXOActionFunction* a, bool dead)
    : name(n), action(a), allowedWhenDead(dead), reserved{0, 0, 0} {}

DAXOActionDefinition::DAXOActionDefinition(const DAXOActionDefinition& other)
    : DAXOActionDefinition(
          other.name, other.action != nullptr ? new DAXOActionFunction(*other.action) : nullptr,
          other.allowedWhenDead) {}

DAXOActionDefinition::DAXOActionDefinition(DAXOActionDefinition&& other) noexcept
    : DAXOActionDefinition(other.name, std::exchange(other.action, nullptr),
                           other.allowedWhenDead) {}

DAXOActionDefinition& DAXOActionDefinition::operator=(const DAXOActionDefinition& other) {
  if (this != &other) *this = DAXOActionDefinition(other);
  return *this;
}

DAXOActionDefinition& DAXOActionDefinition::operator=(DAXOActionDefinition&& other) noexcept {
  if (this != &other) {
    delete action;
    name = other.name;
    action = std::exchange(other.action, nullptr);
    allowedWhenDead = other.allowedWhenDead;
  }
  return *this;
}

DAXOActionDefinition::~DAXOActionDefinition() {
  delete action;
}

// --- DAXOComponentDefinition -------------------------------------------------

namespace {

template <class Row>
void Resolve(DAXOUInt32& count, const Row* table) {
  if (count != DAXOComponentDefinition::CountUntilZeroRow) return;
  DAXOUInt32 rows = 0;
  if (table != nullptr) {
    while (table[rows].name != nullptr) ++rows;
  }
  count = rows;
}

}  // namespace

void DAXOComponentDefinition::ResolveCounts() {
  Resolve(nbInputs, inputs);
  Resolve(nbOutputs, outputs);
  Resolve(nbProperties, properties);
  Resolve(nbActions, actions);
}
