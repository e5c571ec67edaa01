// Scripts run by the engine: on the caller's thread or on the script thread.
#include "script_service.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "daxo_component.h"
#include "velquor/engine.h"
#include "velquor/script.h"

namespace velquor {

namespace {

thread_local DAXOComponent* t_caller = nullptr;

// How much of a script's first line a message quotes.
constexpr std::size_t kNameMax = 60;

std::vector<std::string> EnvironmentFolders() {
  std::vector<std::string> folders;
  const char* path = std::getenv("VELQUOR_PACKAGE_PATH");
  if (path == nullptr) return folders;
  std::stringstream list(path);
  std::string folder;
  while (std::getline(list, folder, ':')) {
    if (!folder.empty()) folders.push_back(folder);
  }
  return folders;
}

}  // namespace

ScriptCaller::ScriptCaller(DAXOComponent* component) : m_previous(t_caller) {
  t_caller = component;
}

ScriptCaller::~ScriptCaller() {
  t_caller = m_previous;
}

DAXOComponent* ScriptCaller::Current() {
  return t_caller;
}

ScriptService::ScriptService(Engine& engine, ReportFn report)
    : m_engine(engine), m_report(std::move(report)) {
  MutexLock guard(m_mutex);
  m_packageFolders = EnvironmentFolders();
}

ScriptService::~ScriptService() {
  Stop();
}

void ScriptService::SetPackageFolders(std::vector<std::string> folders) {
  MutexLock guard(m_mutex);
  m_packageFolders = std::move(folders);
}

bool ScriptService::Stopping() const {
  MutexLock guard(m_mutex);
  return m_stopping;
}

std::string ScriptService::Name(const Work& work) {
  if (work.isFile) return "'" + work.text + "'";
  std::string first = work.text.substr(0, work.text.find('\n'));
  if (first.size() > kNameMax) first = first.substr(0, kNameMax) + "...";
  return "'" + first + "'";
}

bool ScriptService::Parse(const std::string& text) {
  return Execute(Work{false, text});
}

bool ScriptService::ParseFile(const std::string& path) {
  return Execute(Work{true, path});
}

bool ScriptService::AsynchParse(const std::string& text) {
  return Queue(Work{false, text});
}

bool ScriptService::AsynchParseFile(const std::string& path) {
  return Queue(Work{true, path});
}

bool ScriptService::Execute(const Work& work) {
  {
    MutexLock guard(m_mutex);
    if (m_stopping) {
      guard.unlock();
      m_report("Engine: script " + Name(work) + " not run: the engine is shutting down", 2);
      return false;
    }
    ++m_running;
  }
  bool ok = false;
  try {
    ok = Run(work);
  } catch (...) {
    m_report("Engine: script " + Name(work) + " failed unexpectedly", 2);
  }
  {
    MutexLock guard(m_mutex);
    --m_running;
  }
  m_changed.notify_all();
  return ok;
}

bool ScriptService::Run(const Work& work) {
  std::string text;
  ScriptContext context;
  if (work.isFile) {
    std::ifstream file(work.text, std::ios::binary);
    if (!file) {
      m_report("Engine: cannot read script '" + work.text + "': " + std::strerror(errno), 2);
      return false;
    }
    std::ostringstream content;
    content << file.rdbuf();
    text = content.str();
    context.fileName = work.text;
    context.baseDir = std::filesystem::path(work.text).parent_path().string();
  } else {
    text = work.text;
  }
  const ParsedScript parsed = ParseDiagramScript(text);
  for (const ScriptDiagnostic& error : parsed.errors) {
    m_report(context.fileName + ":" + std::to_string(error.line) + ": " + error.message, 2);
  }
  if (!parsed.Ok()) return false;

  {
    MutexLock guard(m_mutex);
    context.packageDirs = m_packageFolders;
  }
  context.error = [this](const std::string& message) { m_report(message, 2); };
  context.runStartsOnly = true;
  DAXOComponent* caller = ScriptCaller::Current();
  std::string why;
  context.stopRequested = [this, caller, &why] {
    if (Stopping()) {
      why = "the engine is shutting down";
    } else if (caller != nullptr && caller->AskedToDie()) {  // virtual: its own copy
      why = std::string("component ") + (caller->name != nullptr ? caller->name : "") +
            ", which runs it, is dying";
    }
    return !why.empty();
  };
  const ScriptEnd end = ExecuteDiagramScript(m_engine, parsed.statements, context);
  if (end == ScriptEnd::Interrupted) {
    m_report(context.fileName + ": script stopped before its end: " + why, 1);
  }
  return end == ScriptEnd::Done;
}

bool ScriptService::Queue(Work work) {
  {
    MutexLock guard(m_mutex);
    if (!m_stopping) {
      m_queue.push_back(std::move(work));
      if (!m_worker.joinable()) {
        try {
          m_worker = std::thread([this] { Worker(); });
        } catch (const std::system_error&) {
          m_queue.pop_back();
          guard.unlock();
          m_report("Engine: the script thread cannot be started; script not queued", 2);
          return false;
        }
      }
      guard.unlock();
      m_changed.notify_all();
      return true;
    }
  }
  m_report("Engine: script " + Name(work) + " not queued: the engine is shutting down", 2);
  return false;
}

void ScriptService::Worker() {
  for (;;) {
    Work work;
    {
      MutexLock guard(m_mutex);
      m_workerBusy = false;
      m_changed.notify_all();
      m_changed.wait(guard.Native(),
                     [this]() DAXO_REQUIRES(m_mutex) { return m_stopping || !m_queue.empty(); });
      if (m_stopping) return;  // Stop drops what is left
      work = std::move(m_queue.front());
      m_queue.pop_front();
      m_workerBusy = true;
    }
    Execute(work);
  }
}

void ScriptService::WaitIdle() {
  MutexLock guard(m_mutex);
  m_changed.wait(guard.Native(), [this]() DAXO_REQUIRES(m_mutex) {
    return m_stopping || (m_queue.empty() && !m_workerBusy);
  });
}

void ScriptService::Stop() {
  std::deque<Work> dropped;
  std::thread worker;
  {
    MutexLock guard(m_mutex);
    m_stopping = true;
    dropped.swap(m_queue);
    worker = std::move(m_worker);
  }
  m_changed.notify_all();
  for (const Work& work : dropped) {
    m_report("Engine: queued script " + Name(work) + " dropped: the engine is shutting down", 1);
  }
  if (worker.joinable()) worker.join();
  MutexLock guard(m_mutex);
  m_changed.wait(guard.Native(), [this]() DAXO_REQUIRES(m_mutex) { return m_running == 0; });
}

}  // namespace velquor
