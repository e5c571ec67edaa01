// Inputs and outputs of a module: creation (with the re-declaration window),
// removal, lookups and the special properties' callbacks.
#include <cstring>

#include "daxo_action.h"
#include "daxo_io.h"
#include "daxo_kernel.h"
#include "daxo_module.h"
#include "daxo_regexp.h"
#include "daxo_services.h"
#include "private/diagram_lock_scope.h"

namespace {

// Short names of inputs, actions and component outputs.
constexpr const char kPlainName[] = "^[a-zA-Z][a-zA-Z_0-9]*$";
constexpr const char* kInputSuffixes[] = {".subsampling", ".readerType", nullptr};
constexpr const char* kOutputSuffixes[] = {".subsampling", ".fifosize", ".periodic", nullptr};

DAXOInputImplementation& In(DAXOInput& input) {
  return static_cast<DAXOInputImplementation&>(input);
}

DAXOOutputImplementation& Out(DAXOOutput& output) {
  return static_cast<DAXOOutputImplementation&>(output);
}

// The definition record an element was made from (its name pointer tells
// whether a re-declaration uses the same record).
const char* DefinitionName(DAXOInput& input) {
  return In(input).definition.name;
}
const char* DefinitionName(DAXOOutput& output) {
  return Out(output).definition.name;
}
const char* DefinitionName(DAXOAction& action) {
  return static_cast<DAXOActionImplementation&>(action).definition.name;
}

DAXOStreamedString Concat(const char* head, const char* name, const char* tail = nullptr) {
  DAXOStreamedString text(head);
  text << (name != nullptr ? name : "");
  if (tail != nullptr) text << tail;
  return text;
}

/// The element name of a special property: the text between the owner's
/// name and the last '.'.
DAXOString ElementName(DAXOProperty& property) {
  const DAXOString full(property.Name());
  const char* owner = property.Owner()->name;
  const int skip = owner != nullptr ? static_cast<int>(std::strlen(owner)) + 1 : 0;
  int dot = -1;
  if (!full.ReverseFind('.', dot) || dot <= skip) return DAXOString();
  return full.Mid(skip, dot - skip);
}

}  // namespace

// --- creation ----------------------------------------------------------------------

template <class Element, class Make>
Element* DAXOModule::FindOrInsert(DAXOList<Element*>& list, DAXOBasicListItem*& cursor,
                                  const DAXOString& fullName, const char* definitionName,
                                  bool& created, int* index, Make make) {
  created = true;
  // The position costs a walk of the list: only for callers that ask, so
  // that re-declaring n elements in order stays linear in n.
  auto position = [&](DAXOBasicListItem* item) {
    if (index == nullptr) return;
    int i = 0;
    for (DAXOListIterator it = list.First(); it != nullptr && it != item; ++it) ++i;
    *index = i;
  };
  if (cursor == nullptr) {
    list.PushBack(make());
    if (index != nullptr) *index = static_cast<int>(list.Size()) - 1;
    return list.Value(list.Last());
  }
  DAXOBasicListItem* found = nullptr;
  for (DAXOListIterator it(cursor); it != nullptr; ++it) {
    if (fullName == list.Value(it)->Name()) {
      found = it;
      break;
    }
  }
  if (found == nullptr) {
    DAXOBasicListItem* item = list.InsertBefore(cursor, make());
    position(item);
    return list.Value(item);
  }
  // Elements skipped by the re-declaration are gone; removing the cursor's
  // element moves the cursor on, until it reaches the one found.
  while (cursor != found) RemoveElement(list.ValueOf(cursor));
  Element* old = list.ValueOf(found);
  cursor = found->Successor();
  if (DefinitionName(*old) == definitionName) {
    created = false;
    position(found);
    return old;
  }
  DAXOBasicListItem* item = list.InsertBefore(found, make());
  position(item);
  RemoveElement(old);
  return list.Value(item);
}

DAXOAction* DAXOModule::NewActionX(const DAXOString& fullName, const char* definitionName,
                                   bool& created) {
  DAXOMutexGuard guard(m_moduleLock);
  const int count = m_actions.Size();
  return FindOrInsert(m_actions, m_dynamicActionCursor, fullName, definitionName, created, nullptr,
                      [&]() -> DAXOAction* {
                        auto* action = new DAXOActionImplementation(this, fullName, count);
                        action->definition.name = definitionName;
                        return action;
                      });
}

DAXOInput* DAXOModule::NewInputX(const DAXOString& fullName, const char* definitionName,
                                 bool& created, int& index) {
  return FindOrCreateInput(fullName, definitionName, created, &index);
}

DAXOOutput* DAXOModule::NewOutputX(const DAXOString& fullName, const char* definitionName,
                                   bool& created, int& index) {
  return FindOrCreateOutput(fullName, definitionName, created, &index);
}

DAXOInput* DAXOModule::FindOrCreateInput(const DAXOString& fullName, const char* definitionName,
                                         bool& created, int* index) {
  DAXOMutexGuard guard(m_moduleLock);
  DAXOInputDefinition bare;
  bare.name = definitionName;
  return FindOrInsert(
      m_inputs, m_dynamicInputCursor, fullName, definitionName, created, index,
      [&]() -> DAXOInput* { return new DAXOInputImplementation(this, fullName, "", bare); });
}

DAXOOutput* DAXOModule::FindOrCreateOutput(const DAXOString& fullName, const char* definitionName,
                                           bool& created, int* index) {
  DAXOMutexGuard guard(m_moduleLock);
  DAXOOutputDefinition bare;
  bare.name = definitionName;
  return FindOrInsert(m_outputs, m_dynamicOutputCursor, fullName, definitionName, created, index,
                      [&]() -> DAXOOutput* {
                        return new DAXOOutputImplementation(this, fullName, "", bare, &DieEvent());
                      });
}

DAXOString DAXOModule::BeginNewElement(DAXOMutexGuard& guard, const char* definitionName,
                                       const char*& shortName, const char* kind,
                                       const char* pattern) {
  if ((State() & DAXO::DyingState) != 0) {
    guard.unlock();
    throw DAXO::ModuleDied;
  }
  // "Input" for the call's name, "input" for the element's.
  DAXOString lower(kind);
  lower.Lowercase();
  if (definitionName == nullptr) {
    guard.unlock();
    Error(DAXOStreamedString("Call to New") << kind << " failed. Bad " << lower << " definition.",
          2);
  }
  if (shortName != nullptr) {
    const DAXORegExp validName(pattern);
    if (!validName.Test(shortName)) {
      guard.unlock();
      Error(DAXOStreamedString("Trying to create an ")
                << lower << " with an invalid name: " << shortName,
            1);
    }
  } else {
    shortName = definitionName;
  }
  DAXOStreamedString fullName(name != nullptr ? name : "");
  fullName << "." << shortName;
  return fullName;
}

DAXOInput& DAXOModule::NewInput(const DAXOInputDefinition& definition, const char* shortName) {
  DAXOMutexGuard guard(m_moduleLock);
  const DAXOString fullName =
      BeginNewElement(guard, definition.name, shortName, "Input", kPlainName);
  bool created = false;
  DAXOInput* input = FindOrCreateInput(fullName, definition.name, created, nullptr);
  if (!created) return *input;

  DAXOInputImplementation& in = In(*input);
  in.shortName = shortName;
  in.definition = definition;
  in.readerType = definition.readerType;
  in.subsampling = definition.subsampling > 0 ? definition.subsampling : 1;
  if (DAXOPrivate::kernel != nullptr &&
      !DAXOPrivate::kernel->RegisterSymbol(fullName, DAXOSymbolKind::Input, input)) {
    RemoveInputX(input);
    guard.unlock();
    Error(Concat("Can't create input ", fullName, ". The symbol already exists."), 1);
  }
  m_registeredNames.PushBack(fullName);
  DAXOProperty* subsampling = NewSpecialProperty(IOSubsamplingPropertyDefinition,
                                                 DAXOStreamedString(shortName) << ".subsampling");
  DirectSet(*subsampling, static_cast<long>(in.subsampling));
  subsampling->SetSetCallback(&SetInputSubsamplingProperty);
  if (in.readerType >= DAXO::FifoReader && in.readerType <= DAXO::LastOrNextReader) {
    DAXOProperty* readerType = NewSpecialProperty(ReaderTypePropertyDefinition,
                                                  DAXOStreamedString(shortName) << ".readerType");
    DirectSet(*readerType, static_cast<long>(in.readerType));
    readerType->SetSetCallback(&SetInputReaderTypeProperty);
  }
  return *input;
}

DAXOOutput& DAXOModule::NewOutput(const DAXOOutputDefinition& definition, const char* shortName) {
  return CreateOutput(definition, shortName, "^[a-zA-Z][a-zA-Z_0-9\\.:]*$");
}

DAXOOutput& DAXOModule::CreateOutput(const DAXOOutputDefinition& definition, const char* shortName,
                                     const char* pattern) {
  DAXOMutexGuard guard(m_moduleLock);
  const DAXOString fullName = BeginNewElement(guard, definition.name, shortName, "Output", pattern);
  bool created = false;
  DAXOOutput* output = FindOrCreateOutput(fullName, definition.name, created, nullptr);
  if (!created) return *output;

  DAXOOutputImplementation& out = Out(*output);
  out.shortName = shortName;
  DAXOOutputDefinition copy = definition;
  if (copy.fifoSize < 1) copy.fifoSize = 16;
  if (copy.subsampling < 1) copy.subsampling = 1;
  out.definition = copy;
  out.monitor->ResetFifoSize(copy.fifoSize);
  out.monitor->SetOutputSubsampling(copy.subsampling);
  if (copy.size > 0) {
    try {
      out.AllocOutputBuffer(copy.size, true);
    } catch (...) {
      RemoveOutputX(output);
      throw;
    }
  }
  if (DAXOPrivate::kernel != nullptr &&
      !DAXOPrivate::kernel->RegisterSymbol(fullName, DAXOSymbolKind::Output, output)) {
    RemoveOutputX(output);
    guard.unlock();
    Error(Concat("Can't create output ", fullName, ". The symbol already exists."), 1);
  }
  m_registeredNames.PushBack(fullName);
  DAXOProperty* subsampling = NewSpecialProperty(IOSubsamplingPropertyDefinition,
                                                 DAXOStreamedString(shortName) << ".subsampling");
  DirectSet(*subsampling, static_cast<long>(copy.subsampling));
  subsampling->SetSetCallback(&SetOutputSubsamplingProperty);
  DAXOProperty* fifoSize =
      NewSpecialProperty(FifoSizePropertyDefinition, DAXOStreamedString(shortName) << ".fifosize");
  DirectSet(*fifoSize, static_cast<long>(copy.fifoSize));
  fifoSize->SetSetCallback(&SetOutputFifoSizeProperty);
  DAXOProperty* periodic =
      NewSpecialProperty(PeriodicPropertyDefinition, DAXOStreamedString(shortName) << ".periodic");
  periodic->SetSetCallback(&SetOutputPeriodicProperty);
  bool isPeriodic = false;
  Get(*periodic, isPeriodic);
  out.periodic = isPeriodic;
  for (DAXOTimestamp& t : out.history) t = 0;
  out.historyIndex = 0;
  if (DAXOPrivate::kernel != nullptr) DAXOPrivate::kernel->NotifyOutputCreated(fullName);
  return *output;
}

// --- removal -----------------------------------------------------------------------

void DAXOModule::RemoveElementProperties(const DAXOString& fullName, const char* const* suffixes) {
  for (; *suffixes != nullptr; ++suffixes) {
    DAXOStreamedString propertyName(fullName);
    propertyName << *suffixes;
    for (DAXOListIterator it = m_properties.First(); it != nullptr; ++it) {
      if (propertyName == m_properties.Value(it)->Name()) {
        RemoveProperty(m_properties.Value(it));
        break;
      }
    }
  }
}

void DAXOModule::RemoveInput(DAXOInput* input) {
  DAXOPrivate::DiagramLockScope diagram("Removing an input");
  {
    DAXOMutexGuard guard(m_moduleLock);
    if (input == nullptr || m_inputs.Find(input) == nullptr) return;
  }
  // Without the module lock: the writer calls this module's SequentialCore
  // with its connection mutex held (connection mutex -> module lock).
  input->EngineDisconnect();
  DAXOMutexGuard guard(m_moduleLock);
  if (m_inputs.Find(input) == nullptr) return;
  const DAXOString fullName(input->Name());
  RemoveElementProperties(fullName, kInputSuffixes);
  Unregister(fullName);
  DAXOListIterator it = m_registeredNames.Find(fullName);
  if (it != nullptr) m_registeredNames.Remove(it);
  RemoveInputX(input);
}

void DAXOModule::RemoveOutput(DAXOOutput* output) {
  DAXOPrivate::DiagramLockScope diagram("Removing an output");
  {
    DAXOMutexGuard guard(m_moduleLock);
    if (output == nullptr || m_outputs.Find(output) == nullptr) return;
  }
  DAXOOutputImplementation& out = Out(*output);
  for (;;) {
    DAXOInput* reader = nullptr;
    {
      DAXOMutexGuard connections(out.connectionMutex);
      if (out.connectedInputs.Size() == 0) break;
      reader = out.connectedInputs.Value(out.connectedInputs.First());
    }
    reader->EngineDisconnect();
  }
  DAXOMutexGuard guard(m_moduleLock);
  if (m_outputs.Find(output) == nullptr) return;
  const DAXOString fullName(output->Name());
  RemoveElementProperties(fullName, kOutputSuffixes);
  Unregister(fullName);
  DAXOListIterator it = m_registeredNames.Find(fullName);
  if (it != nullptr) m_registeredNames.Remove(it);
  RemoveOutputX(output);
}

void DAXOModule::RemoveInputX(DAXOInput* input) {
  DAXOMutexGuard guard(m_moduleLock);
  DAXOListIterator it = m_inputs.Find(input);
  if (it == nullptr) return;
  if (m_dynamicInputCursor == it.ptr) m_dynamicInputCursor = it.ptr->Successor();
  if (m_currentInput == input) m_currentInput = nullptr;
  m_inputs.Remove(it);
  delete input;
}

void DAXOModule::RemoveOutputX(DAXOOutput* output) {
  DAXOMutexGuard guard(m_moduleLock);
  DAXOListIterator it = m_outputs.Find(output);
  if (it == nullptr) return;
  if (m_dynamicOutputCursor == it.ptr) m_dynamicOutputCursor = it.ptr->Successor();
  m_outputs.Remove(it);
  delete output;
}

void DAXOModule::BeginIORedeclaration() {
  DAXOMutexGuard guard(m_moduleLock);
  m_dynamicInputCursor = m_inputs.First().ptr;
  m_dynamicOutputCursor = m_outputs.First().ptr;
}

void DAXOModule::EndIORedeclaration() {
  DAXOMutexGuard guard(m_moduleLock);
  while (m_dynamicInputCursor != nullptr) RemoveInput(m_inputs.ValueOf(m_dynamicInputCursor));
  while (m_dynamicOutputCursor != nullptr) RemoveOutput(m_outputs.ValueOf(m_dynamicOutputCursor));
}

// --- lookups -------------------------------------------------------------------------

namespace {

[[noreturn]] void Unknown(const char* what, const DAXOStreamedString& key, const char* kind,
                          const char* owner) {
  DAXOStreamedString text("Trying to access unknown ");
  text << what << key << " of " << (kind != nullptr ? kind : "module") << " "
       << (owner != nullptr ? owner : "");
  DAXOPrivate::KernelError(text, 1);
}

}  // namespace

DAXOInput& DAXOModule::Input(int index) {
  DAXOMutexGuard guard(m_moduleLock);
  if (index >= 0 && index < static_cast<int>(m_inputs.Size())) {
    DAXOListIterator it = m_inputs.First();
    for (int i = 0; i < index; ++i) ++it;
    return *m_inputs.Value(it);
  }
  guard.unlock();
  Unknown("input #", DAXOStreamedString() << index, Kind(), name);
}

DAXOOutput& DAXOModule::Output(int index) {
  DAXOMutexGuard guard(m_moduleLock);
  if (index >= 0 && index < static_cast<int>(m_outputs.Size())) {
    DAXOListIterator it = m_outputs.First();
    for (int i = 0; i < index; ++i) ++it;
    return *m_outputs.Value(it);
  }
  guard.unlock();
  Unknown("output #", DAXOStreamedString() << index, Kind(), name);
}

DAXOInput& DAXOModule::Input(const char* shortName) {
  DAXOMutexGuard guard(m_moduleLock);
  for (DAXOListIterator it = m_inputs.First(); it != nullptr; ++it) {
    if (shortName != nullptr && In(*m_inputs.Value(it)).shortName == shortName) {
      return *m_inputs.Value(it);
    }
  }
  guard.unlock();
  Unknown("input ", DAXOStreamedString(shortName != nullptr ? shortName : ""), Kind(), name);
}

DAXOOutput& DAXOModule::Output(const char* shortName) {
  DAXOMutexGuard guard(m_moduleLock);
  for (DAXOListIterator it = m_outputs.First(); it != nullptr; ++it) {
    if (shortName != nullptr && Out(*m_outputs.Value(it)).shortName == shortName) {
      return *m_outputs.Value(it);
    }
  }
  guard.unlock();
  Unknown("output ", DAXOStreamedString(shortName != nullptr ? shortName : ""), Kind(), name);
}

int DAXOModule::NbInputs() {
  DAXOMutexGuard guard(m_moduleLock);
  return static_cast<int>(m_inputs.Size());
}

int DAXOModule::NbOutputs() {
  DAXOMutexGuard guard(m_moduleLock);
  return static_cast<int>(m_outputs.Size());
}

int* DAXOModule::ReaderHandle(int index) {
  return &In(Input(index)).readerNumber;
}

// --- special properties --------------------------------------------------------------

void DAXOModule::SetOutputSubsamplingProperty(DAXOProperty& property) {
  DAXOModule& module = *property.Owner();
  DAXOOutputImplementation& out = Out(module.Output(ElementName(property)));
  long value = 1;
  module.Get(property, value);
  out.definition.subsampling = static_cast<int>(value);
  out.monitor->SetOutputSubsampling(static_cast<int>(value));
}

void DAXOModule::SetOutputFifoSizeProperty(DAXOProperty& property) {
  DAXOModule& module = *property.Owner();
  DAXOOutputImplementation& out = Out(module.Output(ElementName(property)));
  if ((module.State() & DAXO::LivingState) != 0) {
    module.Report("Cannot change the output fifo sizes while module is running.", 2, 0);
    return;
  }
  long value = out.definition.fifoSize;
  module.Get(property, value);
  // The block was carved for the old slots: it goes with them.
  out.FreeBuffer();
  out.definition.fifoSize = static_cast<int>(value);
  out.monitor->ResetFifoSize(static_cast<int>(value));
}

void DAXOModule::SetOutputPeriodicProperty(DAXOProperty& property) {
  DAXOModule& module = *property.Owner();
  DAXOOutputImplementation& out = Out(module.Output(ElementName(property)));
  bool value = false;
  module.Get(property, value);
  out.periodic = value;
}

void DAXOModule::SetInputSubsamplingProperty(DAXOProperty& property) {
  DAXOModule& module = *property.Owner();
  DAXOInputImplementation& in = In(module.Input(ElementName(property)));
  long value = 1;
  module.Get(property, value);
  in.subsampling = static_cast<int>(value);
  DAXOIOMonitorImplementation* fifo = in.fifo;
  if (in.readerType <= DAXO::LastOrNextReader && fifo != nullptr) {
    fifo->SetSubsamplingRate(in.readerNumber, static_cast<int>(value));
  }
}

void DAXOModule::SetInputReaderTypeProperty(DAXOProperty& property) {
  DAXOModule& module = *property.Owner();
  DAXOInputImplementation& in = In(module.Input(ElementName(property)));
  long value = 0;
  module.Get(property, value);
  const long requested = value;
  const int current = in.readerType;
  auto putBack = [&](const char* head, const char* tail) {
    module.DirectSet(property, static_cast<long>(current));
    DAXO::ReportError(Concat(head, in.name, tail), 1);
  };
  if (current <= DAXO::LastOrNextReader) {
    if (requested >= DAXO::FifoReader && requested <= DAXO::LastOrNextReader) {
      in.readerType = static_cast<int>(requested);
      DAXOIOMonitorImplementation* fifo = in.fifo;
      if (fifo != nullptr) fifo->SetReaderType(in.readerNumber, in.readerType);
    } else {
      putBack("Bad parameter: The input ",
              " cannot be switched to SamplingReader or Wait4NextReader.");
    }
  } else if (requested != current) {
    putBack("Bad parameter: The input ",
            " is a SamplingReader or Wait4NextReader and cannot be switched to FifoReader, "
            "NeverSkippingReader or LastOrNextReader");
  }
  RefreshInputProperties(in.name);
}

void DAXOModule::RefreshInputProperties(const char* inputName) {
  // An engine whose time object shows input properties offers the action
  // "refreshInputProperties" on it. The object is pinned so that it cannot
  // be destroyed while its action runs; its action list is read under its
  // lock (nested under this module's locks, as a property write into
  // another module is).
  if (DAXOPrivate::kernel == nullptr) return;
  void* owner = nullptr;
  auto* time = static_cast<DAXOModule*>(DAXOPrivate::kernel->FindPinned(
      "Engine.time", DAXOSymbolKind::Object, [](void* object) { return object; }, &owner));
  if (time == nullptr) return;
  try {
    DAXOMutexGuard guard(time->m_moduleLock);
    for (DAXOListIterator it = time->m_actions.First(); it != nullptr; ++it) {
      DAXOAction* action = time->m_actions.Value(it);
      if (strcmp(action->ShortName(), "refreshInputProperties") == 0) {
        action->DoIt(inputName);
        break;
      }
    }
  } catch (...) {
    // The property change stands whatever the engine's display does.
    DAXO::ReportWarning(
        Concat("Engine.time could not refresh the properties of input ", inputName, "."));
  }
  if (owner != nullptr) DAXOPrivate::kernel->Unpin(owner);
}

bool DAXO::Attach(DAXOOutput& output, DAXOInput& input) {
  return DAXOPrivate::kernel != nullptr && DAXOPrivate::kernel->Attach(output.Name(), input.Name());
}

bool DAXO::Detach(DAXOOutput& output, DAXOInput& input) {
  return DAXOPrivate::kernel != nullptr && DAXOPrivate::kernel->Detach(&output, &input);
}
