// DAXOModule: state word, reports and errors, and the property operations.
// Locks: module lock -> property lock -> threads lock / error lock, in the
// SDK's order (daxo_lock_order.h).
#include "daxo_module.h"

#include <cstring>

#include "daxo_action.h"
#include "daxo_file.h"
#include "daxo_io.h"
#include "daxo_kernel.h"
#include "daxo_regexp.h"
#include "daxo_services.h"
#include "daxo_thread.h"

// --- built-in property definitions --------------------------------------------
// Fields: name, default, unit, needs2BeInitialized, canBeModifiedAfterStart,
// readOnly, locked, subtype.
const DAXOPropertyDefinition DAXOModule::PeriodicPropertyDefinition{
    "periodic", new DAXOPropertyValue(false), nullptr, false, false, false, true};
const DAXOPropertyDefinition DAXOModule::FifoSizePropertyDefinition{
    "fifosize", new DAXOPropertyValue(16L), nullptr, false, true, false, true};
const DAXOPropertyDefinition DAXOModule::IOSubsamplingPropertyDefinition{
    "subsampling", new DAXOPropertyValue(1L), nullptr, false, true, false, true};
const DAXOPropertyDefinition DAXOModule::ReaderTypePropertyDefinition{
    "readerType", new DAXOPropertyValue(0L), nullptr, false, true, false, true};
const DAXOPropertyDefinition DAXOModule::ProcessorPropertyDefinition{
    "processor", new DAXOPropertyValue(-1L), nullptr, false, true, false, true};
const DAXOPropertyDefinition DAXOModule::CounterPropertyDefinition{
    "counter", new DAXOPropertyValue(0L), nullptr, false, false, true, true};
const DAXOPropertyDefinition DAXOModule::NbPeriodsPropertyDefinition{
    "nbPeriods", new DAXOPropertyValue(10L), nullptr, false, true, false, true};
const DAXOPropertyDefinition DAXOModule::AveragePeriodPropertyDefinition{
    "averagePeriod", new DAXOPropertyValue(0L), nullptr, false, false, true, true};
const DAXOPropertyDefinition DAXOModule::MinPeriodPropertyDefinition{
    "minPeriod", new DAXOPropertyValue(0L), nullptr, false, false, true, true};
const DAXOPropertyDefinition DAXOModule::MaxPeriodPropertyDefinition{
    "maxPeriod", new DAXOPropertyValue(0L), nullptr, false, false, true, true};
const DAXOPropertyDefinition DAXOModule::ContextSwitchesPropertyDefinition{
    "contextSwitches", new DAXOPropertyValue(0L), nullptr, false, false, true, true};
const DAXOPropertyDefinition DAXOModule::CPULoadPropertyDefinition{
    "CPULoad", new DAXOPropertyValue(0L), nullptr, false, false, true, true};

namespace {

DAXOPropertyImplementation& Impl(DAXOProperty& property) {
  return static_cast<DAXOPropertyImplementation&>(property);
}

DAXOStreamedString Message(const char* head, const char* name, const char* tail = nullptr) {
  DAXOStreamedString text(head);
  text << name;
  if (tail != nullptr) text << tail;
  return text;
}

bool IsEnum(const DAXOPropertyImplementation& p) {
  return p.value.type == DAXO::PropertyTypeEnum;
}

}  // namespace

// --- construction ----------------------------------------------------------------

DAXOModule::DAXOModule(const char* moduleName, bool performanceMonitoring, bool processorSelection)
    : DAXOModuleBase(moduleName) {
  m_registeredNames.PushBack(DAXOString(name));
  try {
    if (processorSelection) {
      NewSpecialProperty(ProcessorPropertyDefinition)->SetSetCallback(&SetProcessorProperty);
    }
    if (performanceMonitoring) {
      NewSpecialProperty(CounterPropertyDefinition);
      NewSpecialProperty(NbPeriodsPropertyDefinition);
      NewSpecialProperty(AveragePeriodPropertyDefinition);
      NewSpecialProperty(MinPeriodPropertyDefinition);
      NewSpecialProperty(MaxPeriodPropertyDefinition);
      NewSpecialProperty(ContextSwitchesPropertyDefinition)->SetGetCallback(&GetPerfMonProperties);
      NewSpecialProperty(CPULoadPropertyDefinition)->SetGetCallback(&GetPerfMonProperties);
    }
  } catch (...) {
    // The destructor will not run: give back what was registered so far.
    TearDown();
    throw;
  }
}

DAXOModule::~DAXOModule() {
  TearDown();
  delete[] m_periods.ring;
}

void DAXOModule::TearDown() {
  // Readers of this module's properties by name leave first, with none of
  // its locks held; no new one finds it from here on.
  if (DAXOPrivate::kernel != nullptr) DAXOPrivate::kernel->RetireOwner(this);
  // Inputs leave their outputs' FIFOs and outputs lose their readers
  // without the module lock: a writer calls its sequential readers with its
  // output's connection mutex held, and they take their module lock.
  DAXOList<DAXOInput*> inputs;
  DAXOList<DAXOOutput*> outputs;
  {
    DAXOMutexGuard guard(m_moduleLock);
    for (DAXOListIterator it = m_inputs.First(); it != nullptr; ++it) {
      inputs.PushBack(m_inputs.Value(it));
    }
    for (DAXOListIterator it = m_outputs.First(); it != nullptr; ++it) {
      outputs.PushBack(m_outputs.Value(it));
    }
    m_inputs.Clear();
    m_outputs.Clear();
    m_dynamicInputCursor = m_dynamicOutputCursor = nullptr;
    m_currentInput = nullptr;
  }
  for (DAXOListIterator it = inputs.First(); it != nullptr; ++it) delete inputs.Value(it);
  for (DAXOListIterator it = outputs.First(); it != nullptr; ++it) {
    auto* out = static_cast<DAXOOutputImplementation*>(outputs.Value(it));
    for (;;) {
      DAXOInput* reader = nullptr;
      {
        DAXOMutexGuard connections(out->connectionMutex);
        if (out->connectedInputs.Empty()) break;
        reader = out->connectedInputs.Value(out->connectedInputs.First());
      }
      reader->EngineDisconnect();
    }
    delete out;
  }

  DAXOMutexGuard guard(m_moduleLock);
  for (DAXOListIterator it = m_registeredNames.First(); it != nullptr; ++it) {
    Unregister(m_registeredNames.Value(it));
  }
  m_registeredNames.Clear();
  for (DAXOListIterator it = m_properties.First(); it != nullptr; ++it) {
    delete m_properties.Value(it);
  }
  m_properties.Clear();
  for (DAXOListIterator it = m_actions.First(); it != nullptr; ++it) delete m_actions.Value(it);
  m_actions.Clear();
  m_dynamicActionCursor = nullptr;
  m_nbSpecialProperties = 0;
  m_lastSpecialProperty = nullptr;
  m_dynamicPropertyCursor = nullptr;
  if (DAXOPrivate::kernel != nullptr) DAXOPrivate::kernel->ForgetOwner(this);
}

void DAXOModule::Unregister(const char* fullName) {
  if (DAXOPrivate::kernel != nullptr) DAXOPrivate::kernel->UnregisterSymbol(fullName);
}

// --- state, reports, errors ----------------------------------------------------------

const char* DAXOModule::Kind() const {
  return "module";
}

void DAXOModule::NotifyState() {
  if (DAXOPrivate::kernel != nullptr) {
    DAXOPrivate::kernel->NotifyModuleState(name, static_cast<int>(m_state.load()));
  }
}

void DAXOModule::ChangeState(DAXOUInt32 set, DAXOUInt32 clear) {
  ChangeStateQuietly(set, clear);
  NotifyState();
}

void DAXOModule::ChangeStateQuietly(DAXOUInt32 set, DAXOUInt32 clear) {
  DAXOUInt32 state = m_state.load();
  while (!m_state.compare_exchange_weak(state, (state & ~clear) | set)) {
  }
}

void DAXOModule::Report(const char* text, int level, int code) {
  DAXOStreamedString full(Kind());
  full << " " << (name != nullptr ? name : "") << ": " << text;
  DAXOPrivate::Report(full, level, code, false);
}

void DAXOModule::Error(const char* text, int code, ErrorCode errorCode) {
  {
    DAXOMutexGuard guard(m_errorLock);
    m_errorCode = errorCode;
    m_lastError = text;
  }
  ChangeState(DAXO::ErrorState, 0);
  Report(text, DAXO::Error, code);
  throw DAXO::ErrorException;
}

ErrorCode DAXOModule::LastErrorCode() {
  DAXOMutexGuard guard(m_errorLock);
  return m_errorCode;
}

DAXOString DAXOModule::LastErrorMessage() {
  DAXOMutexGuard guard(m_errorLock);
  return m_lastError;
}

void DAXOModule::Start() {
  DAXOMutexGuard guard(m_moduleLock);
  m_dieEvent.Reset();
  m_allLivesLostEvent.Reset();
  m_primitiveFailed = false;
  ChangeState(DAXO::LivingState, DAXO::ErrorState | DAXO::DeadState | DAXO::DyingState);
}

void DAXOModule::OneMoreLife() {
  DAXOMutexGuard guard(m_moduleLock);
  ++m_lives;
}

void DAXOModule::LoseOneLife() {
  DAXOMutexGuard guard(m_moduleLock);
  if (--m_lives == 0) m_allLivesLostEvent.Set();
}

int DAXOModule::Lives() {
  DAXOMutexGuard guard(m_moduleLock);
  return m_lives;
}

bool DAXOModule::Wait4Death() {
  bool found = false;
  DAXODelay timeout = DAXO::GetIntegerProperty("Engine.shutdownTimeout", &found);
  if (!found || timeout < 0) timeout = 10000000;
  if (m_allLivesLostEvent.Wait(timeout) == 0) return true;
  DAXOStreamedString text("Some threads are still running after ");
  if (timeout > 999999) {
    text << timeout / 1000000 << " second(s)";
  } else {
    text << timeout << " microsecond(s)";
  }
  text << ". The model must be bugged. If this is considered as normal however, consider "
          "increase the value of the Engine.shutdownTimeout property. I destroy the component "
          "anyway. This might result in a system crash.";
  Report(text, DAXO::Warning, 2);
  return false;
}

void DAXOModule::Die() {
  ChangeState(DAXO::DyingState, 0);
  m_dieEvent.Set();
}

// --- writes ----------------------------------------------------------------------------

void DAXOModule::CheckWritable(DAXOPropertyImplementation& p, WriteKind kind, bool guarded) {
  if (guarded) {
    if (!p.definition.canBeModifiedAfterStart && (m_state.load() & DAXO::LivingState) != 0) {
      Error(Message("Failure while trying to set value of property ", p.name,
                    ". This property can't be modified after start."));
    }
    if (p.definition.readOnly) {
      Error(Message("Failure while trying to set value of property ", p.name,
                    ". This property is read only."));
    }
    if (!p.IsMutable()) {
      Error(Message("Failure while trying to set value of property ", p.name,
                    ". This property is not mutable."));
    }
  }
  const int type = p.Type();
  switch (kind) {
    case WriteKind::Bool:
      if (type != DAXO::PropertyTypeBool)
        Error(Message("Can't set boolean value for property ", p.name));
      break;
    case WriteKind::Integer:
      if (type != DAXO::PropertyTypeInteger && type != DAXO::PropertyTypeEnum) {
        Error(Message("Can't set integer value for property ", p.name));
      }
      break;
    case WriteKind::Float:
      if (type != DAXO::PropertyTypeFloat)
        Error(Message("Can't set float value for property ", p.name));
      break;
    case WriteKind::String:
      if (type != DAXO::PropertyTypeString && type != DAXO::PropertyTypeEnum) {
        Error(Message("Can't set string value for property ", p.name));
      }
      break;
    case WriteKind::Enum:
      if (type != DAXO::PropertyTypeEnum)
        Error(Message("Can't set enum values for property ", p.name));
      break;
  }
}

void DAXOModule::StoreInteger(DAXOPropertyImplementation& p, long v) {
  if (!IsEnum(p)) {
    p.value.value.integer = v;
    return;
  }
  DAXOEnumStruct& e = *p.value.value.enumeration;
  const int n = e.Count();
  if (n == 0) {
    if (v != -1) {
      DAXOStreamedString text("Index ");
      text << v << " not among possible values for enum property " << p.name << " [-1]";
      Report(text, DAXO::Error, 0);
    }
    e.selected = -1;
    return;
  }
  if (v >= 0 && v < n) {
    e.selected = static_cast<int>(v);
    return;
  }
  DAXOStreamedString text("Index ");
  text << v << " not among possible values for enum property " << p.name << " [0";
  if (n > 1) text << ".." << (n - 1);
  text << "]";
  Report(text, DAXO::Error, 0);
}

// Returns false when nothing was stored (a direct write the enumeration
// cannot take), so that the changed flag stays as it is.
bool DAXOModule::StoreString(DAXOPropertyImplementation& p, const DAXOString& v, bool guarded) {
  if (!IsEnum(p)) {
    const int subtype = p.definition.subtype;
    if ((subtype & DAXO::PropertySubTypeMustExist) != 0 && v.Length() > 0) {
      if ((subtype & DAXO::PropertySubTypeFile) != 0) {
        if (!DAXOFile(v).IsReadable()) {
          DAXO::ReportError(DAXOStreamedString(v) << " does not exist or is not readable.");
        }
      } else if ((subtype & DAXO::PropertySubTypePath) != 0) {
        if (!DAXOFile(v).IsDirectory())
          DAXO::ReportError(DAXOStreamedString(v) << " is not a directory.");
      }
    }
    if (p.value.value.string == nullptr) {
      p.value.value.string = new DAXOString(v);
    } else {
      *p.value.value.string = v;
    }
    return true;
  }
  DAXOEnumStruct& e = *p.value.value.enumeration;
  if (DAXOEnumStruct::IsEnumString(v)) {
    e.FromString(v, guarded && p.definition.locked);
    return true;
  }
  if (e.values == nullptr) {
    Report(Message(
               guarded ? "No possible value for property " : "No possible value for enum property ",
               p.name),
           DAXO::Error, 0);
    return guarded;
  }
  const int previous = e.selected;
  if (e.Select(v)) return true;
  if (guarded) {
    Report(DAXOStreamedString(v) << " does not match any of the possible properties for property "
                                 << p.name,
           DAXO::Error, 0);
  } else {
    e.selected = previous;
    Report(DAXOStreamedString("\"")
               << v << "\" not among possible values for enum property " << p.name,
           DAXO::Error, 0);
  }
  return true;
}

// After the value is stored.
void DAXOModule::FinishWrite(DAXOPropertyImplementation& p, bool guarded) {
  if (guarded) {
    p.definition.needs2BeInitialized = false;
    if (p.setCallback != nullptr) p.setCallback(p);
  }
  p.changed = true;
  p.changedEvent.Set();
}

template <class Store>
void DAXOModule::Write(DAXOProperty& property, WriteKind kind, bool guarded, Store store) {
  DAXOPropertyImplementation& p = Impl(property);
  CheckWritable(p, kind, guarded);
  ValueGuard guard(*this);
  if (store(p)) FinishWrite(p, guarded);
}

// Guarded writes (the flag checks, then the set callback) and direct writes
// (the kind check only) store alike, but for a string into an enumeration.

void DAXOModule::Set(DAXOProperty& property, bool v) {
  Write(property, WriteKind::Bool, true, [&](DAXOPropertyImplementation& p) {
    p.value.value.boolean = v;
    return true;
  });
}

void DAXOModule::Set(DAXOProperty& property, long v) {
  Write(property, WriteKind::Integer, true,
        [&](DAXOPropertyImplementation& p) DAXO_REQUIRES(m_moduleLock, m_propertyLock) {
          StoreInteger(p, v);
          return true;
        });
}

void DAXOModule::Set(DAXOProperty& property, double v) {
  Write(property, WriteKind::Float, true, [&](DAXOPropertyImplementation& p) {
    p.value.value.floating = v;
    return true;
  });
}

void DAXOModule::Set(DAXOProperty& property, const DAXOString& v) {
  Write(property, WriteKind::String, true,
        [&](DAXOPropertyImplementation& p) DAXO_REQUIRES(m_moduleLock, m_propertyLock) {
          StoreString(p, v, true);
          return true;
        });
}

void DAXOModule::Set(DAXOProperty& property, const DAXOEnumStruct& v) {
  Write(property, WriteKind::Enum, true, [&](DAXOPropertyImplementation& p) {
    p.value.value.enumeration->Copy(v);
    return true;
  });
}

void DAXOModule::Set(DAXOProperty& property, const DAXOString& values, int selected) {
  Write(property, WriteKind::Enum, true, [&](DAXOPropertyImplementation& p) {
    p.value.value.enumeration->FromString(values, p.definition.locked);
    p.value.value.enumeration->selected = selected;
    return true;
  });
}

void DAXOModule::DirectSet(DAXOProperty& property, bool v) {
  Write(property, WriteKind::Bool, false, [&](DAXOPropertyImplementation& p) {
    p.value.value.boolean = v;
    return true;
  });
}

void DAXOModule::DirectSet(DAXOProperty& property, long v) {
  Write(property, WriteKind::Integer, false,
        [&](DAXOPropertyImplementation& p) DAXO_REQUIRES(m_moduleLock, m_propertyLock) {
          StoreInteger(p, v);
          return true;
        });
}

void DAXOModule::DirectSet(DAXOProperty& property, double v) {
  Write(property, WriteKind::Float, false, [&](DAXOPropertyImplementation& p) {
    p.value.value.floating = v;
    return true;
  });
}

void DAXOModule::DirectSet(DAXOProperty& property, const DAXOString& v) {
  Write(property, WriteKind::String, false,
        [&](DAXOPropertyImplementation& p)
            DAXO_REQUIRES(m_moduleLock, m_propertyLock) { return StoreString(p, v, false); });
}

void DAXOModule::DirectSet(DAXOProperty& property, const DAXOEnumStruct& v) {
  Write(property, WriteKind::Enum, false, [&](DAXOPropertyImplementation& p) {
    p.value.value.enumeration->Copy(v);
    return true;
  });
}

void DAXOModule::DirectSet(DAXOProperty& property, const DAXOString& values, int selected) {
  Write(property, WriteKind::Enum, false, [&](DAXOPropertyImplementation& p) {
    p.value.value.enumeration->FromString(values, p.definition.locked);
    p.value.value.enumeration->selected = selected;
    return true;
  });
}

// --- reads -------------------------------------------------------------------------------

void DAXOModule::Get(DAXOProperty& property, bool& v) {
  DAXOPropertyImplementation& p = Impl(property);
  ValueGuard guard(*this);
  if (p.value.type != DAXO::PropertyTypeBool) {
    guard.unlock();
    Error(Message("Can't get boolean value from property ", p.name));
  }
  bool copy = p.value.value.boolean;
  if (p.getCallback != nullptr) p.getCallback(p, &copy);
  v = copy;
}

void DAXOModule::Get(DAXOProperty& property, long& v) {
  DAXOPropertyImplementation& p = Impl(property);
  ValueGuard guard(*this);
  long copy = 0;
  if (p.value.type == DAXO::PropertyTypeInteger) {
    copy = p.value.value.integer;
  } else if (IsEnum(p)) {
    copy = p.value.value.enumeration->selected;
  } else {
    guard.unlock();
    Error(Message("Can't get integer value from property ", p.name));
  }
  if (p.getCallback != nullptr) p.getCallback(p, &copy);
  v = copy;
}

void DAXOModule::Get(DAXOProperty& property, double& v) {
  DAXOPropertyImplementation& p = Impl(property);
  ValueGuard guard(*this);
  if (p.value.type != DAXO::PropertyTypeFloat) {
    guard.unlock();
    Error(Message("Can't get floating point value from property ", p.name));
  }
  double copy = p.value.value.floating;
  if (p.getCallback != nullptr) p.getCallback(p, &copy);
  v = copy;
}

void DAXOModule::Get(DAXOProperty& property, DAXOString& v) {
  DAXOPropertyImplementation& p = Impl(property);
  ValueGuard guard(*this);
  if (IsEnum(p)) {
    v = p.value.value.enumeration->SelectedValue();
    return;
  }
  if (p.value.type != DAXO::PropertyTypeString) {
    guard.unlock();
    Error(Message("Can't get string value from property ", p.name));
  }
  DAXOString copy;
  if (p.value.value.string != nullptr) copy = *p.value.value.string;
  if (p.getCallback != nullptr) p.getCallback(p, &copy);
  v = copy;
}

void DAXOModule::Get(DAXOProperty& property, DAXOEnumStruct& v) {
  DAXOPropertyImplementation& p = Impl(property);
  ValueGuard guard(*this);
  if (!IsEnum(p)) {
    guard.unlock();
    Error(Message("Can't get enum values from property ", p.name));
  }
  DAXOEnumStruct copy(*p.value.value.enumeration);
  if (p.getCallback != nullptr) p.getCallback(p, &copy);
  v = copy;
}

namespace {

// Reads a property of another module under that module's module and
// property locks, when `accepts` says the kind matches.
template <class T>
bool GetOther(DAXOModule& other, DAXOProperty& property, T& value, bool (*accepts)(int)) {
  DAXOMutexGuard moduleGuard(other.ModuleLock());
  DAXOMutexGuard propertyGuard(other.PropertyLock());
  if (!accepts(property.Type())) return false;
  property.Get(value);
  return true;
}

}  // namespace

bool DAXOModule::Get(DAXOModule& other, DAXOProperty& property, bool& value) {
  return GetOther(other, property, value, [](int t) { return t == DAXO::PropertyTypeBool; });
}
bool DAXOModule::Get(DAXOModule& other, DAXOProperty& property, long& value) {
  return GetOther(other, property, value, [](int t) {
    return t == DAXO::PropertyTypeInteger || t == DAXO::PropertyTypeEnum;
  });
}
bool DAXOModule::Get(DAXOModule& other, DAXOProperty& property, double& value) {
  return GetOther(other, property, value, [](int t) { return t == DAXO::PropertyTypeFloat; });
}
bool DAXOModule::Get(DAXOModule& other, DAXOProperty& property, DAXOString& value) {
  return GetOther(other, property, value, [](int t) {
    return t == DAXO::PropertyTypeString || t == DAXO::PropertyTypeEnum;
  });
}
bool DAXOModule::Get(DAXOModule& other, DAXOProperty& property, DAXOEnumStruct& value) {
  return GetOther(other, property, value, [](int t) { return t == DAXO::PropertyTypeEnum; });
}

// --- finding -------------------------------------------------------------------------------

DAXOProperty* DAXOModule::FindPropertyByName(const char* shortName, bool beforeCursor) {
  const char* wanted = shortName != nullptr ? shortName : "";
  // Special properties are pushed to the front, so the list holds the
  // newest special first, the oldest special (m_lastSpecialProperty), then
  // the module's own. The lifecycle reads its own and the oldest specials
  // ("counter", made with the module) on every cycle, while an element's
  // specials (".subsampling") grow with the elements: those are searched
  // last. Names are unique, so the order of the search changes no answer.
  DAXOBasicListItem* own = m_lastSpecialProperty != nullptr
                               ? m_lastSpecialProperty->Successor()
                               : static_cast<DAXOBasicListItem*>(m_properties.First());
  for (DAXOListIterator it(own); it != nullptr; ++it) {
    if (beforeCursor && it == m_dynamicPropertyCursor) break;
    if (Impl(*m_properties.Value(it)).shortName == wanted) return m_properties.Value(it);
  }
  // The dynamic cursor is never among the special properties.
  for (DAXOBasicListItem* item = m_lastSpecialProperty; item != nullptr;
       item = item->Predecessor()) {
    DAXOProperty* property = m_properties.ValueOf(item);
    if (Impl(*property).shortName == wanted) return property;
  }
  return nullptr;
}

bool DAXOModule::HasProperty(const char* shortName) {
  DAXOMutexGuard guard(m_moduleLock);
  return FindPropertyByName(shortName, true) != nullptr;
}

int DAXOModule::NbProperties() {
  DAXOMutexGuard guard(m_moduleLock);
  return m_properties.Length() - m_nbSpecialProperties;
}

DAXOProperty* DAXOModule::Property(int index) {
  DAXOMutexGuard guard(m_moduleLock);
  if (index >= 0 && index < m_properties.Length() - m_nbSpecialProperties) {
    DAXOListIterator it(m_lastSpecialProperty != nullptr
                            ? m_lastSpecialProperty->Successor()
                            : static_cast<DAXOBasicListItem*>(m_properties.First()));
    for (int i = 0; i < index; ++i) ++it;
    return m_properties.Value(it);
  }
  guard.unlock();
  DAXOStreamedString text("Trying to access unknown property #");
  text << index << " of " << Kind() << " " << (name != nullptr ? name : "");
  DAXOPrivate::KernelError(text, 0);
}

DAXOProperty* DAXOModule::Property(const char* shortName) {
  DAXOMutexGuard guard(m_moduleLock);
  if (DAXOProperty* found = FindPropertyByName(shortName, false)) return found;
  guard.unlock();
  DAXOStreamedString text("Trying to access unknown property ");
  text << (shortName != nullptr ? shortName : "") << " of " << Kind() << " "
       << (name != nullptr ? name : "");
  DAXOPrivate::KernelError(text, 0);
}

DAXOBasicListItem* DAXOModule::FindItem(DAXOProperty* property) {
  return m_properties.Find(property);
}

// --- creating and removing ---------------------------------------------------------------

DAXOProperty* DAXOModule::NewProperty(const DAXOPropertyDefinition& definition,
                                      const char* shortName) {
  return CreateProperty(definition, shortName, false);
}

DAXOProperty* DAXOModule::NewSpecialProperty(const DAXOPropertyDefinition& definition,
                                             const char* shortName) {
  return CreateProperty(definition, shortName, true);
}

DAXOProperty* DAXOModule::CreateProperty(const DAXOPropertyDefinition& definition,
                                         const char* shortName, bool special) {
  DAXOMutexGuard guard(m_moduleLock);
  if ((m_state.load() & DAXO::DyingState) != 0) {
    guard.unlock();
    throw DAXO::ModuleDied;
  }
  if (definition.name == nullptr) Error("Call to NewProperty failed. Bad property definition.");
  // Special properties are the SDK's own, some named after an element
  // ("out.fifosize"): only authors' names are checked.
  if (shortName != nullptr && !special) {
    static const DAXORegExp validName("^[a-zA-Z][a-zA-Z_0-9]*$");
    if (!validName.Test(shortName)) {
      Error(Message("Trying to create a property with an invalid name: ", shortName));
    }
  } else if (shortName == nullptr) {
    shortName = definition.name;
  }
  DAXOStreamedString fullName(name != nullptr ? name : "");
  fullName << "." << shortName;

  bool created = true;
  DAXOProperty* property = nullptr;
  if (special) {
    property = new DAXOPropertyImplementation(fullName, definition.name, this);
    DAXOBasicListItem* item = m_properties.PushFront(property);
    if (m_lastSpecialProperty == nullptr) m_lastSpecialProperty = item;
    ++m_nbSpecialProperties;
  } else {
    property = NewPropertyX(fullName, definition.name, created);
  }
  if (!created) return property;

  DAXOPropertyImplementation& p = Impl(*property);
  p.shortName = shortName;
  p.definition = definition.CopyWithoutValue();
  if (definition.value != nullptr) p.value.Copy(*definition.value);
  if (DAXOPrivate::kernel != nullptr &&
      !DAXOPrivate::kernel->RegisterSymbol(fullName, DAXOSymbolKind::Property, property)) {
    RemovePropertyX(property);
    Error(Message("Can't create property ", fullName, ". The symbol already exists."));
  }
  m_registeredNames.PushBack(fullName);
  return property;
}

DAXOProperty* DAXOModule::NewPropertyX(const DAXOString& fullName, const char* definitionName,
                                       bool& created) {
  DAXOMutexGuard guard(m_moduleLock);
  created = true;
  if (m_dynamicPropertyCursor == nullptr) {
    DAXOProperty* property = new DAXOPropertyImplementation(fullName, definitionName, this);
    m_properties.PushBack(property);
    return property;
  }
  DAXOBasicListItem* found = nullptr;
  for (DAXOListIterator it(m_dynamicPropertyCursor); it != nullptr; ++it) {
    if (Impl(*m_properties.Value(it)).name == fullName) {
      found = it;
      break;
    }
  }
  if (found == nullptr) {
    DAXOProperty* property = new DAXOPropertyImplementation(fullName, definitionName, this);
    m_properties.InsertBefore(m_dynamicPropertyCursor, property);
    return property;
  }
  // Properties skipped by the re-declaration are gone; removing the cursor's
  // property moves the cursor on, until it reaches the one found.
  while (m_dynamicPropertyCursor != found) {
    RemoveProperty(m_properties.ValueOf(m_dynamicPropertyCursor));
  }
  DAXOProperty* old = m_properties.ValueOf(found);
  if (Impl(*old).definition.name == definitionName) {
    m_dynamicPropertyCursor = found->Successor();
    created = false;
    return old;
  }
  DAXOProperty* property = new DAXOPropertyImplementation(fullName, definitionName, this);
  m_properties.InsertBefore(found, property);
  m_dynamicPropertyCursor = found->Successor();
  // The old property's name is given back before the new one registers it.
  RemoveProperty(old);
  return property;
}

void DAXOModule::RemoveProperty(DAXOProperty* property) {
  DAXOMutexGuard guard(m_moduleLock);
  if (property == nullptr || FindItem(property) == nullptr) return;
  const DAXOString fullName(property->Name());
  Unregister(fullName);
  DAXOListIterator it = m_registeredNames.Find(fullName);
  if (it != nullptr) m_registeredNames.Remove(it);
  RemovePropertyX(property);
}

void DAXOModule::RemovePropertyX(DAXOProperty* property) {
  DAXOMutexGuard guard(m_moduleLock);
  DAXOBasicListItem* item = FindItem(property);
  if (item == nullptr) return;
  if (item == m_dynamicPropertyCursor) m_dynamicPropertyCursor = item->Successor();
  if (m_lastSpecialProperty != nullptr) {
    bool special = false;
    for (DAXOListIterator it = m_properties.First(); it != nullptr; ++it) {
      if (it == item) special = true;
      if (it == m_lastSpecialProperty) break;
    }
    if (special) {
      --m_nbSpecialProperties;
      if (item == m_lastSpecialProperty) {
        m_lastSpecialProperty = m_nbSpecialProperties > 0 ? item->Predecessor() : nullptr;
      }
    }
  }
  // Value accesses take the module lock, held here: nobody is reading it.
  delete property;
  m_properties.Remove(item);
}

void DAXOModule::BeginPropertyRedeclaration() {
  DAXOMutexGuard guard(m_moduleLock);
  m_dynamicPropertyCursor = m_lastSpecialProperty != nullptr
                                ? m_lastSpecialProperty->Successor()
                                : static_cast<DAXOBasicListItem*>(m_properties.First());
}

void DAXOModule::EndPropertyRedeclaration() {
  DAXOMutexGuard guard(m_moduleLock);
  while (m_dynamicPropertyCursor != nullptr) {
    RemoveProperty(m_properties.ValueOf(m_dynamicPropertyCursor));
  }
}

// --- engine-wide lookups ------------------------------------------------------------------

DAXOProperty* DAXO::Property(const char* fullName) {
  if (DAXOPrivate::kernel == nullptr || fullName == nullptr) return nullptr;
  return static_cast<DAXOProperty*>(
      DAXOPrivate::kernel->FindSymbol(fullName, DAXOSymbolKind::Property));
}

namespace {

void* PropertyOwner(void* property) {
  return static_cast<DAXOProperty*>(property)->Owner();
}

// Reads the property `fullName` engine-wide into `value`: found and its
// owner pinned in one step (the owner cannot be destroyed until the read is
// over), then read under the owner's lock if it is still the owner's
// property of that name (it may have been removed, or replaced at the same
// address, since). Failures answer through `found` or the kernel error
// path, leaving `value` empty.
template <class Value>
void ReadByName(const char* fullName, bool* found, bool (*accepts)(int), const char* notThatKind,
                Value& value) {
  const char* shown = fullName != nullptr ? fullName : "";
  void* owner = nullptr;
  auto* property =
      DAXOPrivate::kernel != nullptr && fullName != nullptr
          ? static_cast<DAXOProperty*>(DAXOPrivate::kernel->FindPinned(
                fullName, DAXOSymbolKind::Property, &PropertyOwner, &owner))
          : nullptr;
  enum { kRead, kUndefined, kNotThatKind } outcome = kUndefined;
  if (property != nullptr) {
    auto* module = static_cast<DAXOModule*>(owner);
    try {
      DAXOMutexGuard guard(module->ModuleLock());
      if (module->OwnsProperty(property, fullName)) {
        outcome = accepts(property->Type()) ? kRead : kNotThatKind;
        // Not through the virtual: a module that its owner (not the
        // engine) destroys is retired only once its own destructor has
        // begun, and its derived parts may be gone already.
        if (outcome == kRead) module->DAXOModule::Get(*property, value);
      }
    } catch (...) {
      DAXOPrivate::kernel->Unpin(owner);
      throw;
    }
  }
  if (owner != nullptr) DAXOPrivate::kernel->Unpin(owner);
  if (found != nullptr) *found = outcome == kRead;
  if (outcome == kRead || found != nullptr) return;
  if (outcome == kUndefined) {
    DAXOPrivate::KernelError(
        Message("Can't get value of property ", shown, ". The symbol is undefined."), 0);
  }
  DAXOPrivate::KernelError(Message("Can't get string value of property ", shown, notThatKind), 0);
}

}  // namespace

bool DAXOModule::OwnsProperty(DAXOProperty* property, const char* fullName) {
  return FindItem(property) != nullptr && strcmp(property->Name(), fullName) == 0;
}

DAXOString DAXO::GetStringProperty(const char* fullName, bool* found) {
  DAXOString value;
  ReadByName(
      fullName, found,
      [](int t) { return t == DAXO::PropertyTypeString || t == DAXO::PropertyTypeEnum; },
      ". It is not a string or an enum.", value);
  return value;
}

DAXOEnumStruct DAXO::GetEnumsProperty(const char* fullName, bool* found) {
  DAXOEnumStruct value;
  ReadByName(
      fullName, found, [](int t) { return t == DAXO::PropertyTypeEnum; }, ". It is not an enum.",
      value);
  return value;
}
