// The engine's engine functions: building, starting, ending and destroying
// them, and the name space they share with the diagram's components.
#include "core_functions.h"

#include <algorithm>

#include "daxo_core_function.h"
#include "diagram.h"
#include "diagram_lock.h"
#include "package_loader.h"
#include "symbol_registry.h"

namespace velquor {

namespace {

bool Living(const DAXOCoreFunction* function) {
  return (function->State() & DAXO::DeadState) == 0;
}

}  // namespace

CoreFunctions::CoreFunctions(PackageLoader& packages, DiagramLock& lock, SymbolRegistry& symbols,
                             Diagram& diagram, ReportFn report)
    : m_packages(packages),
      m_lock(lock),
      m_symbols(symbols),
      m_diagram(diagram),
      m_report(std::move(report)) {}

CoreFunctions::~CoreFunctions() = default;

void CoreFunctions::Fail(const std::string& text) const {
  if (m_report) m_report(text, 2);
}

bool CoreFunctions::AddModel(DAXOCoreFunctionDefinition& definition) {
  if (definition.name == nullptr || definition.name[0] == '\0' ||
      definition.instantiate == nullptr) {
    Fail(
        "Engine: an engine-function model without a name or an instantiation function cannot "
        "be added.");
    return false;
  }
  if (FindModel(definition.name) != nullptr) {
    Fail(std::string("Engine: engine-function model ") + definition.name + " exists already.");
    return false;
  }
  definition.ResolveCounts();
  MutexLock guard(m_mutex);
  m_models.push_back(&definition);
  return true;
}

DAXOCoreFunctionDefinition* CoreFunctions::FindModel(const std::string& model) const {
  for (const FunctionModelInfo& info : m_packages.FunctionModels()) {
    if (info.name == model) return info.definition;
  }
  MutexLock guard(m_mutex);
  for (DAXOCoreFunctionDefinition* definition : m_models) {
    if (model == definition->name) return definition;
  }
  return nullptr;
}

DAXOCoreFunction* CoreFunctions::Find(const std::string& name) const {
  MutexLock guard(m_mutex);
  for (const Entry& entry : m_entries) {
    if (entry.name == name) return entry.function;
  }
  return nullptr;
}

std::vector<std::string> CoreFunctions::Names() const {
  MutexLock guard(m_mutex);
  std::vector<std::string> names;
  for (const Entry& entry : m_entries) names.push_back(entry.name);
  return names;
}

DAXOCoreFunction* CoreFunctions::Create(const std::string& model, const std::string& name) {
  const std::string what = "Engine: cannot load engine function " + name + " of model " + model;
  if (name.empty()) {
    Fail("Engine: cannot load an engine function without a name.");
    return nullptr;
  }
  DiagramScope scope(m_lock, "load engine function " + name);
  DAXOCoreFunctionDefinition* definition = FindModel(model);
  if (definition == nullptr || definition->instantiate == nullptr) {
    Fail(what + (definition == nullptr ? ": no loaded package offers that model."
                                       : ": the model cannot be instantiated."));
    return nullptr;
  }
  // Every plain (dot-free) name is registered under the diagram lock, which
  // this holds: a name free now is still free at the registration below.
  if (Find(name) != nullptr || m_diagram.Find(name) != nullptr ||
      m_symbols.Find(name, DAXOSymbolKind::Module) != nullptr ||
      m_symbols.Find(name, DAXOSymbolKind::Component) != nullptr) {
    Fail(what + ": the name is taken.");
    return nullptr;
  }
  DAXOCoreFunction* function = nullptr;
  try {
    function = definition->instantiate(name.c_str(), *definition);
  } catch (...) {
    Fail(what + ": " + DescribeException(std::current_exception()) + ".");
    return nullptr;
  }
  if (function == nullptr) {
    Fail(what + ": the model refused.");
    return nullptr;
  }
  // The module unregisters its own name (the first it keeps) when it goes.
  if (!m_symbols.Register(name, DAXOSymbolKind::Module, function)) {
    Fail(what + ": the name is taken.");
    delete function;
    return nullptr;
  }
  MutexLock guard(m_mutex);
  m_entries.push_back(Entry{name, model, function});
  return function;
}

bool CoreFunctions::Start(const std::string& name) {
  DAXOCoreFunction* function = Find(name);
  if (function == nullptr) {
    Fail("Engine: cannot start unknown engine function " + name + ".");
    return false;
  }
  try {
    function->EngineStart();  // virtual: the function's own copy
  } catch (...) {
    Fail("Engine: engine function " + name + " failed to start (" +
         DescribeException(std::current_exception()) + ").");
    return false;
  }
  return true;
}

bool CoreFunctions::Load(const std::string& model, const std::string& name) {
  if (Create(model, name) == nullptr) return false;
  if (Start(name)) return true;
  {
    MutexLock guard(m_mutex);
    std::erase_if(m_entries, [&](const Entry& entry) { return entry.name == name; });
  }
  // Find would not answer it any more; only this call holds it.
  return false;
}

bool CoreFunctions::Unload(const std::string& name) {
  DAXOCoreFunction* function = nullptr;
  {
    MutexLock guard(m_mutex);
    auto it = std::find_if(m_entries.begin(), m_entries.end(),
                           [&](const Entry& entry) { return entry.name == name; });
    if (it == m_entries.end()) {
      guard.unlock();
      Fail("Engine: cannot unload unknown engine function " + name + ".");
      return false;
    }
    const int users = it->function->UseCount();
    if (users > 0) {
      guard.unlock();
      Fail("Engine: engine function " + name + " is in use (" + std::to_string(users) +
           " user(s)); it stays loaded.");
      return false;
    }
    function = it->function;
    m_entries.erase(it);
  }
  Destroy(function);
  return true;
}

void CoreFunctions::Destroy(DAXOCoreFunction* function) {
  if (Living(function)) {
    try {
      function->EngineEnd();  // may wait for the function's threads: no lock held
    } catch (...) {
      Fail("Engine: ending an engine function failed (" +
           DescribeException(std::current_exception()) + ").");
    }
  }
  DiagramScope scope(m_lock, "unload engine function");
  delete function;  // virtual: the model's own destructor
}

bool CoreFunctions::CreateComponent(const std::string& model, const std::string& name) {
  DiagramScope scope(m_lock, "create component " + name);
  if (Find(name) != nullptr) {
    Fail("Engine: cannot create component " + name + " of model " + model +
         ": the name is taken by an engine function.");
    return false;
  }
  return m_diagram.Create(model, name);
}

void CoreFunctions::EndAll() {
  std::vector<DAXOCoreFunction*> functions;
  {
    MutexLock guard(m_mutex);
    for (const Entry& entry : m_entries) functions.push_back(entry.function);
  }
  for (auto it = functions.rbegin(); it != functions.rend(); ++it) {
    if (!Living(*it)) continue;
    try {
      (*it)->EngineEnd();
    } catch (...) {
      Fail("Engine: ending an engine function failed (" +
           DescribeException(std::current_exception()) + ").");
    }
  }
}

void CoreFunctions::DestroyAll() {
  std::vector<Entry> entries;
  {
    MutexLock guard(m_mutex);
    entries.swap(m_entries);
  }
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (const int users = it->function->UseCount(); users > 0) {
      Fail("Engine: engine function " + it->name + " is destroyed with the engine while " +
           std::to_string(users) + " user(s) still hold its interface.");
    }
    Destroy(it->function);
  }
}

}  // namespace velquor
