// The engine's diagram: component creation, lifecycle and main threads.
#include "diagram.h"

#include <algorithm>

#include "daxo_component.h"
#include "daxo_io.h"
#include "daxo_thread.h"
#include "diagram_lock.h"
#include "listener_hub.h"
#include "package_loader.h"
#include "symbol_registry.h"

namespace velquor {

namespace {

// After a component's Shutdown has seen it dead, its main thread only has
// to return from the death sequence.
constexpr std::chrono::seconds kJoinAfterDeath{5};
// How long a component given up by its shutdown may take to settle.
constexpr std::chrono::seconds kSettle{1};

}  // namespace

Diagram::Diagram(PackageLoader& packages, DiagramLock& lock, SymbolRegistry& symbols,
                 ReportFn report, LifeFn life, ListenerHub* listeners)
    : m_packages(packages),
      m_lock(lock),
      m_report(std::move(report)),
      m_life(std::move(life)),
      m_symbols(symbols),
      m_listeners(listeners) {}

void Diagram::SetRunning(bool running) {
  if (m_running == running) return;
  m_running = running;
  if (m_listeners == nullptr) return;
  if (running) {
    m_listeners->PostEngineRunning();
  } else {
    m_listeners->PostEngineShuttingDown();
  }
}

Diagram::~Diagram() {
  // Only lives that never ended are left (DestroyAll reported them): a
  // thread stuck in a component cannot be joined, and must not end the
  // process as a joinable std::thread would.
  for (auto& life : m_lives) {
    if (life->thread.joinable()) life->thread.detach();
  }
}

void Diagram::Fail(const std::string& text) const {
  m_report(text, 2);
}

bool Diagram::AddModel(DAXOComponentDefinition& definition) {
  if (definition.name == nullptr || definition.name[0] == '\0' ||
      definition.instantiate == nullptr) {
    Fail("Engine: a model without a name or without an instantiation function cannot be added.");
    return false;
  }
  if (FindModel(definition.name) != nullptr) {
    Fail(std::string("Engine: model ") + definition.name + " exists already.");
    return false;
  }
  definition.ResolveCounts();
  MutexLock guard(m_mutex);
  m_models.push_back(&definition);
  return true;
}

DAXOComponentDefinition* Diagram::FindModel(const std::string& model) const {
  for (const ModelInfo& info : m_packages.Models()) {
    if (info.name == model) return info.definition;
  }
  MutexLock guard(m_mutex);
  for (DAXOComponentDefinition* definition : m_models) {
    if (model == definition->name) return definition;
  }
  return nullptr;
}

Diagram::Entry* Diagram::FindEntry(const std::string& name) {
  for (Entry& entry : m_entries) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

const Diagram::Entry* Diagram::FindEntry(const std::string& name) const {
  return const_cast<Diagram*>(this)->FindEntry(name);
}

bool Diagram::Create(const std::string& model, const std::string& name) {
  const std::string what = "Engine: cannot create component " + name + " of model " + model;
  if (name.empty()) {
    Fail("Engine: cannot create a component without a name.");
    return false;
  }
  DiagramScope scope(m_lock, "create component " + name);
  DAXOComponentDefinition* definition = FindModel(model);
  if (definition == nullptr) {
    Fail(what + ": no loaded package offers that model.");
    return false;
  }
  if (definition->instantiate == nullptr) {
    Fail(what + ": the model cannot be instantiated.");
    return false;
  }
  bool taken = false;
  {
    MutexLock guard(m_mutex);
    taken = FindEntry(name) != nullptr;
  }
  // Taken by a component, or by anything else the engine knows under that
  // name (an engine function, an engine object): checked before the
  // component exists, because a component given up after it was built
  // unregisters its name on its way out, whoever holds it.
  if (taken || m_symbols.Contains(name)) {
    Fail(what + ": the name is taken.");
    return false;
  }
  DAXOComponent* component = nullptr;
  try {
    component = definition->instantiate(name.c_str(), *definition);
  } catch (...) {
    Fail(what + ": " + DescribeException(std::current_exception()) + ".");
    return false;
  }
  if (component == nullptr) {
    Fail(what + ": the model refused (instance limit reached?).");
    return false;
  }
  // The module unregisters its own name (the first it keeps) when it goes.
  if (!m_symbols.Register(name, DAXOSymbolKind::Component, component)) {
    Fail(what + ": the name is taken.");
    delete component;
    return false;
  }
  {
    MutexLock guard(m_mutex);
    m_entries.push_back(Entry{name, model, component, static_cast<int>(component->State())});
  }
  // Its dynamic elements follow its property values from the start.
  Notify(component);
  return true;
}

void Diagram::Notify(DAXOModule* module) const {
  if (module == nullptr) return;
  try {
    module->ElementsChanged();  // virtual: the module's own copy
  } catch (...) {
    // The component reported its failure itself (error state).
  }
}

DAXOComponent* Diagram::Find(const std::string& name) const {
  MutexLock guard(m_mutex);
  const Entry* entry = FindEntry(name);
  return entry != nullptr ? entry->component : nullptr;
}

std::vector<std::string> Diagram::Names() const {
  MutexLock guard(m_mutex);
  std::vector<std::string> names;
  names.reserve(m_entries.size());
  for (const Entry& entry : m_entries) names.push_back(entry.name);
  return names;
}

bool Diagram::Connect(const std::string& output, const std::string& input) {
  return ConnectAll({{output, input}});
}

bool Diagram::ConnectAll(const std::vector<std::pair<std::string, std::string>>& links) {
  DiagramScope scope(m_lock, links.size() == 1
                                 ? "connect " + links[0].first + " to " + links[0].second
                                 : "connect " + std::to_string(links.size()) + " links");
  // Each module whose connections changed hears of it once, after the last
  // link, in the order it was first touched: a component that re-declares
  // its elements on every change (n inputs each time) would otherwise cost
  // n declarations per link.
  std::vector<DAXOModule*> touched;
  auto touch = [&touched](DAXOModule* module) {
    if (module != nullptr && std::find(touched.begin(), touched.end(), module) == touched.end()) {
      touched.push_back(module);
    }
  };
  bool ok = true;
  for (const auto& [output, input] : links) {
    auto* out = static_cast<DAXOOutput*>(m_symbols.Find(output, DAXOSymbolKind::Output));
    auto* in = static_cast<DAXOInput*>(m_symbols.Find(input, DAXOSymbolKind::Input));
    const std::string what = "Engine: cannot connect " + output + " to " + input;
    if (out == nullptr || in == nullptr) {
      Fail(what + (out == nullptr ? ": no output of that name." : ": no input of that name."));
      ok = false;
      break;
    }
    try {
      if (!in->EngineConnect(*out)) {  // virtual: the input's own copy
        Fail(what + ": the input refused the output (type or reader limit).");
        ok = false;
        break;
      }
    } catch (...) {
      Fail(what + ": " + DescribeException(std::current_exception()) + ".");
      ok = false;
      break;
    }
    // Both ends may derive their elements from their connections.
    touch(in->Owner());
    touch(out->Owner());
  }
  for (DAXOModule* module : touched) Notify(module);
  return ok;
}

bool Diagram::Disconnect(const std::string& input) {
  DiagramScope scope(m_lock, "disconnect " + input);
  auto* in = static_cast<DAXOInput*>(m_symbols.Find(input, DAXOSymbolKind::Input));
  if (in == nullptr) {
    Fail("Engine: cannot disconnect " + input + ": no input of that name.");
    return false;
  }
  try {
    DAXOOutput* out = in->ConnectedOutput();
    DAXOModule* writer = out != nullptr ? out->Owner() : nullptr;
    in->EngineDisconnect();
    Notify(in->Owner());
    if (writer != in->Owner()) Notify(writer);
  } catch (...) {
    Fail("Engine: disconnecting " + input + " failed (" +
         DescribeException(std::current_exception()) + ").");
    return false;
  }
  return true;
}

bool Diagram::Rename(const std::string& oldName, const std::string& newName) {
  DiagramScope scope(m_lock, "rename component " + oldName);
  const std::string what = "Engine: cannot rename component " + oldName + " to " + newName;
  DAXOComponent* component = Find(oldName);
  if (component == nullptr) {
    Fail(what + ": no such component.");
    return false;
  }
  if (newName.empty() || Find(newName) != nullptr || !m_symbols.RenamePrefix(oldName, newName)) {
    Fail(what + ": the name is taken.");
    return false;
  }
  component->Rename(oldName.c_str(), newName.c_str());  // virtual: its own copy
  MutexLock guard(m_mutex);
  if (Entry* entry = FindEntry(oldName)) entry->name = newName;
  return true;
}

bool Diagram::Start(const std::string& name) {
  DAXOComponent* component = Find(name);
  if (component == nullptr) {
    Fail("Engine: cannot start unknown component " + name + ".");
    return false;
  }
  // The lives of an earlier run are joined now rather than piling up over
  // restarts. A component that told its death may not have stored it yet
  // (it tells first), and would take the start for one of a living
  // component: its main thread's end settles it.
  bool toldDead = false;
  {
    MutexLock guard(m_mutex);
    const Entry* entry = FindEntry(name);
    toldDead = entry != nullptr && ((entry->state | component->State()) & DAXO::DeadState) != 0;
  }
  JoinThreads(component,
              toldDead ? std::chrono::milliseconds(kSettle) : std::chrono::milliseconds(0));
  try {
    component->EngineStart();
  } catch (...) {
    // The component reported the reason itself (error state, report).
    Fail("Engine: component " + name + " failed to start (" +
         DescribeException(std::current_exception()) + ").");
    return false;
  }
  return true;
}

bool Diagram::AutoStart(const std::string& name, DAXOComponent* component) const {
  auto* property =
      static_cast<DAXOProperty*>(m_symbols.Find(name + ".autoStart", DAXOSymbolKind::Property));
  bool value = true;
  if (property == nullptr) return value;
  try {
    component->Get(*property, value);  // virtual: the component's own read
  } catch (...) {
    // Unreadable: the property's default.
  }
  return value;
}

long Diagram::Priority(const std::string& name, DAXOComponent* component) const {
  auto* property =
      static_cast<DAXOProperty*>(m_symbols.Find(name + ".priority", DAXOSymbolKind::Property));
  long value = 128;
  if (property == nullptr) return value;
  try {
    component->Get(*property, value);  // virtual: the component's own read
  } catch (...) {
    // Unreadable: the default priority.
  }
  return value;
}

bool Diagram::StartAll() {
  std::vector<std::pair<std::string, DAXOComponent*>> entries;
  {
    MutexLock guard(m_mutex);
    SetRunning(true);
    for (const Entry& entry : m_entries) entries.emplace_back(entry.name, entry.component);
  }
  bool all = true;
  for (const auto& [name, component] : entries) {
    if (AutoStart(name, component)) all = Start(name) && all;
  }
  return all;
}

bool Diagram::Shutdown(const std::string& name) {
  DAXOComponent* component = Find(name);
  if (component == nullptr) {
    Fail("Engine: cannot shut down unknown component " + name + ".");
    return false;
  }
  if ((component->State() & DAXO::DeadState) != 0) {
    return JoinThreads(component, kJoinAfterDeath);
  }
  try {
    component->EngineShutdown();
  } catch (...) {
    Fail("Engine: shutting down component " + name + " failed (" +
         DescribeException(std::current_exception()) + ").");
  }
  const bool dead = (component->State() & DAXO::DeadState) != 0;
  {
    MutexLock guard(m_mutex);
    if (Entry* entry = FindEntry(name)) entry->givenUp = !dead;
  }
  return dead && JoinThreads(component, kJoinAfterDeath);
}

bool Diagram::GivenUp(const std::string& name) const {
  MutexLock guard(m_mutex);
  const Entry* entry = FindEntry(name);
  return entry != nullptr && entry->givenUp;
}

void Diagram::ShutdownAll() {
  std::vector<std::pair<std::string, DAXOComponent*>> living;
  {
    MutexLock guard(m_mutex);
    SetRunning(false);
    for (const Entry& entry : m_entries) {
      if ((entry.component->State() & DAXO::DeadState) == 0) {
        living.emplace_back(entry.name, entry.component);
      }
    }
  }
  // Every component hears the request before any is waited for: a reader
  // blocked on a writer that is shutting down wakes with its own death.
  for (auto& [name, component] : living) component->EngineDie();
  for (auto it = living.rbegin(); it != living.rend(); ++it) Shutdown(it->first);
}

bool Diagram::Destroy(const std::string& name) {
  DiagramScope scope(m_lock, "destroy component " + name);
  DAXOComponent* component = Find(name);
  if (component == nullptr) {
    Fail("Engine: cannot destroy unknown component " + name + ".");
    return false;
  }
  // A component whose Shutdown gave up waiting is not asked again: that
  // would only wait as long again. It may have ended since: its dead state
  // is stored just after its notice, and its thread ends right after that,
  // so the thread's end settles it.
  bool joined = true;
  if ((component->State() & DAXO::DeadState) == 0) {
    if (GivenUp(name)) {
      joined = JoinThreads(component, kSettle);
    } else {
      Shutdown(name);
    }
  }
  if (!joined || (component->State() & DAXO::DeadState) == 0 ||
      !JoinThreads(component, kJoinAfterDeath)) {
    Fail("Engine: component " + name + " is still running; it is not destroyed.");
    return false;
  }
  {
    MutexLock guard(m_mutex);
    std::erase_if(m_entries, [&](const Entry& entry) { return entry.component == component; });
  }
  // No reader of its properties by name may still be inside it when the
  // model's own destructor begins (the module's teardown retires it again,
  // too late for the derived parts).
  m_symbols.Retire(static_cast<DAXOModule*>(component));
  delete component;  // virtual: the model's own destructor
  return true;
}

bool Diagram::DestroyAll() {
  ShutdownAll();
  bool all = true;
  for (const std::string& name : [this] {
         std::vector<std::string> names = Names();
         std::reverse(names.begin(), names.end());
         return names;
       }()) {
    all = Destroy(name) && all;
  }
  if (!JoinThreads(nullptr, kJoinAfterDeath)) {
    Fail("Engine: some component threads are still running; their packages stay loaded.");
    return false;
  }
  return all;
}

bool Diagram::StartThread(DAXOComponent* component) {
  if (component == nullptr) return false;
  const std::string name = component->name != nullptr ? component->name : "";
  const long priority = Priority(name, component);
  return Launch(component, [this, component, name, priority] {
    // The thread carries the component's name (top, perf and debuggers show
    // it) and its "priority": under time-sharing a lower one gives way to
    // the other components when the cores are busy.
    DAXO::SetCurrentThreadName(name.c_str());
    DAXO::SetCurrentThreadPriority(static_cast<int>(priority));
    m_life(component);
  });
}

bool Diagram::StartExtraThread(void (*entry)(void*), void* record, const void* owner) {
  if (entry == nullptr || owner == nullptr) return false;
  return Launch(owner, [entry, record] { entry(record); });
}

bool Diagram::Launch(const void* owner, std::function<void()> body) {
  auto life = std::make_unique<Life>();
  life->owner = owner;
  Life* raw = life.get();
  MutexLock guard(m_mutex);
  try {
    // Started under the mutex so that the thread's own end (which takes
    // it) cannot come before the record exists.
    raw->thread = std::thread([this, raw, body = std::move(body)] {
      body();
      {
        MutexLock done(m_mutex);
        raw->finished = true;
      }
      m_changed.notify_all();
    });
  } catch (const std::system_error&) {
    return false;
  }
  m_lives.push_back(std::move(life));
  return true;
}

bool Diagram::JoinThreads(const void* owner, std::chrono::milliseconds wait) {
  auto mine = [owner](const std::unique_ptr<Life>& life) {
    return owner == nullptr || life->owner == owner;
  };
  std::vector<std::unique_ptr<Life>> done;
  bool allFinished = false;
  {
    MutexLock guard(m_mutex);
    allFinished = m_changed.wait_for(guard.Native(), wait, [&]() DAXO_REQUIRES(m_mutex) {
      return std::none_of(m_lives.begin(), m_lives.end(),
                          [&](const auto& life) { return mine(life) && !life->finished; });
    });
    for (auto it = m_lives.begin(); it != m_lives.end();) {
      if (mine(*it) && (*it)->finished) {
        done.push_back(std::move(*it));
        it = m_lives.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& life : done) life->thread.join();
  return allFinished;
}

void Diagram::StateChanged(const std::string& module, int state) {
  {
    MutexLock guard(m_mutex);
    Entry* entry = FindEntry(module);
    if (entry == nullptr) return;
    entry->state = state;
  }
  m_changed.notify_all();
}

bool Diagram::AllDead() const {
  // The component's own state word, not the last notice: notices come from
  // several threads (a starter's notice loaded before the component's whole
  // life ran may arrive after its death notice), so the last one can be
  // stale. Every store of the dead state is followed by a wake-up: the main
  // thread's end, or the notice the sequential or shutdown path sends after
  // it. An entry's component lives until the entry is erased, under m_mutex.
  return std::all_of(m_entries.begin(), m_entries.end(), [](const Entry& entry) {
    return (entry.component->State() & DAXO::DeadState) != 0;
  });
}

RunEnd Diagram::Run(DAXODelay limit) {
  MutexLock guard(m_mutex);
  auto done = [this]() DAXO_REQUIRES(m_mutex) { return m_shutdownRequested || AllDead(); };
  if (limit < 0) {
    m_changed.wait(guard.Native(), done);
  } else if (!m_changed.wait_for(guard.Native(), std::chrono::microseconds(limit), done)) {
    return RunEnd::TimeLimit;
  }
  if (m_shutdownRequested) {
    m_shutdownRequested = false;
    return RunEnd::ShutdownRequested;
  }
  // Every component told its death; each stores it just after telling, and
  // its main thread ends right after that: once the threads have ended the
  // components are dead for whoever looks at them next.
  std::vector<DAXOComponent*> components;
  for (const Entry& entry : m_entries) components.push_back(entry.component);
  guard.unlock();
  for (DAXOComponent* component : components) JoinThreads(component, kSettle);
  return RunEnd::AllDead;
}

void Diagram::RequestShutdown() {
  {
    MutexLock guard(m_mutex);
    m_shutdownRequested = true;
    SetRunning(false);
  }
  m_changed.notify_all();
}

}  // namespace velquor
