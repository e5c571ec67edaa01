// Actions, the dynamic re-declaration window of a module's four element
// lists, and renaming a module with its elements.
#include <cstring>

#include "daxo_action.h"
#include "daxo_io.h"
#include "daxo_kernel.h"
#include "daxo_module.h"
#include "daxo_property.h"
#include "daxo_regexp.h"
#include "daxo_services.h"

namespace {

DAXOStreamedString Concat(const char* head, const char* name, const char* tail = nullptr) {
  DAXOStreamedString text(head);
  text << (name != nullptr ? name : "");
  if (tail != nullptr) text << tail;
  return text;
}

/// The item `skip` items after `from` (null past the end).
DAXOBasicListItem* Skip(DAXOBasicListItem* from, int skip) {
  for (int i = 0; from != nullptr && i < skip; ++i) from = from->Successor();
  return from;
}

/// `oldName` + rest when `fullName` starts with `oldName` followed by '.'
/// (or is `oldName`): the renamed text; otherwise false.
bool Renamed(const char* fullName, const char* oldName, const char* newName, DAXOString& out) {
  if (fullName == nullptr || oldName == nullptr) return false;
  const size_t n = std::strlen(oldName);
  if (std::strncmp(fullName, oldName, n) != 0 || (fullName[n] != '\0' && fullName[n] != '.')) {
    return false;
  }
  out = DAXOStreamedString(newName != nullptr ? newName : "") << (fullName + n);
  return true;
}

}  // namespace

// --- actions -------------------------------------------------------------------------

void DAXOActionImplementation::DoIt(const char* argument) {
  if (!definition.allowedWhenDead && owner != nullptr && (owner->State() & DAXO::DeadState) != 0) {
    owner->Report("This action is not allowed when the component is not running.", 1, 0);
    return;
  }
  if (definition.action != nullptr) definition.action->Run(owner, index, argument);
}

DAXOAction& DAXOModule::NewAction(const DAXOActionDefinition& definition, const char* shortName) {
  DAXOMutexGuard guard(m_moduleLock);
  const DAXOString fullName =
      BeginNewElement(guard, definition.name, shortName, "Action", "^[a-zA-Z][a-zA-Z_0-9]*$");
  bool created = false;
  DAXOAction* action = NewActionX(fullName, definition.name, created);
  if (!created) return *action;
  auto* a = static_cast<DAXOActionImplementation*>(action);
  a->shortName = shortName;
  a->definition = definition;  // copies the action function
  if (DAXOPrivate::kernel != nullptr &&
      !DAXOPrivate::kernel->RegisterSymbol(fullName, DAXOSymbolKind::Action, action)) {
    RemoveActionX(action);
    guard.unlock();
    Error(Concat("Can't create action ", fullName, ". The symbol already exists."), 1);
  }
  m_registeredNames.PushBack(fullName);
  return *action;
}

void DAXOModule::RemoveAction(DAXOAction* action) {
  DAXOMutexGuard guard(m_moduleLock);
  if (action == nullptr || m_actions.Find(action) == nullptr) return;
  const DAXOString fullName(action->Name());
  Unregister(fullName);
  DAXOListIterator it = m_registeredNames.Find(fullName);
  if (it != nullptr) m_registeredNames.Remove(it);
  RemoveActionX(action);
}

void DAXOModule::RemoveActionX(DAXOAction* action) {
  DAXOMutexGuard guard(m_moduleLock);
  DAXOListIterator it = m_actions.Find(action);
  if (it == nullptr) return;
  if (m_dynamicActionCursor == it.ptr) m_dynamicActionCursor = it.ptr->Successor();
  m_actions.Remove(it);
  delete action;
}

DAXOAction& DAXOModule::Action(int index) {
  DAXOMutexGuard guard(m_moduleLock);
  if (index >= 0 && index < m_actions.Size()) {
    return *m_actions.ValueOf(Skip(m_actions.First().ptr, index));
  }
  guard.unlock();
  DAXOStreamedString text("Trying to access unknown action #");
  text << index << " of " << Kind() << " " << (name != nullptr ? name : "");
  DAXOPrivate::KernelError(text, 1);
}

DAXOAction& DAXOModule::Action(const char* shortName) {
  DAXOMutexGuard guard(m_moduleLock);
  for (DAXOListIterator it = m_actions.First(); it != nullptr; ++it) {
    DAXOAction* action = m_actions.Value(it);
    if (shortName != nullptr && std::strcmp(action->ShortName(), shortName) == 0) return *action;
  }
  guard.unlock();
  DAXOStreamedString text("Trying to access unknown action ");
  text << (shortName != nullptr ? shortName : "") << " of " << Kind() << " "
       << (name != nullptr ? name : "");
  DAXOPrivate::KernelError(text, 1);
}

int DAXOModule::NbActions() {
  DAXOMutexGuard guard(m_moduleLock);
  return m_actions.Size();
}

// --- the re-declaration window --------------------------------------------------------

void DAXOModule::PlaceDynamicCursors(int ownInputs, int ownOutputs, int ownProperties,
                                     int ownActions) {
  DAXOMutexGuard guard(m_moduleLock);
  m_dynamicInputCursor = Skip(m_inputs.First().ptr, ownInputs);
  m_dynamicOutputCursor = Skip(m_outputs.First().ptr, ownOutputs);
  DAXOBasicListItem* afterSpecial = m_lastSpecialProperty != nullptr
                                        ? m_lastSpecialProperty->Successor()
                                        : m_properties.First().ptr;
  m_dynamicPropertyCursor = Skip(afterSpecial, ownProperties);
  m_dynamicActionCursor = Skip(m_actions.First().ptr, ownActions);
}

void DAXOModule::ClearDynamicCursors() {
  DAXOMutexGuard guard(m_moduleLock);
  m_dynamicInputCursor = m_dynamicOutputCursor = nullptr;
  m_dynamicPropertyCursor = m_dynamicActionCursor = nullptr;
}

// Not checked: it runs under the diagram and lifecycle locks without the
// module lock (each removal takes it, after the connection mutexes).
DAXO_NO_THREAD_SAFETY_ANALYSIS void DAXOModule::RemoveFromDynamicCursors() {
  // Each removal moves its list's cursor on; a removal that throws is
  // skipped past so that the others still go.
  auto drain = [](DAXOBasicListItem*& cursor, auto remove, auto valueOf) {
    while (cursor != nullptr) {
      DAXOBasicListItem* item = cursor;
      try {
        remove(valueOf(item));
      } catch (...) {
      }
      if (cursor == item) cursor = item->Successor();
    }
  };
  drain(
      m_dynamicInputCursor, [this](DAXOInput* e) { RemoveInput(e); },
      [this](DAXOBasicListItem* i) { return m_inputs.ValueOf(i); });
  drain(
      m_dynamicOutputCursor, [this](DAXOOutput* e) { RemoveOutput(e); },
      [this](DAXOBasicListItem* i) { return m_outputs.ValueOf(i); });
  drain(
      m_dynamicPropertyCursor, [this](DAXOProperty* e) { RemoveProperty(e); },
      [this](DAXOBasicListItem* i) { return m_properties.ValueOf(i); });
  drain(
      m_dynamicActionCursor, [this](DAXOAction* e) { RemoveAction(e); },
      [this](DAXOBasicListItem* i) { return m_actions.ValueOf(i); });
}

// --- renaming ------------------------------------------------------------------------

void DAXOModule::Rename(const char* oldName, const char* newName) {
  if (oldName == nullptr) return;
  // The arguments may point into this module's own name, which changes.
  const DAXOString from(oldName);
  const DAXOString to(newName != nullptr ? newName : "");
  DAXOMutexGuard guard(m_moduleLock);
  DAXOString renamed;
  for (DAXOListIterator it = m_inputs.First(); it != nullptr; ++it) {
    auto& in = static_cast<DAXOInputImplementation&>(*m_inputs.Value(it));
    if (Renamed(in.name, from, to, renamed)) in.name = renamed;
  }
  for (DAXOListIterator it = m_outputs.First(); it != nullptr; ++it) {
    auto& out = static_cast<DAXOOutputImplementation&>(*m_outputs.Value(it));
    if (Renamed(out.name, from, to, renamed)) out.name = renamed;
  }
  for (DAXOListIterator it = m_properties.First(); it != nullptr; ++it) {
    auto& p = static_cast<DAXOPropertyImplementation&>(*m_properties.Value(it));
    if (Renamed(p.name, from, to, renamed)) p.name = renamed;
  }
  for (DAXOListIterator it = m_actions.First(); it != nullptr; ++it) {
    auto& a = static_cast<DAXOActionImplementation&>(*m_actions.Value(it));
    if (Renamed(a.name, from, to, renamed)) a.name = renamed;
  }
  DAXOModuleBase::Rename(from, newName != nullptr ? static_cast<const char*>(to) : nullptr);
  for (DAXOListIterator it = m_registeredNames.First(); it != nullptr; ++it) {
    DAXOString& registered = m_registeredNames.Value(it);
    if (Renamed(registered, from, to, renamed)) registered = renamed;
  }
  // Without the module lock: a clock's Unregister and Register are virtual
  // and may run the derived clock's own code.
  guard.unlock();
  if (auto* clock = dynamic_cast<DAXOBaseClock*>(this)) clock->RenameClock(to);
}
