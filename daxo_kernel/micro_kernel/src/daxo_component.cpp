// DAXOComponent: construction from the model's definition, the dynamic
// elements, extra threads, the callbacks of the standard component
// properties, and renaming (the lifecycle is in daxo_component_lifecycle.cpp).
#include "daxo_component.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "daxo_io.h"
#include "daxo_kernel.h"
#include "daxo_services.h"
#include "daxo_thread.h"
#include "private/diagram_lock_scope.h"

// name, default, unit, needs2BeInitialized, canBeModifiedAfterStart, readOnly,
// locked, subtype.
const DAXOPropertyDefinition DAXOComponent::ThreadedPropertyDefinition{
    "threaded", new DAXOPropertyValue(false), nullptr, false, false, false, true};
const DAXOPropertyDefinition DAXOComponent::PriorityPropertyDefinition{
    "priority", new DAXOPropertyValue(128L), nullptr, false, true, false, true};
const DAXOPropertyDefinition DAXOComponent::AutoStartPropertyDefinition{
    "autoStart", new DAXOPropertyValue(true), nullptr, false, true, false, true};
const DAXOPropertyDefinition DAXOComponent::VersionPropertyDefinition{
    "componentModelVersion", new DAXOPropertyValue(""), nullptr, false, false, true, true};
const DAXOPropertyDefinition DAXOComponent::PrimaryThreadIDPropertyDefinition{
    "primaryThreadID", new DAXOPropertyValue(-1L), nullptr, false, false, true, true};

DAXOComponent::DAXOComponent(const char* name, DAXOComponentDefinition& definition)
    : DAXOModule(name, true, true), m_definition(&definition) {
  // Never started: dead, and its death counts as done.
  ChangeState(DAXO::DeadState, DAXO::LivingState);

  DAXOProperty* threaded = NewSpecialProperty(ThreadedPropertyDefinition);
  DirectSet(*threaded, definition.threaded);
  m_threaded = definition.threaded;
  threaded->SetSetCallback(&SetThreadedPropertyCallback);
  DAXOProperty* priority = NewSpecialProperty(PriorityPropertyDefinition);
  DirectSet(*priority, static_cast<long>(definition.priority));
  priority->SetSetCallback(&SetPriorityPropertyCallback);
  NewSpecialProperty(AutoStartPropertyDefinition)->SetSetCallback(&SetAutoStartPropertyCallback);
  DirectSet(*NewSpecialProperty(VersionPropertyDefinition),
            DAXOString(definition.version != nullptr ? definition.version : ""));
  NewSpecialProperty(PrimaryThreadIDPropertyDefinition);

  // A table still counted "until the zero row" is walked to that row.
  const DAXOUInt32 n = definition.nbProperties;
  for (DAXOUInt32 i = 0; definition.properties != nullptr && i < n; ++i) {
    const DAXOPropertyDefinition& row = definition.properties[i];
    if (n == DAXOComponentDefinition::CountUntilZeroRow && row.name == nullptr) break;
    NewProperty(row);
  }
  for (DAXOUInt32 i = 0; definition.inputs != nullptr && i < definition.nbInputs; ++i) {
    const DAXOInputDefinition& row = definition.inputs[i];
    if (definition.nbInputs == DAXOComponentDefinition::CountUntilZeroRow && row.name == nullptr) {
      break;
    }
    NewInput(row);
  }
  for (DAXOUInt32 i = 0; definition.outputs != nullptr && i < definition.nbOutputs; ++i) {
    const DAXOOutputDefinition& row = definition.outputs[i];
    if (definition.nbOutputs == DAXOComponentDefinition::CountUntilZeroRow && row.name == nullptr) {
      break;
    }
    NewOutput(row);
  }
  for (DAXOUInt32 i = 0; definition.actions != nullptr && i < definition.nbActions; ++i) {
    const DAXOActionDefinition& row = definition.actions[i];
    if (definition.nbActions == DAXOComponentDefinition::CountUntilZeroRow && row.name == nullptr) {
      break;
    }
    NewAction(row);
  }
}

DAXOComponent::~DAXOComponent() {
  DAXOUInt32& limit = m_definition->maxInstances;
  if (limit != 0) limit = (limit == 0xFFFFFFFF) ? 1 : limit + 1;
  if ((State() & DAXO::DeadState) == 0) {
    DAXOStreamedString text("The destructor of component ");
    text << name << " was called though " << name << " is still alive.";
    DAXOPrivate::Report(text, DAXO::Error, 1, true);
  }
}

namespace {

/// The row of a definition table: by index, or the first row named `model`
/// (tables end with a row without a name). Null when there is none.
template <class Row>
const Row* TableRow(const Row* table, DAXOUInt32 count, int index) {
  if (table == nullptr || index < 0) return nullptr;
  for (DAXOUInt32 i = 0; i < count; ++i) {
    if (count == DAXOComponentDefinition::CountUntilZeroRow && table[i].name == nullptr) break;
    if (static_cast<DAXOUInt32>(index) == i) return &table[i];
  }
  return nullptr;
}

template <class Row>
const Row* TableRow(const Row* table, const char* model) {
  for (int i = 0; table != nullptr && model != nullptr && table[i].name != nullptr; ++i) {
    if (std::strcmp(table[i].name, model) == 0) return &table[i];
  }
  return nullptr;
}

DAXOStreamedString NoModel(const char* kind, const char* model, const char* name) {
  DAXOStreamedString text("Call to New");
  text << kind << "(" << (model != nullptr ? model : "") << ", " << (name != nullptr ? name : "")
       << ") failed. The given model (" << (model != nullptr ? model : "") << ") does not exist.";
  return text;
}

}  // namespace

DAXOOutput& DAXOComponent::NewOutput(const DAXOOutputDefinition& definition,
                                     const char* shortName) {
  return CreateOutput(definition, shortName, "^[a-zA-Z][a-zA-Z_0-9]*$");
}

DAXOInput& DAXOComponent::NewInput(int index, const char* shortName) {
  const auto* row = TableRow(m_definition->inputs, m_definition->nbInputs, index);
  if (row == nullptr) Error("Call to NewInput failed. Bad input definition.", 2);
  return NewInput(*row, shortName);
}

DAXOOutput& DAXOComponent::NewOutput(int index, const char* shortName) {
  const auto* row = TableRow(m_definition->outputs, m_definition->nbOutputs, index);
  if (row == nullptr) Error("Call to NewOutput failed. Bad output definition.", 2);
  return NewOutput(*row, shortName);
}

DAXOProperty* DAXOComponent::NewProperty(int index, const char* shortName) {
  const auto* row = TableRow(m_definition->properties, m_definition->nbProperties, index);
  if (row == nullptr) Error("Call to NewProperty failed. Bad property definition.", 2);
  return NewProperty(*row, shortName);
}

DAXOInput& DAXOComponent::NewInput(const char* model, const char* shortName) {
  const auto* row = TableRow(m_definition->inputs, model);
  if (row == nullptr) Error(NoModel("Input", model, shortName), 2);
  return NewInput(*row, shortName);
}

DAXOOutput& DAXOComponent::NewOutput(const char* model, const char* shortName) {
  const auto* row = TableRow(m_definition->outputs, model);
  if (row == nullptr) Error(NoModel("Output", model, shortName), 2);
  return NewOutput(*row, shortName);
}

DAXOProperty* DAXOComponent::NewProperty(const char* model, const char* shortName) {
  const auto* row = TableRow(m_definition->properties, model);
  if (row == nullptr) Error(NoModel("Property", model, shortName), 2);
  return NewProperty(*row, shortName);
}

DAXOAction& DAXOComponent::NewAction(int index, const char* shortName) {
  const auto* row = TableRow(m_definition->actions, m_definition->nbActions, index);
  if (row == nullptr) Error("Call to NewAction failed. Bad action definition.", 2);
  return NewAction(*row, shortName);
}

DAXOAction& DAXOComponent::NewAction(const char* model, const char* shortName) {
  const auto* row = TableRow(m_definition->actions, model);
  if (row == nullptr) Error(NoModel("Action", model, shortName), 2);
  return NewAction(*row, shortName);
}

// --- dynamic elements ------------------------------------------------------------------

namespace {

/// Rows of a definition table (a count "until the zero row" is walked).
template <class Row>
int OwnRows(const Row* table, DAXOUInt32 count) {
  if (table == nullptr) return 0;
  if (count != DAXOComponentDefinition::CountUntilZeroRow) return static_cast<int>(count);
  int n = 0;
  while (table[n].name != nullptr) ++n;
  return n;
}

}  // namespace

void DAXOComponent::Dynamic() {
  ClearDynamicCursors();
}

void DAXOComponent::ResetDynamic() {
  const DAXOComponentDefinition& d = *m_definition;
  PlaceDynamicCursors(OwnRows(d.inputs, d.nbInputs), OwnRows(d.outputs, d.nbOutputs),
                      OwnRows(d.properties, d.nbProperties), OwnRows(d.actions, d.nbActions));
}

void DAXOComponent::CallDynamic() {
  DAXOPrivate::DiagramLockScope diagram("Calling Dynamic");
  {
    DAXOMutexGuard lifecycle(m_lifecycleLock);
    if ((State() & DAXO::LivingState) == 0 && !m_inDynamic) {
      m_inDynamic = true;
      // The module lock is taken by each creation and removal, not around
      // them all: removing an input detaches it, which takes its writer's
      // connection mutex (connection mutexes come before module locks).
      ResetDynamic();
      ChangeStateQuietly(0, DAXO::ErrorState);
      try {
        Dynamic();
      } catch (...) {
        ChangeStateQuietly(DAXO::ErrorState, 0);
      }
      RemoveFromDynamicCursors();
      m_inDynamic = false;
    }
  }
  NotifyState();
}

void DAXOComponent::Set(DAXOProperty& property, bool value) {
  DAXOModule::Set(property, value);
  CallDynamic();
}

void DAXOComponent::Set(DAXOProperty& property, long value) {
  DAXOModule::Set(property, value);
  CallDynamic();
}

void DAXOComponent::Set(DAXOProperty& property, double value) {
  DAXOModule::Set(property, value);
  CallDynamic();
}

void DAXOComponent::Set(DAXOProperty& property, const DAXOString& value) {
  DAXOModule::Set(property, value);
  CallDynamic();
}

void DAXOComponent::Set(DAXOProperty& property, const DAXOEnumStruct& value) {
  DAXOModule::Set(property, value);
  CallDynamic();
}

// --- extra threads ---------------------------------------------------------------------

void DAXOComponent::CreateThread(void (DAXOModule::*function)()) {
  StartExtraThread(function, "Failed to create a component thread that runs a member function");
}

namespace {

/// The start record of a thread running a free function; lives on the
/// creator's stack until `started` is set.
struct FreeThreadStart {
  int reserved0;
  int reserved1;
  std::atomic<bool>* started;
  bool* created;
  unsigned long* threadId;
  DAXOComponent* component;
  void (*function)(void*);
  void* argument;
};

void FreeThreadEntry(void* record) {
  auto* start = static_cast<FreeThreadStart*>(record);
  DAXOComponent* component = start->component;
  void (*function)(void*) = start->function;
  void* argument = start->argument;
  component->OneMoreLife();
  *start->created = true;
  *start->threadId = DAXO::GetCurrentThreadId();
  start->started->store(true);
  try {
    function(argument);
  } catch (...) {
    DAXOStreamedString text(component->name != nullptr ? component->name : "");
    text << ": unhandled exception thrown from a component thread.";
    DAXOPrivate::Report(text, DAXO::Error, 2, true);
  }
  component->LoseOneLife();
}

}  // namespace

DAXOCouple<bool, unsigned long> DAXOComponent::CreateThread(void (*function)(void*),
                                                            void* argument) {
  bool found = false;
  DAXOPrivate::EngineStringProperty("Engine.version", &found);
  if (!found) {
    Error(
        "This component needs to create a component thread that runs a non-member function. "
        "Your engine version does NOT support creating component threads that run non-member "
        "functions. Either update your engine to Velquor >= 4.7.0 or change this component's "
        "code to use DAXOComponent::CreateThread(DAXOThreadFunction) instead of "
        "DAXOComponent::CreateThread(DAXOThreadFreeFunction, void*)",
        1);
  }
  std::atomic<bool> started{false};
  bool created = false;
  unsigned long threadId = 0;
  FreeThreadStart start{0, 1, &started, &created, &threadId, this, function, argument};
  if (function == nullptr || DAXOPrivate::kernel == nullptr ||
      !DAXOPrivate::kernel->StartModuleThread(&FreeThreadEntry, &start, this)) {
    Error("Failed to create a component thread that runs a non-member function", 1);
  }
  while (!started.load()) DAXO::Wait4AWhile();
  return DAXOCouple<bool, unsigned long>(created, threadId);
}

const char* DAXOComponent::Kind() const {
  return "component";
}

bool DAXOComponent::IsThreaded() {
  return m_threaded.load();
}

// The callbacks run under the value locks of the property's module: they
// read the stored value directly.

void DAXOComponent::SetThreadedPropertyCallback(DAXOProperty& property) {
  auto* component = static_cast<DAXOComponent*>(property.Owner());
  component->m_threaded = property.BoolValue();
}

void DAXOComponent::SetPriorityPropertyCallback(DAXOProperty& property) {
  auto* component = static_cast<DAXOComponent*>(property.Owner());
  const auto priority = static_cast<DAXOUInt32>(property.IntegerValue());
  if (priority > 255) {
    component->DirectSet(property, 128L);
    component->Error(
        "Invalid priority value. Component's priority should be set between 0 and 255.", 1);
  }
  component->ApplyPriority(static_cast<int>(priority));
}

void DAXOComponent::SetAutoStartPropertyCallback(DAXOProperty& property) {
  auto* component = static_cast<DAXOComponent*>(property.Owner());
  if (property.BoolValue()) {
    component->ChangeState(DAXO::StartAutomaticallyState, 0);
  } else {
    component->ChangeState(0, DAXO::StartAutomaticallyState);
  }
}

// --- renaming after the upstream component --------------------------------------------

bool DAXO::KillComponent(DAXOComponent& component) {
  return DAXOPrivate::kernel != nullptr && DAXOPrivate::kernel->KillComponent(component.name);
}

namespace {

std::vector<std::string> SplitColons(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon == std::string::npos ? colon : colon - start));
    if (colon == std::string::npos) return parts;
    start = colon + 1;
  }
}

}  // namespace

void DAXOComponent::ActionRenameAfterUpstreamComponent(DAXOModule* module, int) {
  auto* self = dynamic_cast<DAXOComponent*>(module);
  if (self == nullptr) {
    DAXO::ReportError("Internal error while renaming after upstream component.", 0);
    return;
  }
  if ((DAXO::GetState() & DAXO::Running) != 0) {
    self->Report("This action is not allowed when Velquor is running.", DAXO::Error, 0);
    return;
  }
  if (self->NbInputs() == 0) {
    self->Report(
        "This action scans what is connected to this component's first input, but this "
        "component does not seem to have any inputs.",
        DAXO::Error, 0);
    return;
  }
  const std::string own = self->name != nullptr ? self->name : "";
  const bool macro = !own.empty() && own[0] == '@';
  DAXOOutput* upstream = self->Input(0).ConnectedOutput();
  if (upstream == nullptr) {
    std::string text =
        "This action scans what is connected to this component's first input. Please connect it "
        "in order to rename after upstream component.";
    if (macro) text += " Note however that you cannot rename after a macro-component input.";
    self->Report(text.c_str(), DAXO::Error, 0);
    return;
  }
  std::string outputName = upstream->Name();
  const bool upstreamMacro = !outputName.empty() && outputName[0] == '@';
  std::replace(outputName.begin(), outputName.end(), '.', '_');
  const std::vector<std::string> p = SplitColons(outputName);
  const std::vector<std::string> c = SplitColons(own);
  const char* cannotAccess =
      "Cannot access macro-component output name: renaming after native component & output "
      "inside.";
  if (macro) {
    if (c.size() != p.size()) self->Report(cannotAccess, DAXO::Warning, 0);
  } else if (c.size() > 1) {
    self->Report(
        "Renaming a component inside a Macro-Component *instance* is forbidden. You may "
        "however rename a component in the Macro-Component *model*: Right-click on the "
        "macro-component and select Edit Macro-Component.",
        DAXO::Error, 0);
    return;
  } else if (p.size() > 1) {
    self->Report(cannotAccess, DAXO::Warning, 0);
  }
  std::string base;
  int appended = 0;
  for (const std::string& part : p) {
    if (part.empty()) continue;
    if (appended == 1) base += upstreamMacro ? "::" : "_";
    if (appended > 1) base += "_";
    base += part;
    ++appended;
  }
  for (int k = 0; k <= 20; ++k) {
    const std::string candidate = k == 0 ? base : base + "_" + std::to_string(k);
    DAXOComponent* holder = DAXOPrivate::kernel != nullptr
                                ? DAXOPrivate::kernel->Component(candidate.c_str())
                                : nullptr;
    if (holder == self) {
      self->Report("Component is already named after its upstream component's output.",
                   DAXO::Warning, 0);
      return;
    }
    // An engine function shares the components' names: its name is taken too.
    if (holder != nullptr || (DAXOPrivate::kernel != nullptr &&
                              DAXOPrivate::kernel->CoreFunction(candidate.c_str()) != nullptr)) {
      continue;
    }
    try {
      if (!DAXO::RenameComponent(own.c_str(), candidate.c_str())) throw 0;
    } catch (...) {
      self->Report(("Unable to rename component after upstream component: suitable name found ('" +
                    candidate + "') but renaming failed.")
                       .c_str(),
                   DAXO::Error, 0);
    }
    return;
  }
  self->Report(
      "Could not find an available name for component. You may change the upstream "
      "component name and try again.",
      DAXO::Error, 0);
}
